// tesselink-demo: the whole driver (main window, controller, device layer) on
// emulated modules, headless or in a window. It prints "name: value" lines and
// a last line "result: ok" or "result: fail <reason>".
#include "DemoOptions.h"
#include "Scenarios.h"
#include "WindowReport.h"

#include "app/Corvane.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "input/InputInjection.h"
#include "platform/fake/FakeSystemEvents.h"
#include "platform/fake/RecordingBackend.h"
#include "platform/fake/RecordingCompanionLink.h"
#include "platform/linux/InjectionFactory.h"
#include "resources/Resources.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/ImageSource.h"
#include "sim/ModuleVariant.h"
#include "tests/support/OneTimeAllocations.h"

#include <QApplication>
#include <QGuiApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {
bool g_verbose = false;
constexpr tl::WindowHandle kCompanionWindow = 0x4242;

void demoLog(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (g_verbose || type >= QtCriticalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}
// In a window session the emulated modules photograph real outputs. Module k
// of two watches the k-th monitor from the left; a single module watches the
// --camera-monitor, else the board's monitor (--monitor, else the Monitor
// setting's default, 0). The pattern and calibrate scenarios then work at the
// size of the watched monitor.
bool watchOutputs(DemoOptions &opt, QTextStream &out, QString &error)
{
    QList<tl::MonitorInfo> list = tl::ScreenSource::monitors();
    std::stable_sort(list.begin(), list.end(), [](const tl::MonitorInfo &a, const tl::MonitorInfo &b) {
        return a.geometry.left() < b.geometry.left();
    });
    out << "window.platform: " << QGuiApplication::platformName() << "\n";
    for (int i = 0; i < list.size(); ++i)
        out << "window.monitor" << i << ": " << list[i].name << " " << list[i].geometry.width() << "x"
            << list[i].geometry.height() << "+" << list[i].geometry.x() << "+" << list[i].geometry.y() << "\n";
    if (opt.monitor >= list.size() || opt.cameraMonitor >= list.size()) {
        error = QString("the window system shows %1 monitor(s)").arg(list.size());
        return false;
    }
    // A rootless Xwayland (GNOME's and KDE's) draws no root window: its
    // outputs are read as black, and calibration would fail for a reason no
    // real module has. Such a session needs --camera-window.
    const bool xwayland = std::any_of(list.begin(), list.end(), [](const tl::MonitorInfo &m) {
        return m.name.startsWith(QLatin1String("XWAYLAND"));
    });
    if (xwayland && !opt.cameraWindow && QGuiApplication::platformName() == QLatin1String("xcb")) {
        error = "Xwayland's root window holds no pixels: the camera cannot photograph the outputs (--camera-window "
                "photographs the windows' own painting)";
        return false;
    }
    const int count = std::min(std::max(opt.modules, 0), 2);
    const tl::sim::OutputGrab::Method method = tl::sim::OutputGrab::methodFor(QGuiApplication::platformName());
    for (int k = 0; k < count; ++k) {
        int watched = k;
        if (count == 1)
            watched = opt.cameraMonitor >= 0 ? opt.cameraMonitor : std::max(opt.monitor, 0);
        if (watched >= list.size())
            break;
        const tl::MonitorInfo &m = list[watched];
        if (!opt.cameraWindow)
            setWatchedOutput(k, std::make_shared<tl::sim::OutputGrab>(m.name, m.nativeGeometry(), method));
        out << "module" << k << ".camera_watches: " << watched << " " << m.name
            << (opt.cameraWindow ? " (the window's own painting)" : "") << "\n";
        if (k == 0) {
            opt.displayWidth = m.geometry.width();
            opt.displayHeight = m.geometry.height();
            out << "window.display: " << opt.displayWidth << "x" << opt.displayHeight
                << " (the watched monitor's; --display-size sizes headless runs)\n";
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QTextStream out(stdout);
    // The demo's own options are taken out before the toolkit sees the command
    // line: Qt's X11 plugin reads "-display"/"--display" as the X display to
    // connect to, and "--display 1920x1080" (the old spelling of
    // --display-size) is ours. Only what the demo does not know goes on to Qt,
    // and what Qt does not take either is an error.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    DemoOptions opt;
    QString error;
    QStringList forToolkit;
    if (!DemoOptions::parse(args, opt, error, &forToolkit)) {
        out << DemoOptions::usage() << "result: fail " << error << "\n";
        return 2;
    }
    static std::vector<QByteArray> toolkitArgs;
    static std::vector<char *> toolkitArgv;
    toolkitArgs.push_back(QByteArray(argc > 0 ? argv[0] : "tesselink-demo"));
    for (const QString &a : forToolkit)
        toolkitArgs.push_back(a.toLocal8Bit());
    for (QByteArray &a : toolkitArgs)
        toolkitArgv.push_back(a.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = static_cast<int>(toolkitArgs.size());

    if (!opt.window)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Raster only, as the driver runs: no GL driver loaded under X11.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // The demo keeps its settings apart from a real installation's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());

    const auto started = tl::test::startApplication<QApplication>(toolkitArgc, toolkitArgv.data());
    QApplication &app = *started;
    app.setQuitOnLastWindowClosed(false);
    tl::initResources();

    const QStringList unknown = app.arguments().mid(1);
    if (!unknown.isEmpty()) {
        out << DemoOptions::usage() << "result: fail unknown argument " << unknown.first() << "\n";
        return 2;
    }
    if (opt.scenario != "connect" && opt.scenario != "transfer" && opt.scenario != "track"
        && opt.scenario != "align"
        && opt.scenario != "pattern" && opt.scenario != "calibrate") {
        out << DemoOptions::usage() << "result: fail unknown scenario " << opt.scenario << "\n";
        return 2;
    }
    g_verbose = opt.verbose;
    qInstallMessageHandler(demoLog);
    tl::Clock::setCompression(opt.speed);

    // An emulated desktop: one 1920 x 1080 display per module, side by side.
    QList<tl::MonitorInfo> monitors;
    const bool pattern = opt.scenario == "pattern";
    const bool sized = pattern || opt.scenario == "calibrate";
    const int monitorW = sized ? opt.displayWidth : 1920, monitorH = sized ? opt.displayHeight : 1080;
    for (int i = 0; i < std::max(1, std::min(opt.modules, 2)); ++i)
        monitors.append({QRect(monitorW * i, 0, monitorW, monitorH), 96.0});
    if (!opt.window)
        tl::FixedScreens::install(monitors);
    if (opt.window && !watchOutputs(opt, out, error)) {
        out << "result: fail " << error << "\n";
        return 2;
    }
    std::unique_ptr<WindowReport> windowReport;
    if (opt.window)
        windowReport = std::make_unique<WindowReport>(out);

    tl::sim::EmulatedBus bus;
    // The modules are built with the lens the run names (codes 1 to 3: hung
    // turned) and watch the pen the run names.
    std::vector<tl::sim::ModuleVariant> variants = tl::sim::moduleSeries(opt.modules, opt.calibrated);
    for (tl::sim::ModuleVariant &v : variants) {
        v.lens = static_cast<uint8_t>(opt.lens);
        v.penType = opt.pen;
    }
    bus.plugAll(variants);
    tl::FakeSystemEvents events;

    out << "scenario: " << opt.scenario << "\n";
    out << "time.compression: " << opt.speed << "\n";
    QString failure;
    {
        // Headless runs inject into a recording backend; in a window, into the desktop.
        // A companion drawing application's window is on screen: it chooses raw
        // or smoothed positions when it registers.
        tl::RecordingBackend *recorder = nullptr;
        tl::RecordingCompanionLink companion;
        companion.addWindow(kCompanionWindow);
        const tl::LinuxInjectionChooser desktopInjection{};
        Corvane::Platform platform{&events, &bus, {}, &desktopInjection};
        // The calibrate scenario judges the injected positions: it records
        // them in a window session too.
        if (!opt.window || opt.scenario == "calibrate") {
            platform.makeInjection = [&recorder, &companion] {
                auto backend = std::make_unique<tl::RecordingBackend>(tl::InjectionBackend::Kind::Touch);
                recorder = backend.get();
                return std::make_unique<tl::input::InputInjection>(std::move(backend), &companion);
            };
        }
        Corvane driver(platform);
        if (opt.monitor >= 0)
            driver.settings()->setMonitor(opt.monitor);
        driver.initialStart();
        app.processEvents();
        failure = runConnect(opt, driver, bus, out);
        if (failure.isEmpty() && pattern)
            failure = runPattern(opt, driver, bus, out);
        if (failure.isEmpty() && opt.scenario == "calibrate")
            failure = runCalibrate(opt, driver, bus, recorder, out);
        if (failure.isEmpty() && opt.scenario == "transfer")
            failure = runTransfer(opt, driver, bus, out);
        if (failure.isEmpty() && opt.dialogs)
            failure = runDialogs(opt, driver, out);
        if (failure.isEmpty() && opt.engineer)
            failure = runEngineer(opt, driver, out);
        if (failure.isEmpty() && opt.scenario == "align")
            failure = runAlign(opt, driver, bus, out);
        if (failure.isEmpty() && opt.scenario == "track")
            failure = recorder ? runTrack(opt, driver, bus, *recorder, kCompanionWindow, out)
                               : QString("the track scenario reports from a headless run only");
        if (opt.hold > 0) {
            QEventLoop hold;
            QTimer::singleShot(opt.hold * 1000, &hold, &QEventLoop::quit);
            hold.exec();
        }
        driver.close();
    }
    out << "result: " << (failure.isEmpty() ? QString("ok") : "fail " + failure) << "\n";
    out.flush();
    return failure.isEmpty() ? 0 : 1;
}
