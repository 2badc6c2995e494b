#include "app/Corvane.h"
#include "app/SingleApplication.h"
#include "device/LibusbAccess.h"
#include "device/UsbHotplugSource.h"
#include "platform/Clock.h"
#include "platform/linux/InjectionFactory.h"
#include "platform/linux/LinuxSystemEvents.h"
#include "resources/Resources.h"
#include "settings/BrandProfile.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QDebug>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QSessionManager>
#include <QSplashScreen>
#include <QThread>

#include <X11/ICE/ICElib.h>

#include <csignal>
#include <memory>

namespace {

// Another instance runs: its box, in the language of the user's settings, and
// nothing else. No controller, injector, tray, hot-plug watch or system-event
// source is built, so a signal while the box is open ends this process the
// plain way and nothing of the running instance's settings is touched.
int refuseSecondInstance()
{
    const ConfigFileRW settings;   // reads config.ini, writes nothing
    LanguageTable language;
    language.loadLanguageData(settings.getLanguageId());
    qDebug() << "SingleApplication: another instance runs:" << language.messageText(1);
    QMessageBox::critical(nullptr, QString::fromUtf8(tl::kBrand.productDisplayName), language.messageText(1),
                          QMessageBox::Ok);
    return 1;
}

// The driver starts from the session's autostart entry; a session manager that
// saves the session must not start a second one at the next login.
void neverRestartedBySession(SingleApplication &app)
{
    const auto never = [](QSessionManager &manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
    };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, never, Qt::DirectConnection);
    QObject::connect(&app, &QGuiApplication::saveStateRequest, &app, never, Qt::DirectConnection);
}

// libICE's own I/O error handler, which Qt's X session management leaves in
// place, calls exit() when the session manager's connection drops: the modules
// would stay claimed with their kernel drivers detached, and the close handling
// would not run. A session manager goes away with its session; the driver ends
// as at the session's other ends, through the close handling that SIGTERM
// starts. The handler runs on the GUI thread, inside libICE's message read.
void onSessionManagerLost(IceConn)
{
    static bool seen = false;
    if (seen)
        return;   // libICE calls again at every read of the closed connection
    seen = true;
    qDebug() << "main(): the session manager's connection is lost; the driver ends as at the end of the session";
    std::raise(SIGTERM);
}

} // namespace

int main(int argc, char *argv[])
{
    // Everything the driver draws is raster (widgets, images, the calibration
    // screens): the X11 GL integration would only load a GL driver (under a
    // server without GL acceleration, Mesa's software one, some 50 MB) that
    // nothing uses. Whoever sets the variable keeps their choice.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    SingleApplication app(argc, argv);
    tl::initResources();
    // The driver lives in the tray: closing a dialog must not end it.
    app.setQuitOnLastWindowClosed(false);
    qDebug() << "QThread::idealThreadCount =" << QThread::idealThreadCount();
    app.setApplicationVersion(QString::fromLatin1(tl::kDriverVersion));
    app.setWindowIcon(QIcon(":/Corvane/icon"));
    neverRestartedBySession(app);

    auto splashPicture = std::make_unique<QPixmap>(":/Corvane/splash");
    auto splash = std::make_unique<QSplashScreen>(*splashPicture);
    splash->show();
    splash->showMessage("Loading Resource", Qt::AlignLeft, Qt::white);

    if (!app.tryLock())
        return refuseSecondInstance();

    tl::LinuxSystemEvents systemEvents;   // from here SIGTERM runs the close handling
    IceSetIOErrorHandler(onSessionManagerLost);
    tl::LibusbAccess usb;
    const tl::LinuxInjectionChooser injection{};   // the system's own injection
    Corvane::Platform platform{&systemEvents, &usb, {}, &injection};
    auto window = std::make_unique<Corvane>(platform, nullptr, Qt::WindowFlags());
    // Module arrival and removal reach the main window through the same source
    // as the other system events.
    tl::UsbHotplugSource hotplug(&usb);
    QObject::connect(&hotplug, &tl::SystemEventSource::deviceInterfaceArrived, &systemEvents,
                     &tl::SystemEventSource::deviceInterfaceArrived);
    QObject::connect(&hotplug, &tl::SystemEventSource::deviceInterfaceRemoved, &systemEvents,
                     &tl::SystemEventSource::deviceInterfaceRemoved);

    window->setWindowTitle(QString::fromUtf8(tl::kBrand.productDisplayName));

    tl::Clock::sleepMs(2000);
    qDebug() << "main() - 1";
    window->hide();
    qDebug() << "main() - 2";
    splash->finish(window.get());
    // Closed for good: its picture and window backing would stay resident for
    // the whole session otherwise.
    splash.reset();
    splashPicture.reset();
    qDebug() << "main() - 3";

    window->initialStart();
    const int code = app.exec();

    window.reset();
    return code;
}
