#pragma once

// What the two receive-path fuzz targets share: the process set-up (Qt, time
// compression, screens, two emulated modules, the real controller on a counting
// touch backend), the table of packet codes an input names, the modules' cached
// test pattern and the input reader.
#include "platform/fake/CountingBackend.h"

#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/ClockPace.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "resources/Resources.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "sim/EmulatedBus.h"
#include "sim/ImageSource.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>

#include <sys/prctl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tl::fuzz {

inline const int32_t kCodes[] = {
    codec::DAT_VERSION, codec::DAT_IMG, codec::DAT_IMGEND, codec::DAT_TC_PACKET, codec::RES_ACK, codec::RES_NAK,
    codec::RES_AC_BLACK_END, codec::RES_AC_WHITE_END, codec::RES_AC_PATTERN_END, codec::DAT_AC_IMAGE,
    codec::DAT_AC_IMGEND, codec::DAT_AC_PATTERN_CENTER, codec::DAT_AC_CALIB_PARAMETER, codec::RES_AC_RESULT,
    codec::DAT_TC_CUSTOM_HID, codec::RES_MC_PATTERN_DONE, codec::RES_MC_PATTERN_END, codec::RES_MC_RESULT,
    codec::RES_DEBUG, codec::DAT_TC_IMAGE, codec::DAT_TC_IMGEND, codec::DAT_OPTION, codec::DAT_EEPROM,
    codec::DAT_TC_DUAL_MODE, codec::RES_AC_RESULT_GENERATE_END, codec::DAT_AC_IMAGE_PART, codec::RES_AC_READY_END,
    codec::DAT_MC_INPUT_POINT, codec::DAT_AC_IMAGE_PART_END, codec::DAT_MASK, codec::CMD_IIC_RD};
constexpr int kCodeCount = sizeof kCodes / sizeof kCodes[0];

inline void quietLog(QtMsgType, const QMessageLogContext &, const QString &) {}

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

// Operation target byte: bit 0 the module, bit 1 the frame endpoint.
inline uint8_t endpointOf(uint8_t target)
{
    return (target & 2) ? sim::kEpFrames : sim::kEpIn;
}

