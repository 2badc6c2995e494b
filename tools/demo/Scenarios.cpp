#include "Scenarios.h"

#include "app/Corvane.h"
#include "device/CamDevCtrl.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/DriverSpin.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstring>

namespace {
constexpr int kBlackImageKind = 101;
constexpr int kImageBytes = 1280 * 720;

const char *yesNo(bool b)
{
    return b ? "true" : "false";
}

} // namespace

namespace {
std::shared_ptr<tl::sim::OutputGrab> g_watched[2];
}

void setWatchedOutput(int module, std::shared_ptr<tl::sim::OutputGrab> grab)
{
    if (module >= 0 && module < 2)
        g_watched[module] = std::move(grab);
}

std::shared_ptr<tl::sim::OutputGrab> watchedOutput(int module)
{
    return module >= 0 && module < 2 ? g_watched[module] : nullptr;
}

bool spinUntil(const std::function<bool()> &done, int driverMs, int pollMs)
{
    return tl::test::spinUntil(done, driverMs, pollMs);
}

QString runConnect(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &, QTextStream &out)
{
    nqmaincontrol *control = driver.control();
    ConfigFileRW *settings = driver.settings();
    const int count = settings->getNumOfCamDevice();
    out << "modules.attached: " << opt.modules << "\n";
    out << "modules.connected: " << count << "\n";
    for (int i = 0; i < count; ++i) {
        out << "module" << i << ".serial: " << settings->getDeviceSerial(i) << "\n";
        out << "module" << i << ".firmware: " << settings->getDeviceFwVersion(i) << "\n";
        out << "module" << i << ".calibrated: " << yesNo(control->device()->isCalibrated(i)) << "\n";
        out << "module" << i << ".model: " << control->modelType(i) << "\n";
    }
    out << "threadState: " << threadStateName(control->threadState()) << "\n";
    out << "m_bConnectionStatus: " << yesNo(control->connectionStatus()) << "\n";
    out << "wizardPending: " << yesNo(control->wizardPending()) << "\n";
    out << "device.name: " << control->deviceDisplayName() << "\n";

    const bool usable = opt.modules == 1 || opt.modules == 2;
    if (control->connectionStatus() != usable)
        return QString("connection status %1 with %2 modules").arg(yesNo(control->connectionStatus())).arg(opt.modules);
    if (!usable)
        return {};
    if (count != opt.modules)
        return QString("%1 of %2 modules connected").arg(count).arg(opt.modules);
    if (opt.calibrated && control->threadState() != etaTRACKING)
        return "calibrated modules are not tracking";
    if (!opt.calibrated && !control->wizardPending())
        return "blank modules did not ask for the wizard";
    return {};
}

QString runTransfer(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out)
{
    nqmaincontrol *control = driver.control();
    tl::CamDevCtrl *device = control->device();
    if (!control->connectionStatus() || bus.devices().empty())
        return "no connected module to fetch an image from";
    auto module = bus.devices().front();

    control->StopDevice();
    tl::sim::FaultPlan faults;
    faults.pieceLoss = opt.loss;
    faults.seed = opt.seed;
    module->setFaults(faults);

    int receivedSize = -1;
    QByteArray received;
    QMetaObject::Connection c = QObject::connect(
        device, &tl::CamDevCtrl::sigACNewFrame, &driver, [&](unsigned char *buf, int size, int) {
            receivedSize = size;
            received = QByteArray(reinterpret_cast<const char *>(buf), std::min(size, kImageBytes));
        });

    device->StartRecvThread(0, 1);
    const qint64 t0 = tl::Clock::nowMs();
    QElapsedTimer wall;
    wall.start();
    device->sendAcImageRequest(kBlackImageKind, 0, 0);
    const bool done = spinUntil([&] { return receivedSize >= 0; }, 120000);
    const qint64 elapsed = tl::Clock::nowMs() - t0;
    const qint64 wallMs = wall.elapsed();
    control->StopDevice();
    QObject::disconnect(c);

    const tl::CamDevCtrl::AcStats stats = device->acStats();
    const tl::sim::ModuleStats ms = module->stats();
    const std::vector<uint8_t> served = module->servedImage(kBlackImageKind);
    const bool equal = done && static_cast<size_t>(received.size()) == served.size()
        && std::memcmp(received.constData(), served.data(), served.size()) == 0;

    out << "transfer.kind: " << kBlackImageKind << "\n";
    out << "transfer.loss: " << opt.loss << "\n";
    out << "transfer.seed: " << opt.seed << "\n";
    out << "transfer.size: " << receivedSize << "\n";
    out << "transfer.pieces_lost: " << ms.piecesLost << "\n";
    out << "transfer.resend_requests: " << stats.resendRequests << "\n";
    out << "transfer.rounds: " << stats.resendRounds << "\n";
    out << "transfer.pieces_resent: " << ms.piecesResent << "\n";
    out << "transfer.refused: " << stats.refused << "\n";
    out << "transfer.elapsed_ms: " << elapsed << "\n";
    out << "transfer.wall_ms: " << wallMs << "\n";
    out << "transfer.equal: " << yesNo(equal) << "\n";
    if (!done)
        return "image did not arrive within 120 s";
    if (!equal)
        return "received image differs from the served one";
    return {};
}
