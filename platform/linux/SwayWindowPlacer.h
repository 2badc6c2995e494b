#pragma once

#include "platform/linux/OutputPinners.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>

class QWindow;

namespace tl {

// sway places a client's new floating window itself, centred on the focused
// output, whatever position or screen the client asked for. The driver moves
// its own window through the IPC socket instead: it finds the window in
// get_tree by process id and title (a title alone could be another program's),
// sends `[con_id=N] move absolute position X Y` in layout coordinates (Qt's
// desktop coordinates under sway; sway puts a floating window on the output
// under its new position), and reads the tree again: a window is reported
// placed only where sway's own tree shows it there.
class SwayWindowPlacer
{
public:
    // Empty path: $SWAYSOCK.
    explicit SwayWindowPlacer(QString socketPath = QString());

    enum class Outcome {
        Placed,     // the window's content is at the wanted position, on `output`
        NotListed,  // sway lists no such window (yet: a window appears once mapped)
        Failed,     // no sway, a refusal, a tiled window, or sway kept it elsewhere
    };
    struct Result
    {
        Outcome outcome = Outcome::Failed;
        QString output;  // where the window is, when sway lists it
        QRect rect;      // its content, in layout coordinates
        QString error;   // why not, for the log
    };

    // Moves the floating window of process `pid` titled `title` so that its
    // content's top-left corner is at `topLeft` (sway's decorations around it).
    Result place(qint64 pid, const QString &title, const QPoint &topLeft);

    // One window of a get_tree reply.
    struct TreeWindow
    {
        qint64 conId = -1;
        QString output;
        QRect outer;    // the container, decorations included
        QRect content;  // the client's surface, in layout coordinates
        bool floating = false;
    };
    // The window of process `pid` titled `title` in a get_tree reply; false
    // when there is none (or the reply is not a tree).
    static bool findWindow(const QByteArray &tree, qint64 pid, const QString &title, TreeWindow *out);
    // The command that puts the container of `window` where its content's
    // top-left corner is at `topLeft`.
    static QByteArray moveCommand(const TreeWindow &window, const QPoint &topLeft);

private:
    bool readWindow(qint64 pid, const QString &title, TreeWindow *out, QString *error);

    SwayOutputPinner m_ipc;
};

// Puts a shown window's content at `wanted` (desktop coordinates) where the
// window system ignores the position a client gives its window and offers
// another way (native Wayland under sway: the placer above, tried again every
// 200 ms for up to 10 s while sway has not mapped the window yet). Elsewhere,
// or when sway refuses, the window stays where the window system put it. The
// log says which. `what` names the window in the log; `socketPath` empty:
// $SWAYSOCK.
void placeShownWindow(QWindow *window, const QString &what, const QRect &wanted,
                      const QString &socketPath = QString());

} // namespace tl