// What states 2 to 4 of an input's first byte start, alike in both targets: an
// image transfer, the mask download, the manual calibration's point counts.
inline void startState(int state, Reader &in, CamDevCtrl *d)
{
    switch (state) {
    case 2:
        d->sendAcImageRequest(static_cast<uint8_t>(codec::kImageBlack + in.u8() % 3), 0, 0);
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
}

// Operations 0 to 3, read alike by both targets: 0 raw bytes (any length up to
// a packet) and 1 a known code with any length field and a few payload bytes,
// queued by the module for the host on the endpoint the target byte names;
// 2 a genuine exchange the host starts with module `slot` (the device layer's
// index of the target module; `askFrame` asks it for an alignment frame);
// 3 a fault plan on the module's genuine answers (never an unplug).
template <class AskFrame>
void commonOperation(uint8_t op, uint8_t target, Reader &in, sim::EmulatedModule &m, CamDevCtrl *d, int slot,
                     AskFrame askFrame)
{
    using namespace codec;
    switch (op) {
    case 0: {
        std::vector<uint8_t> bytes(in.u16() % (kPacketSize + 1));
        bytes.resize(in.take(bytes.data(), bytes.size()));
        m.injectPacket(endpointOf(target), bytes, (target >> 2) * 10);
        break;
    }
    case 1: {
        PacketBuffer b = makePacket(kCodes[in.u8() % kCodeCount]);
        const int32_t len = static_cast<int16_t>(in.u16());
        std::memcpy(b.data() + 4, &len, 4);
        in.take(b.data() + 8, in.u8());
        m.injectPacket(endpointOf(target), std::vector<uint8_t>(b.begin(), b.end()), (target >> 2) * 10);
        break;
    }
    case 2: {
        const uint8_t arg = in.u8();
        switch ((target >> 1) % 6) {
        case 0: askFrame(slot); break;
        case 1: d->sendAcImageRequest(static_cast<uint8_t>(kImageBlack + arg % 3), arg % 82, 0); break;
        case 2: d->request_get_mask(arg % 60); break;
        case 3: d->requestEeprom(slot); break;
        case 4: d->addGainRegisters(static_cast<uint16_t>(arg * 257), slot); break;
        case 5: d->SendCommand(nullptr, CMD_SENDVERSION, 0, slot, true); break;
        }
        break;
    }
    case 3: {
        sim::FaultPlan plan;
        const uint8_t kind = in.u8();
        sim::PacketRule r;
        r.code = kCodes[in.u8() % kCodeCount];
        r.fault = static_cast<sim::PacketFault>(kind % 8);
        r.value = static_cast<int16_t>(in.u16());
        r.times = 1 + in.u8() % 4;
        if (r.fault == sim::PacketFault::Delay)
            r.value &= 0x3ff;
        plan.packets.push_back(r);
        plan.pieceLoss = (kind >> 4) / 64.0;
        m.setFaults(plan);
        break;
    }
    default:
        break;
    }
}

struct ReceiveWorld
{
    std::unique_ptr<QApplication> app;
    QTemporaryDir home;
    sim::EmulatedBus bus;
    std::shared_ptr<sim::EmulatedModule> modules[2];
    std::unique_ptr<QWidget> window;
    LanguageTable language;
    std::unique_ptr<ConfigFileRW> settings;
    std::unique_ptr<nqmaincontrol> control;
    CountingBackend *backend = nullptr;

    CamDevCtrl *dev() { return control->device(); }

    // The process, two calibrated modules with a pen that comes and goes, and
    // the controller reaching them through `host` (the emulated bus or a
    // wrapper of it). Time runs `compression` times faster unless
    // TL_FUZZ_COMPRESSION says otherwise; TL_FUZZ_LOG keeps the log.
    void build(int *argc, char ***argv, UsbAccess &host, double compression)
    {
        // Short sleeps of compressed time are microseconds: no timer slack on
        // them (threads made later inherit it).
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Every traced packet reads the time of day: with TZ unset the C library
        // looks at /etc/localtime again each time.
        qputenv("TZ", "UTC");
        if (!qEnvironmentVariableIsSet("TL_FUZZ_LOG"))
            qInstallMessageHandler(quietLog);
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
        app = std::make_unique<QApplication>(*argc, *argv);
        app->setQuitOnLastWindowClosed(false);
        tl::initResources();
        // Paced by wall time, also while threads work: an input's steps let
        // driver time pass by reading the clock on the fuzzer's thread, which
        // the clock's own pace (moving only while every thread waits) would hold.
        tl::setWallPacedCompression(qEnvironmentVariableIsSet("TL_FUZZ_COMPRESSION")
                                        ? qEnvironmentVariable("TL_FUZZ_COMPRESSION").toDouble()
                                        : compression);
        FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
        language.loadLanguageData(7, QLocale(QLocale::English));
        auto pattern = std::make_shared<CachedPattern>();
        for (int i = 0; i < 2; ++i) {
            modules[i] = bus.plug(sim::ModuleVariant::calibrated("FZ-" + std::to_string(i)));
            modules[i]->setImageSource(pattern);
            // A pen that comes and goes, so tracking keeps making contacts.
            modules[i]->setPenScript([i](uint64_t cycle) {
                std::vector<sim::TrackPoint> pts;
                if ((cycle / 7) % 2 == 0)
                    pts.push_back({static_cast<int>(1000 + (cycle % 50) * 40), 1200 + i * 300, 100});
                return pts;
            });
        }
        window = std::make_unique<QWidget>();
        settings = std::make_unique<ConfigFileRW>();
        auto counting = std::make_unique<CountingBackend>();
        backend = counting.get();
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &host, window.get(), nullptr,
                                                  std::make_unique<input::InputInjection>(std::move(counting)));
    }
};

} // namespace tl::fuzz
