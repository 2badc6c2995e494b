// The image path of the device layer.
//
// Per piece: what the host spends on one received image packet, from the 512
// bytes read to the data at its place in the frame buffer (the codec alone, and
// CamDevCtrl::PacketToImage16HID as the receive loop calls it and over a buffer
// of a whole image's packets). `per_piece` is the time of one piece.
//
// Whole image: one 1280 x 720 auto-calibration image (kind 101) fetched from an
// emulated module by the real receive loop, group by group with resend of the
// missing runs, at 0 % and 5 % random piece loss. The time column is wall time
// per image; the CPU column and `proc_cpu_ms` are the CPU of the whole process,
// every thread, which includes the emulator's side of the bus (it builds and
// queues the pieces on the host's threads). Every image is compared with the one
// the module served: a transfer that delivers a different image is an error,
// not a figure.
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/EmulatedModule.h"
#include "sim/FaultPlan.h"
#include "sim/ModuleVariant.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace tl;
using namespace tl::codec;

// Driver time runs this much faster than wall time during the whole-image case:
// the emulator's 1 ms answer turnaround per request (81 group requests and the
// resend requests per image) then costs microseconds instead of a tenth of a
// second, and what remains is the host's and the bus emulation's work.
constexpr double kCompression = 1000.0;

// A wall-time bound on one image; far above any healthy transfer.
constexpr auto kImageTimeout = std::chrono::seconds(60);

bool g_printLog = false;

void logHandler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (g_printLog)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

// A recognisable image: every byte differs from its neighbours in each piece.
std::vector<uint8_t> testImage()
{
    std::vector<uint8_t> img(kAcImageBytes);
    for (int i = 0; i < kAcImageBytes; ++i)
        img[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 7 + i / kAcImageWidth) & 0xFF);
    return img;
}

// The 1,920 DAT_AC_IMAGE packets of an image, as the module sends them.
std::vector<PacketBuffer> imagePackets(const std::vector<uint8_t> &img)
{
    std::vector<PacketBuffer> packets;
    packets.reserve(kAcPieces);
    for (int d = 0; d < kAcPieces; ++d)
        packets.push_back(buildImagePiece(DAT_AC_IMAGE, d, img.data(), kAcImageBytes));
    return packets;
}

void reportPerPiece(benchmark::State &state, int64_t pieces)
{
    state.SetItemsProcessed(pieces);
    state.counters["per_piece"] =
        benchmark::Counter(static_cast<double>(pieces), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

bool imageMatches(const std::vector<uint8_t> &dest, const std::vector<uint8_t> &img)
{
    return dest.size() >= img.size() && std::memcmp(dest.data(), img.data(), img.size()) == 0;
}

// Frame check, piece header and placement, one piece per iteration.
void BM_PieceCodec(benchmark::State &state)
{
    const std::vector<uint8_t> img = testImage();
    const std::vector<PacketBuffer> packets = imagePackets(img);
    std::vector<uint8_t> dest(kFrameBufferBytes, 0);
    size_t next = 0;
    int64_t placed = 0;
    for (auto _ : state) {
        PacketView p;
        ImagePiece piece;
        if (parsePacket(packets[next], kPacketSize, p) == PacketError::None
            && parseImagePiece(p, piece) == PieceError::None && placePiece(piece, dest.data(), dest.size()))
            ++placed;
        benchmark::DoNotOptimize(dest.data());
        if (++next == packets.size())
            next = 0;
    }
    if (placed != static_cast<int64_t>(state.iterations()) || (state.iterations() >= kAcPieces && !imageMatches(dest, img)))
        state.SkipWithError("a piece was refused or landed at the wrong place");
    reportPerPiece(state, placed);
}
BENCHMARK(BM_PieceCodec);

// CamDevCtrl::PacketToImage16HID over a buffer of `range(0)` packets per call:
// 1 is how the receive loop hands it each packet read, 1,920 a whole image.
void BM_PacketToImage16HID(benchmark::State &state)
{
    const int perCall = static_cast<int>(state.range(0));
    const std::vector<uint8_t> img = testImage();
    const std::vector<PacketBuffer> packets = imagePackets(img);
    std::vector<uint8_t> wire(packets.size() * kPacketSize);
    for (size_t i = 0; i < packets.size(); ++i)
        std::memcpy(wire.data() + i * kPacketSize, packets[i].data(), kPacketSize);

    ConfigFileRW settings;
    sim::EmulatedBus bus;   // no module: the copier needs no device
    CamDevCtrl dev(&settings, &bus);
    std::vector<uint8_t> dest(kFrameBufferBytes, 0);

    const int calls = kAcPieces / perCall;
    int call = 0;
    int64_t copied = 0;
    int64_t offered = 0;
    for (auto _ : state) {
        const uint8_t *at = wire.data() + static_cast<size_t>(call) * perCall * kPacketSize;
        copied += dev.PacketToImage16HID(at, dest.data(), dest.size(), perCall * kPacketSize);
        offered += perCall;
        benchmark::DoNotOptimize(dest.data());
        if (++call == calls)
            call = 0;
    }
    if (copied != offered || (offered >= kAcPieces && !imageMatches(dest, img)))
        state.SkipWithError("a piece was refused or landed at the wrong place");
    reportPerPiece(state, copied);
}
BENCHMARK(BM_PacketToImage16HID)->Arg(1)->Arg(kAcPieces);

// What sigACNewFrame hands over, copied on the receive thread (the buffer is the
// device layer's and is reused by the next image).
struct ImageCatch
{
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    int size = -1;
    std::vector<uint8_t> data;

    void reset()
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = false;
        size = -1;
    }
    bool wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, kImageTimeout, [this] { return done; });
    }
};

