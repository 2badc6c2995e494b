// tesselink-demo: the whole driver (main window, controller, device layer) on
// emulated modules, headless or in a window. It prints "name: value" lines and
// a last line "result: ok" or "result: fail <reason>".
#include "DemoOptions.h"
#include "Scenarios.h"

#include "app/Corvane.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "input/InputInjection.h"
#include "platform/fake/FakeSystemEvents.h"
#include "platform/fake/RecordingBackend.h"
#include "platform/fake/RecordingCompanionLink.h"
#include "resources/Resources.h"
#include "sim/EmulatedBus.h"
#include "sim/ModuleVariant.h"
#include "tests/support/OneTimeAllocations.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QTextStream>

#include <cstdio>
#include <cstring>

namespace {
bool g_verbose = false;
constexpr tl::WindowHandle kCompanionWindow = 0x4242;

void demoLog(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (g_verbose || type >= QtCriticalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}
} // namespace

int main(int argc, char *argv[])
{
    bool window = false;
    for (int i = 1; i < argc; ++i)
        window = window || std::strcmp(argv[i], "--window") == 0;
    if (!window)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The demo keeps its settings apart from a real installation's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());

    const auto started = tl::test::startApplication<QApplication>(argc, argv);
    QApplication &app = *started;
    app.setQuitOnLastWindowClosed(false);
    tl::initResources();
    QTextStream out(stdout);

    DemoOptions opt;
    QString error;
    if (!DemoOptions::parse(app.arguments(), opt, error)) {
        out << DemoOptions::usage() << "result: fail " << error << "\n";
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
        tl::ScreenSource::setOverride(monitors);

    tl::sim::EmulatedBus bus;
    // The modules are built with the lens the run names (codes 1 to 3: hung turned).
    std::vector<tl::sim::ModuleVariant> variants = tl::sim::moduleSeries(opt.modules, opt.calibrated);
    for (tl::sim::ModuleVariant &v : variants)
        v.lens = static_cast<uint8_t>(opt.lens);
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
        Corvane::Platform platform{&events, &bus, {}};
        if (!opt.window) {
            platform.makeInjection = [&recorder, &companion] {
                auto backend = std::make_unique<tl::RecordingBackend>(tl::InjectionBackend::Kind::Touch);
                recorder = backend.get();
                return std::make_unique<tl::input::InputInjection>(std::move(backend), &companion);
            };
        }
        Corvane driver(platform);
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
