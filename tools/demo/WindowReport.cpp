#include "WindowReport.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTextStream>
#include <QWidget>
#include <QWindow>

WindowReport::WindowReport(QTextStream &out)
    : m_out(out)
{
    qApp->installEventFilter(this);
}

WindowReport::~WindowReport()
{
    qApp->removeEventFilter(this);
}

QString WindowReport::describe(QWindow *window)
{
    // Only top-level windows: a native child (a subsurface on Wayland) has
    // no output or state of its own.
    if (!window || !window->isTopLevel() || !window->isExposed())
        return {};
    QString name;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->windowHandle() == window) {
            name = QString::fromLatin1(w->metaObject()->className());
            if (!w->objectName().isEmpty())
                name += '#' + w->objectName();
            break;
        }
    }
    if (name.isEmpty())
        name = QString::fromLatin1(window->metaObject()->className());
    const Qt::WindowStates states = window->windowStates();
    const char *state = states & Qt::WindowFullScreen ? "full_screen"
        : states & Qt::WindowMaximized                ? "maximized"
        : states & Qt::WindowMinimized                ? "minimized"
                                                      : "normal";
    const QRect g = window->geometry();
    const QScreen *screen = window->screen();
    return QString("%1 screen %2 %3x%4+%5+%6 %7")
        .arg(name, screen ? screen->name() : QString("none"))
        .arg(g.width())
        .arg(g.height())
        .arg(g.x())
        .arg(g.y())
        .arg(QLatin1String(state));
}

bool WindowReport::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Expose:
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::WindowStateChange:
    case QEvent::ScreenChangeInternal:
        if (watched->isWindowType()) {
            QWindow *window = static_cast<QWindow *>(watched);
            if (!m_last.contains(window))
                connect(window, &QObject::destroyed, this, [this, window] { m_last.remove(window); });
            report(window);
        }
        break;
    default:
        break;
    }
    return false;
}

void WindowReport::report(QWindow *window)
{
    const QString line = describe(window);
    QString &last = m_last[window];
    if (line.isEmpty() || line == last)
        return;
    last = line;
    m_out << "window.seen: " << line << "\n";
    m_out.flush();
}
