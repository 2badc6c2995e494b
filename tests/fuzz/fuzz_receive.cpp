// The whole receive path: the real protocol class under the real controller, on
// two emulated modules, with time compressed. An input is a state and a
// sequence of operations: raw packets on either endpoint of either module,
// packets of a known code with any length field, genuine exchanges the host
// starts (frames, image groups, the mask chain, EEPROM, version), fault plans
// on the genuine answers, unplugs, and pauses. The controller's slots take the
// frames and masks; tracking goes through the input layer to a counting backend.
//
// Input: byte 0 = state (0 tracking, 1 frames, 2 image transfer, 3 mask
// download, 4 manual calibration), then operations (see run()).
#include "CountingBackend.h"

#include "control/SystemStates.h"
#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "resources/Resources.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "sim/EmulatedBus.h"
#include "sim/ImageSource.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

#include <sys/prctl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

using namespace tl;
using namespace tl::codec;

namespace {

const int32_t kCodes[] = {
    DAT_VERSION, DAT_IMG, DAT_IMGEND, DAT_TC_PACKET, RES_ACK, RES_NAK, RES_AC_BLACK_END, RES_AC_WHITE_END,
    RES_AC_PATTERN_END, DAT_AC_IMAGE, DAT_AC_IMGEND, DAT_AC_PATTERN_CENTER, DAT_AC_CALIB_PARAMETER, RES_AC_RESULT,
    DAT_TC_CUSTOM_HID, RES_MC_PATTERN_DONE, RES_MC_PATTERN_END, RES_MC_RESULT, RES_DEBUG, DAT_TC_IMAGE,
    DAT_TC_IMGEND, DAT_OPTION, DAT_EEPROM, DAT_TC_DUAL_MODE, RES_AC_RESULT_GENERATE_END, DAT_AC_IMAGE_PART,
    RES_AC_READY_END, DAT_MC_INPUT_POINT, DAT_AC_IMAGE_PART_END, DAT_MASK, CMD_IIC_RD};
constexpr int kCodeCount = sizeof kCodes / sizeof kCodes[0];

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// The emulated bus as the host sees it, with a count of the host's threads that
// are inside a read. Every receive loop inside a read while no module has
// anything queued is a quiet host: settle() ends there instead of sleeping
// through a fixed number of rounds.
class WatchedBus : public UsbAccess
{
public:
    explicit WatchedBus(sim::EmulatedBus &bus) : m_bus(bus) {}

    int readers() const { return m_readers.load(); }

    bool ok() const override { return m_bus.ok(); }
    std::vector<DeviceInfo> listDevices() override { return m_bus.listDevices(); }
    std::unique_ptr<Handle> open(int busIndex, int *error = nullptr) override
    {
        std::unique_ptr<Handle> inner = m_bus.open(busIndex, error);
        if (!inner)
            return nullptr;
        return std::make_unique<WatchedHandle>(std::move(inner), m_readers);
    }
    const char *errorName(int code) const override { return m_bus.errorName(code); }
    const char *errorText(int code) const override { return m_bus.errorText(code); }

private:
    class WatchedHandle : public Handle
    {
    public:
        WatchedHandle(std::unique_ptr<Handle> inner, std::atomic<int> &readers)
            : m_inner(std::move(inner)), m_readers(readers)
        {
        }
        int stringDescriptorAscii(uint8_t index, std::string &out, int maxLen) override
        {
            return m_inner->stringDescriptorAscii(index, out, maxLen);
        }
        int claimInterface(int iface) override { return m_inner->claimInterface(iface); }
        int releaseInterface(int iface) override { return m_inner->releaseInterface(iface); }
        int touchConfigDescriptor() override { return m_inner->touchConfigDescriptor(); }
        int bulkWrite(uint8_t endpoint, const uint8_t *data, int len, int *transferred, int timeoutMs) override
        {
            return m_inner->bulkWrite(endpoint, data, len, transferred, timeoutMs);
        }
        int interruptRead(uint8_t endpoint, uint8_t *data, int len, int *transferred, int timeoutMs) override
        {
            m_readers.fetch_add(1);
            const int rc = m_inner->interruptRead(endpoint, data, len, transferred, timeoutMs);
            m_readers.fetch_sub(1);
            return rc;
        }
        bool gone() const override { return m_inner->gone(); }

    private:
        std::unique_ptr<Handle> m_inner;
        std::atomic<int> &m_readers;
    };

    sim::EmulatedBus &m_bus;
    std::atomic<int> m_readers{0};
};

struct World
{
    std::unique_ptr<QApplication> app;
    QTemporaryDir home;
    sim::EmulatedBus bus;
    WatchedBus watched{bus};
    std::shared_ptr<sim::EmulatedModule> modules[2];
    std::unique_ptr<QWidget> window;
    LanguageTable language;
    std::unique_ptr<ConfigFileRW> settings;
    std::unique_ptr<nqmaincontrol> control;
    test::CountingBackend *backend = nullptr;

    CamDevCtrl *dev() { return control->device(); }

