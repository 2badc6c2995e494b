#include "Scenarios.h"
#include "WindowReport.h"

#include "app/Corvane.h"
#include "ui/EngineerMode.h"

#include <QWindow>

QString runEngineer(const DemoOptions &, Corvane &driver, QTextStream &out)
{
    // Opened as the alignment view's signal opens it: through the main
    // window's slot, for module 0.
    QMetaObject::invokeMethod(&driver, "startEnginnerMode", Qt::DirectConnection, Q_ARG(int, 0));
    EngineerMode *dialog = driver.engineerDialog();
    if (!dialog)
        return "the engineer dialog did not open";
    const bool shown = spinUntil([dialog] { return dialog->windowHandle() && dialog->windowHandle()->isExposed(); },
                                 20000);
    out << "engineer.window: " << (shown ? WindowReport::describe(dialog->windowHandle()) : QString("not shown"))
        << "\n";
    // Long enough for the window system to list it and for a screenshot.
    spinUntil([] { return false; }, 20000);
    dialog->clickOk();
    spinUntil([] { return false; }, 500);
    out << "engineer.after_ok: " << (dialog->isVisible() ? "visible" : "hidden") << "\n";
    if (!shown)
        return "the engineer dialog was never shown";
    return dialog->isVisible() ? QString("the engineer dialog stayed open after OK") : QString();
}
