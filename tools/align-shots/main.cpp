// Screenshots of the alignment view on emulated modules, for the documentation.
// Each module's camera (the emulator's synthetic camera) photographs a desktop
// projected on its monitor; the view shows its live frames.
// Run under an X server (Xvfb): tools/screenshots/align-view.sh.
// Usage: tesselink-align-shots <two-modules.png> <mask-editor.png>
#include "app/Corvane.h"
#include "control/nqmaincontrol.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "platform/fake/RecordingBackend.h"
#include "sim/EmulatedBus.h"
#include "sim/ModuleVariant.h"
#include "tests/support/DriverSpin.h"
#include "tools/shotkit/DesktopCamera.h"
#include "tools/shotkit/ShotKit.h"
#include "ui/AlignmentDlg.h"
#include "ui/maskDlg.h"

#include <QMouseEvent>

#include <cstdio>
#include <functional>

namespace {
void quietLog(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type >= QtCriticalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

void mouse(QWidget *w, QEvent::Type type, QPoint p)
{
    QMouseEvent e(type, p, w->mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Runs the driver on `modules` emulated modules whose cameras watch a desktop,
// opens the view and streams; `prepare` may act on the view before it is
// photographed.
bool shoot(int modules, const QString &file, const std::function<void(AlignmentDlg *)> &prepare)
{
    tl::sim::EmulatedBus bus;
    bus.plugAll(tl::sim::moduleSeries(modules, true));
    tl::shots::watchDesktops(bus, tl::sim::CameraSetup{});
    tl::FakeSystemEvents events;
    Corvane::Platform platform{&events, &bus, [] {
        return std::make_unique<tl::input::InputInjection>(
            std::make_unique<tl::RecordingBackend>(tl::InjectionBackend::Kind::Touch), nullptr);
    }};
    Corvane driver(platform);
    driver.initialStart();
    driver.StartAlignmentDisplay();
    nqmaincontrol *control = driver.control();
    const bool streamed = tl::test::spinUntil(
        [&] {
            for (int i = 0; i < modules; ++i)
                if (control->alignFrameStats().shown[i] < 10)
                    return false;
            return true;
        },
        60000, 5);
    AlignmentDlg *view = driver.alignmentView();
    if (prepare)
        prepare(view);
    tl::test::spinFor(300, 5);
    const bool saved = streamed && tl::shots::saveShot(view->grab(), file);
    std::printf("frames shown: %d / %d\n", control->alignFrameStats().shown[0], control->alignFrameStats().shown[1]);
    view->clickOK();
    driver.close();
    return saved;
}
} // namespace

int main(int argc, char *argv[])
{
    tl::shots::ShotApp app(argc, argv);
    qInstallMessageHandler(quietLog);
    if (argc < 3) {
        std::fprintf(stderr, "usage: tesselink-align-shots <two-modules.png> <mask-editor.png>\n");
        return 2;
    }
    tl::Clock::setCompression(5);
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});

    bool ok = shoot(2, argv[1], {});
    ok = shoot(1, argv[2], [](AlignmentDlg *view) {
        view->clickPushB();
        QWidget *editor = view->maskEditor();
        mouse(editor, QEvent::MouseButtonPress, QPoint(60, 300));
        for (int i = 1; i <= 100; ++i)
            mouse(editor, QEvent::MouseMove, QPoint(60 + 3 * i, 300 - (i * (100 - i)) / 12));
        mouse(editor, QEvent::MouseButtonRelease, QPoint(360, 300));
        mouse(editor, QEvent::MouseButtonPress, QPoint(520, 90));
        mouse(editor, QEvent::MouseButtonRelease, QPoint(520, 90));
    }) && ok;
    return ok ? 0 : 1;
}