    void connect()
    {
        control->systemStateChange(esysCONNECTION_START, -1);
        settle(200);
    }

    // True when every running receive loop waits in a read and no module has a
    // packet queued for the host (due or not).
    bool quiet()
    {
        int loops = 0;
        for (int i = 0; i < CamDevCtrl::kMaxDevices; ++i)
            loops += dev()->isReceiving(i) ? 1 : 0;
        if (watched.readers() < loops)
            return false;
        for (auto &m : modules)
            if (m->plugged() && (m->pending(sim::kEpIn) > 0 || m->pending(sim::kEpFrames) > 0))
                return false;
        return true;
    }

    // Runs the GUI thread's event loop until the host is quiet twice in a row (or
    // `rounds` * 5 ms of driver time have passed: a frame stream is never quiet).
    // Packets queued for later are waited for in driver time.
    void settle(int rounds = 400)
    {
        const qint64 end = Clock::nowMs() + rounds * 5LL;
        int quietSeen = 0;
        while (Clock::nowMs() < end) {
            QCoreApplication::processEvents();
            if (quiet()) {
                if (++quietSeen >= 2)
                    break;
                continue;
            }
            quietSeen = 0;
            Clock::sleepMs(1);
        }
        QCoreApplication::processEvents();
    }

    // Frames the host did not read by the end of an input (asked for while the
    // loops read answers, or left after the frame stream stopped) are thrown
    // away: every input starts from an empty frame endpoint, and what a packet
    // does belongs to the input that sent it.
    void discardUnreadFrames()
    {
        for (const auto &info : bus.listDevices()) {
            std::unique_ptr<UsbAccess::Handle> h = bus.open(info.busIndex);
            if (!h)
                continue;
            PacketBuffer buf;
            int n = 0;
            for (int i = 0; i < 8 * 481; ++i) {
                const int rc = h->interruptRead(sim::kEpFrames, buf.data(), kPacketSize, &n, -1);
                if (rc != 0 && rc != UsbError::Overflow)
                    break;
            }
        }
    }

    void ensureMode(bool display)
    {
        CamDevCtrl *d = dev();
        if (d->isReceiving(0) && d->displayMode() == display)
            return;
        d->StopRecvThread();
        d->StartRecvThread(display ? 1 : 0, 0);
    }

    // After an unplug: the controller learns of the removal (as from the hot-plug
    // monitor), then every module comes back and is connected again.
    void restore()
    {
        bool pulled = false;
        for (auto &m : modules)
            pulled |= !m->plugged();
        if (pulled) {
            control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
            settle(20);
            for (auto &m : modules)
                if (!m->plugged())
                    bus.replug(m);
        }
        if (pulled || control->device()->numDevices() != 2) {
            control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
            settle(200);
        }
    }
};

// The modules' test pattern, made once per kind and frame number: the emulator
// is not under test, and drawing a 640 x 360 frame for every one served costs
// more than receiving it. Frames repeat every four.
class CachedPattern : public sim::ImageSource
{
public:
    std::vector<uint8_t> capture(const sim::CaptureContext &ctx) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_captures.find(ctx.kind);
        if (it == m_captures.end())
            it = m_captures.emplace(ctx.kind, sim::TestPatternSource::captureFor(ctx.kind)).first;
        return it->second;
    }
    std::vector<uint8_t> alignmentFrame(const sim::CaptureContext &ctx) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<uint8_t> &frame = m_frames[ctx.frameNumber % 4];
        if (frame.empty())
            frame = sim::TestPatternSource::frameFor(ctx.frameNumber % 4);
        return frame;
    }

private:
    std::mutex m_mutex;
    std::map<int, std::vector<uint8_t>> m_captures;
    std::vector<uint8_t> m_frames[4];
};

World *g_world = nullptr;