// One auto-calibration image over the emulated bus; range(0) is the piece loss
// in per mille, range(1) the loss generator's seed, range(2) the module's answer
// turnaround in driver milliseconds (1 is the emulator's usual module). However
// far time is compressed, the emulator wakes a reader no sooner than 1 ms of wall
// time for an answer that is not due yet, so with a turnaround of 1 ms every
// small resend answer (one piece and an end) costs about a wall millisecond; a
// turnaround of 0 takes that out and leaves the host's own pace.
void BM_AcImageOverBus(benchmark::State &state)
{
    const double loss = static_cast<double>(state.range(0)) / 1000.0;
    const uint64_t seed = static_cast<uint64_t>(state.range(1));
    const int answerMs = static_cast<int>(state.range(2));
    const double previousCompression = Clock::compression();
    Clock::setCompression(kCompression);

    ConfigFileRW settings;
    sim::EmulatedBus bus;
    sim::ModuleVariant variant = sim::moduleSeries(1, true).front();
    variant.timing.answerMs = answerMs;
    auto module = bus.plug(variant);
    auto dev = std::make_unique<CamDevCtrl>(&settings, &bus);

    ImageCatch caught;
    QObject::connect(
        dev.get(), &CamDevCtrl::sigACNewFrame, dev.get(),
        [&caught](unsigned char *buf, int size, int) {
            std::lock_guard<std::mutex> lock(caught.mutex);
            caught.size = size;
            const int n = size > 0 ? std::min(size, kFrameBufferBytes) : 0;
            caught.data.assign(buf, buf + n);
            caught.done = true;
            caught.cv.notify_all();
        },
        Qt::DirectConnection);

    if (dev->UpdateCameraInfo() != 1 || !dev->openDevices()) {
        state.SkipWithError("the emulated module did not connect");
        dev.reset();
        Clock::setCompression(previousCompression);
        return;
    }
    dev->StartRecvThread(0, 1);

    sim::FaultPlan plan;
    plan.pieceLoss = loss;
    plan.seed = seed;

    double cpuSeconds = 0;
    int64_t resendRequests = 0;
    int64_t rounds = 0;
    int64_t lost = 0;
    for (auto _ : state) {
        // A fresh plan restarts the loss generator: every image loses the same pieces.
        module->setFaults(plan);
        const int lostBefore = module->stats().piecesLost;
        caught.reset();

        const std::clock_t c0 = std::clock();
        dev->sendAcImageRequest(kImageBlack, 0, 0);
        const bool arrived = caught.wait();
        const std::clock_t c1 = std::clock();

        state.PauseTiming();
        cpuSeconds += static_cast<double>(c1 - c0) / CLOCKS_PER_SEC;
        const CamDevCtrl::AcStats stats = dev->acStats();
        resendRequests += stats.resendRequests;
        rounds += stats.resendRounds;
        lost += module->stats().piecesLost - lostBefore;
        bool equal = false;
        {
            std::lock_guard<std::mutex> lock(caught.mutex);
            const std::vector<uint8_t> served = module->servedImage(kImageBlack);
            equal = caught.size == kAcImageBytes && caught.data == served;
        }
        state.ResumeTiming();
        if (!arrived) {
            state.SkipWithError("the image did not arrive");
            break;
        }
        if (!equal) {
            state.SkipWithError("the received image differs from the served one");
            break;
        }
    }

    dev->StopRecvThread();
    dev.reset();   // before the bus it reads from
    Clock::setCompression(previousCompression);

    using C = benchmark::Counter;
    state.counters["proc_cpu_ms"] = C(cpuSeconds * 1000.0, C::kAvgIterations);
    state.counters["resend_requests"] = C(static_cast<double>(resendRequests), C::kAvgIterations);
    state.counters["resend_rounds"] = C(static_cast<double>(rounds), C::kAvgIterations);
    state.counters["pieces_lost"] = C(static_cast<double>(lost), C::kAvgIterations);
    state.SetLabel(QStringLiteral("loss %1 %, seed %2, answer %3 ms")
                       .arg(loss * 100.0)
                       .arg(seed)
                       .arg(answerMs)
                       .toStdString());
}
BENCHMARK(BM_AcImageOverBus)
    ->ArgNames({"loss_permille", "seed", "answer_ms"})
    ->Args({0, 1, 1})
    ->Args({50, 11, 1})
    ->Args({0, 1, 0})
    ->Args({50, 11, 0})
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The device layer logs through qDebug; printed, the log would be timed with it.
    g_printLog = qEnvironmentVariableIntValue("TL_BENCH_LOG") != 0;
    qInstallMessageHandler(logHandler);

    // The settings write under the configuration folder: a private one keeps the
    // user's own untouched.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "bench-transfer: no temporary folder for the settings\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath("config").toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");

    benchmark::Initialize(&argc, argv);
    // The receive loops raise their signals through Qt; a queued receiver needs an application.
    QApplication app(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
