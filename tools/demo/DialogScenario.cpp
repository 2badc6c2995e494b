#include "Scenarios.h"

#include "app/Corvane.h"
#include "app/CorvaneTray.h"
#include "ui/WizardDlg.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

namespace {

// The driver's visible dialogs by name (the hidden main window never counts),
// with the wizard's mode.
QString visibleDialogs(Corvane &driver)
{
    QStringList names;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w == &driver || !w->isVisible() || !qobject_cast<QDialog *>(w))
            continue;
        QString name = w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
        if (auto *wizard = qobject_cast<WizardDlg *>(w))
            name += wizard->setupMode() ? " (setup)" : " (normal)";
        names << name;
    }
    names.sort();
    return names.isEmpty() ? QString("none") : names.join(", ");
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

QString runDialogs(const DemoOptions &opt, Corvane &driver, QTextStream &out)
{
    settle();
    const QString atStart = visibleDialogs(driver);
    out << "dialog.start: " << atStart << "\n";
    const bool connected = opt.modules == 1 || opt.modules == 2;
    const bool setup = connected && !opt.calibrated;
    if (atStart != (setup ? "WizardDlg (setup)" : "none"))
        return "unexpected dialogs at start: " + atStart;

    WizardDlg *wizard = driver.wizard();
    if (setup) {
        // The user goes through the three pages and finishes.
        for (int i = 0; i < 3; ++i)
            wizard->pushNext->click();
        settle();
        const QString finished = visibleDialogs(driver);
        out << "dialog.after_finish: " << finished << "\n";
        if (finished != "none")
            return "the wizard stayed open after Finish";
    }

    QAction *configuration = driver.tray()->action(CorvaneTray::ActConfiguration);
    out << "tray.configuration.enabled: " << (configuration->isEnabled() ? "true" : "false") << "\n";
    if (!configuration->isEnabled())
        return {};
    configuration->trigger();
    settle();
    const QString fromTray = visibleDialogs(driver);
    out << "dialog.tray_configuration: " << fromTray << "\n";
    if (fromTray != "WizardDlg (normal)")
        return "Configuration did not open the wizard in normal mode";
    wizard->pushCancel->click();
    settle();

    // The about box runs modally: look at it from inside its own run, then OK.
    QString modal;
    QTimer::singleShot(0, [&modal, &driver] {
        QWidget *w = QApplication::activeModalWidget();
        modal = w ? visibleDialogs(driver) : QString("none");
        if (w) {
            if (auto *ok = w->findChild<QPushButton *>("pushOk"))
                ok->click();
            else
                w->close();
        }
    });
    driver.tray()->action(CorvaneTray::ActAbout)->trigger();
    out << "dialog.tray_about: " << modal << "\n";
    settle();
    const QString after = visibleDialogs(driver);
    out << "dialog.after_about: " << after << "\n";
    if (modal != "AboutDlg")
        return "About did not open the about box";
    if (after != "none")
        return "dialogs left open: " + after;
    return {};
}
