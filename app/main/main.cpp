#include "app/Corvane.h"
#include "app/SingleApplication.h"
#include "device/LibusbAccess.h"
#include "device/UsbHotplugSource.h"
#include "platform/Clock.h"
#include "platform/linux/LinuxSystemEvents.h"
#include "resources/Resources.h"
#include "settings/BrandProfile.h"
#include "settings/LanguageTable.h"

#include <QDebug>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QSplashScreen>
#include <QThread>

#include <memory>

int main(int argc, char *argv[])
{
    SingleApplication app(argc, argv);
    tl::initResources();
    // The driver lives in the tray: closing a dialog must not end it.
    app.setQuitOnLastWindowClosed(false);
    qDebug() << "QThread::idealThreadCount =" << QThread::idealThreadCount();
    app.setApplicationVersion(QString::fromLatin1(tl::kDriverVersion));

    tl::LinuxSystemEvents systemEvents;
    tl::LibusbAccess usb;
    Corvane::Platform platform{&systemEvents, &usb, {}};   // the platform's own injection
    auto window = std::make_unique<Corvane>(platform, nullptr, Qt::WindowFlags());
    // Module arrival and removal reach the main window through the same source
    // as the other system events.
    tl::UsbHotplugSource hotplug(&usb);
    QObject::connect(&hotplug, &tl::SystemEventSource::deviceInterfaceArrived, &systemEvents,
                     &tl::SystemEventSource::deviceInterfaceArrived);
    QObject::connect(&hotplug, &tl::SystemEventSource::deviceInterfaceRemoved, &systemEvents,
                     &tl::SystemEventSource::deviceInterfaceRemoved);

    app.setWindowIcon(QIcon(":/Corvane/icon"));
    auto splashPicture = std::make_unique<QPixmap>(":/Corvane/splash");
    auto splash = std::make_unique<QSplashScreen>(*splashPicture);
    splash->show();
    splash->showMessage("Loading Resource", Qt::AlignLeft, Qt::white);
    window->setWindowTitle(QString::fromUtf8(tl::kBrand.productDisplayName));

    if (!app.tryLock()) {
        qDebug() << "SingleApplication: another instance runs:" << window->language()->messageText(1);
        QMessageBox::critical(nullptr, QString::fromUtf8(tl::kBrand.productDisplayName),
                              window->language()->messageText(1), QMessageBox::Ok);
        return 1;
    }

    tl::Clock::sleepMs(2000);
    qDebug() << "main() - 1";
    window->hide();
    qDebug() << "main() - 2";
    splash->finish(window.get());
    qDebug() << "main() - 3";

    window->initialStart();
    const int code = app.exec();

    splash.reset();
    splashPicture.reset();
    window.reset();
    return code;
}