class Reader
{
public:
    Reader(const uint8_t *d, size_t n) : m_d(d), m_n(n) {}
    bool more() const { return m_i < m_n; }
    uint8_t u8() { return m_i < m_n ? m_d[m_i++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    size_t take(uint8_t *out, size_t want)
    {
        const size_t k = std::min(want, m_n - m_i);
        if (k)
            std::memcpy(out, m_d + m_i, k);
        m_i += k;
        return k;
    }

private:
    const uint8_t *m_d;
    size_t m_n;
    size_t m_i = 0;
};

uint8_t endpointOf(uint8_t target)
{
    return (target & 2) ? sim::kEpFrames : sim::kEpIn;
}

void run(World &w, const uint8_t *data, size_t size)
{
    Reader in(data, size);
    CamDevCtrl *d = w.dev();
    const int state = in.u8() % 5;
    w.ensureMode(state == 1);
    switch (state) {
    case 2:
        d->sendAcImageRequest(static_cast<uint8_t>(kImageBlack + in.u8() % 3), 0, 0);
        break;
    case 3:
        d->request_get_mask(0);
        break;
    case 4:
        d->setMcPointCounts(in.u8(), 1);
        break;
    default:
        break;
    }

    int ops = 0;
    while (in.more() && ++ops < 64) {
        const uint8_t op = in.u8() % 7;
        const uint8_t target = in.u8();
        auto &m = w.modules[target & 1];
        switch (op) {
        case 0: {   // raw bytes, any length up to a packet
            std::vector<uint8_t> bytes(in.u16() % (kPacketSize + 1));
            bytes.resize(in.take(bytes.data(), bytes.size()));
            m->injectPacket(endpointOf(target), bytes, (target >> 2) * 10);
            break;
        }
        case 1: {   // a known code, any length field, a few payload bytes
            PacketBuffer b = makePacket(kCodes[in.u8() % kCodeCount]);
            const int32_t len = static_cast<int16_t>(in.u16());
            std::memcpy(b.data() + 4, &len, 4);
            in.take(b.data() + 8, in.u8());
            m->injectPacket(endpointOf(target), std::vector<uint8_t>(b.begin(), b.end()), (target >> 2) * 10);
            break;
        }
        case 2: {   // a genuine exchange started by the host
            const uint8_t arg = in.u8();
            switch ((target >> 1) % 6) {
            case 0: d->requestFrame(target & 1); break;
            case 1: d->sendAcImageRequest(static_cast<uint8_t>(kImageBlack + arg % 3), arg % 82, 0); break;
            case 2: d->request_get_mask(arg % 60); break;
            case 3: d->requestEeprom(target & 1); break;
            case 4: d->addGainRegisters(static_cast<uint16_t>(arg * 257), target & 1); break;
            case 5: d->SendCommand(nullptr, CMD_SENDVERSION, 0, target & 1, true); break;
            }
            break;
        }
        case 3: {   // faults on the genuine answers
            sim::FaultPlan plan;
            const uint8_t kind = in.u8();
            sim::PacketRule r;
            r.code = kCodes[in.u8() % kCodeCount];
            r.fault = static_cast<sim::PacketFault>(kind % 8);   // never Unplug here
            r.value = static_cast<int16_t>(in.u16());
            r.times = 1 + in.u8() % 4;
            if (r.fault == sim::PacketFault::Delay)
                r.value &= 0x3ff;
            plan.packets.push_back(r);
            plan.pieceLoss = (kind >> 4) / 64.0;
            m->setFaults(plan);
            break;
        }
        case 4:     // the module goes away here
            w.bus.unplug(m);
            break;
        case 5:     // time passes (driver time; the loops read on)
            for (int i = 0, n = in.u8() % 16; i < n; ++i) {
                QCoreApplication::processEvents();
                Clock::sleepMs(50);
            }
            break;
        case 6:
            w.settle(50);
            break;
        }
    }
    w.settle();
    for (auto &m : w.modules)
        if (m->plugged())
            m->setFaults({});
    w.restore();
    // The frame stream asks for the next frame after every shown one: it does not
    // run on between inputs.
    if (w.dev()->displayMode()) {
        w.ensureMode(false);
        // What was sent for the answer loops while the frames were read.
        w.settle();
    }
    w.discardUnreadFrames();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Short sleeps of compressed time are microseconds: no timer slack on them
    // (threads made later inherit it).
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("TL_FUZZ_LOG"))
        qInstallMessageHandler(quiet);
    auto *w = new World;
    qputenv("XDG_CONFIG_HOME", w->home.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", w->home.path().toLocal8Bit());
    w->app = std::make_unique<QApplication>(*argc, *argv);
    w->app->setQuitOnLastWindowClosed(false);
    tl::initResources();
    // A receive loop's read of 1000 ms is 1 ms of wall time, the least a read
    // waits; every bound on it (a loop's stop, a drain) stays longer than that.
    Clock::setCompression(qEnvironmentVariableIsSet("TL_FUZZ_COMPRESSION")
                              ? qEnvironmentVariable("TL_FUZZ_COMPRESSION").toDouble()
                              : 1000.0);
    ScreenSource::setOverride({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
    w->language.loadLanguageData(7, QLocale(QLocale::English));
    auto pattern = std::make_shared<CachedPattern>();
    for (int i = 0; i < 2; ++i) {
        w->modules[i] = w->bus.plug(sim::ModuleVariant::calibrated("FZ-" + std::to_string(i)));
        w->modules[i]->setImageSource(pattern);
        // A pen that comes and goes, so tracking keeps making contacts.
        w->modules[i]->setPenScript([i](uint64_t cycle) {
            std::vector<sim::TrackPoint> pts;
            if ((cycle / 7) % 2 == 0)
                pts.push_back({static_cast<int>(1000 + (cycle % 50) * 40), 1200 + i * 300, 100});
            return pts;
        });
    }
    w->window = std::make_unique<QWidget>();
    w->settings = std::make_unique<ConfigFileRW>();
    auto backend = std::make_unique<test::CountingBackend>();
    w->backend = backend.get();
    w->control = std::make_unique<nqmaincontrol>(w->settings.get(), &w->language, &w->watched, w->window.get(), nullptr,
                                                 std::make_unique<input::InputInjection>(std::move(backend)));
    w->connect();
    g_world = w;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    run(*g_world, data, size);
    return 0;
}
