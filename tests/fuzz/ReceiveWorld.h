#pragma once

// What the two receive-path fuzz targets share: the process set-up (Qt, time
// compression, screens, two emulated modules, the real controller on a counting
// touch backend), the table of packet codes an input names, the modules' cached
// test pattern and the input reader.
#include "CountingBackend.h"

#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
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
    test::CountingBackend *backend = nullptr;

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
        if (!qEnvironmentVariableIsSet("TL_FUZZ_LOG"))
            qInstallMessageHandler(quietLog);
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
        app = std::make_unique<QApplication>(*argc, *argv);
        app->setQuitOnLastWindowClosed(false);
        tl::initResources();
        Clock::setCompression(qEnvironmentVariableIsSet("TL_FUZZ_COMPRESSION")
                                  ? qEnvironmentVariable("TL_FUZZ_COMPRESSION").toDouble()
                                  : compression);
        ScreenSource::setOverride({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
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
        auto counting = std::make_unique<test::CountingBackend>();
        backend = counting.get();
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &host, window.get(), nullptr,
                                                  std::make_unique<input::InputInjection>(std::move(counting)));
    }
};

} // namespace tl::fuzz
