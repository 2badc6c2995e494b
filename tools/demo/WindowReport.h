#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QTextStream;
class QWindow;

// In a window session, what the window system did with each top-level window the driver
// shows: a line "window.seen: <class>[#<name>] screen <output> WxH+X+Y <state>"
// whenever that changes while the window is exposed. On native Wayland the
// output is the one the compositor says the surface entered and the size and
// state are those of its configure event, so the line is the compositor's own
// answer, not the request (the position is the client's and means nothing there).
class WindowReport : public QObject
{
public:
    explicit WindowReport(QTextStream &out);
    ~WindowReport() override;

    // The line for `window` as it stands (empty while it is not exposed).
    static QString describe(QWindow *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void report(QWindow *window);

    QTextStream &m_out;
    QHash<QWindow *, QString> m_last;
};
