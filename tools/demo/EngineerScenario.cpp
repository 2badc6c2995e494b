#include "Scenarios.h"
#include "WindowReport.h"

#include "app/Corvane.h"
#include "ui/EngineerMode.h"

#include <QStringList>
#include <QWindow>

namespace {

// What the driver logged about placing its window ("placeShownWindow(): ...").
QStringList g_placementLog;
QtMessageHandler g_previousHandler = nullptr;

void keepPlacementLog(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (msg.startsWith("placeShownWindow(): "))
        g_placementLog << msg;
    if (g_previousHandler)
        g_previousHandler(type, ctx, msg);
}

} // namespace

QString runEngineer(const DemoOptions &, Corvane &driver, QTextStream &out)
{
    g_placementLog.clear();
    g_previousHandler = qInstallMessageHandler(keepPlacementLog);
    // Opened as the alignment view's signal opens it: through the main
    // window's slot, for module 0.
    QMetaObject::invokeMethod(&driver, "startEnginnerMode", Qt::DirectConnection, Q_ARG(int, 0));
    EngineerMode *dialog = driver.engineerDialog();
    if (!dialog) {
        qInstallMessageHandler(g_previousHandler);
        return "the engineer dialog did not open";
    }
    const bool shown = spinUntil([dialog] { return dialog->windowHandle() && dialog->windowHandle()->isExposed(); },
                                 20000);
    out << "engineer.window: " << (shown ? WindowReport::describe(dialog->windowHandle()) : QString("not shown"))
        << "\n";
    // Long enough for the window system to list it (and the driver to move
    // it where the window system lets it) and for a screenshot.
    spinUntil([] { return false; }, 20000);
    qInstallMessageHandler(g_previousHandler);
    for (const QString &line : g_placementLog)
        out << "engineer.placement: " << line.mid(int(qstrlen("placeShownWindow(): "))) << "\n";
    if (shown)
        out << "engineer.window_end: " << WindowReport::describe(dialog->windowHandle()) << "\n";
    dialog->clickOk();
    spinUntil([] { return false; }, 500);
    out << "engineer.after_ok: " << (dialog->isVisible() ? "visible" : "hidden") << "\n";
    if (!shown)
        return "the engineer dialog was never shown";
    return dialog->isVisible() ? QString("the engineer dialog stayed open after OK") : QString();
}
