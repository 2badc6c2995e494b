// tesselink-soak: the driver on emulated modules for a long time, counting what
// is left behind.
//
//   1. hot-plug cycles: 1 or 2 modules, one pulled out at a random point of an
//      exchange drawn from the seed (tracking, the alignment view's frames, the
//      mask read at opening or sent from the editor, each step of auto
//      calibration, the targets and the upload of manual calibration), then
//      plugged in again; after each the driver must be back to tracking;
//   2. suspend/resume cycles while a pen is down;
//   3. compressed tracking with pen scripts (strokes that come and go).
//
// Reported: memory, open descriptors and threads at the start, after a warm-up
// (each kind of cycle with one and two modules: one-time allocations of Qt,
// OpenCV's and the thread pools, the emulator's camera maps) and at the end;
// the two judged samples are taken in one state (Bench::sampleState), in which
// the holds that are replaced but sized by the last cycle are at their largest.
// Also reported: contacts left down after every unplug, suspend and at the end;
// the unplugs per exchange. Memory three ways:
// resident as found, resident after malloc_trim(0), and the allocator's bytes in
// use. Resident memory as found follows what the allocator keeps free for reuse
// (its high-water marks of picture buffers); it is printed, not judged. Exit
// status 0 only when the targets hold: growth after the warm-up below 1 MB both
// in use and resident after the trim, descriptors and threads back to the
// warm-up values, no contact down, the driver back to tracking every time and
// both samples taken in their state.
#include "Soak.h"

#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "resources/Resources.h"
#include "tests/support/OneTimeAllocations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tl;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine and has an allocator of its
// own (glibc's figures of bytes in use do not see it): memory says nothing about
// leaks there; LeakSanitizer judges them at exit instead.
constexpr bool kRssJudged = false;
#else
constexpr bool kRssJudged = true;
#endif

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

struct Usage
{
    long rssKb = 0;         // resident as found
    long trimmedRssKb = 0;  // resident once the allocator has given back its free pages
    long inUseKb = 0;       // what the allocator has handed out and not had back
    int fds = 0;
    int threads = 0;
};

void readStatus(long *rssKb, int *threads)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            *rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
        else if (line.startsWith("Threads:") && threads)
            *threads = line.mid(8).trimmed().toInt();
    }
}

// The allocator's own count of bytes in use (small blocks in its arenas plus
// blocks mapped on their own), in kB.
long inUseKb()
{
    const struct mallinfo2 mi = mallinfo2();
    return static_cast<long>((mi.uordblks + mi.hblkhd) / 1024);
}

// Resident memory before and after malloc_trim(0), and the bytes in use:
// resident memory the allocator keeps free is not held by the driver.
Usage usage()
{
    Usage u;
    readStatus(&u.rssKb, &u.threads);
    u.inUseKb = inUseKb();
    malloc_trim(0);
    readStatus(&u.trimmedRssKb, nullptr);
    u.fds = static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System |
                                                                            QDir::Files | QDir::Dirs).size()) - 1;
    return u;
}

void print(const char *when, const Usage &u)
{
    std::printf("%-9s RSS %7ld kB (trimmed %7ld kB)  in use %7ld kB  fds %3d  threads %3d\n", when, u.rssKb,
                u.trimmedRssKb, u.inUseKb, u.fds, u.threads);
    std::fflush(stdout);
}

// Resident memory as a measure of what the driver keeps: glibc's allocator by
// default raises its mmap threshold to the largest block freed so far and keeps
// an arena per thread, so that the resident size follows the high-water mark of
// picture buffers (frames, captures, grabs) handled on many threads, not what is
// live. With a fixed threshold and two arenas, large blocks go back to the system
// when freed. --default-allocator measures without this.
void fixAllocator()
{
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    mallopt(M_ARENA_MAX, 2);
}

// Idle threads of Qt's global pool end after this long: a measurement then
// counts the threads that stay, not a pool thread that has just finished a task.
constexpr int kPoolExpiryMs = 500;

Usage measured(soak::Bench &bench, bool *stateOk)
{
    *stateOk = bench.sampleState() && *stateOk;
    bench.settle(2);
    QThread::msleep(2 * kPoolExpiryMs);
    bench.settle(2);
    return usage();
}

} // namespace

int main(int argc, char **argv)
{
    bool defaultAllocator = false;
    for (int i = 1; i < argc; ++i)
        defaultAllocator = defaultAllocator || std::strcmp(argv[i], "--default-allocator") == 0;
    if (!defaultAllocator)
        fixAllocator();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    const Usage atStart = usage();
    const auto started = tl::test::startApplication<QApplication>(argc, argv);
    QApplication &app = *started;
    app.setQuitOnLastWindowClosed(false);

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Soak of the driver on emulated modules"));
    cli.addHelpOption();
    QCommandLineOption hotplugOpt(QStringLiteral("hotplug"), QStringLiteral("Hot-plug cycles."), QStringLiteral("n"),
                                  QStringLiteral("1000"));
    QCommandLineOption suspendOpt(QStringLiteral("suspend"), QStringLiteral("Suspend/resume cycles."),
                                  QStringLiteral("n"), QStringLiteral("100"));
    QCommandLineOption trackOpt(QStringLiteral("track-minutes"), QStringLiteral("Driver minutes of tracking."),
                                QStringLiteral("m"), QStringLiteral("60"));
    QCommandLineOption compressOpt(QStringLiteral("compression"), QStringLiteral("Time compression."),
                                   QStringLiteral("x"), QStringLiteral("100"));
    QCommandLineOption seedOpt(QStringLiteral("seed"), QStringLiteral("Random seed."), QStringLiteral("s"),
                               QStringLiteral("16"));
    QCommandLineOption onlyOpt(QStringLiteral("only"),
                               QStringLiteral("Hot-plug only in these exchanges (comma-separated names as reported)."),
                               QStringLiteral("names"));
    QCommandLineOption shortOpt(QStringLiteral("short"), QStringLiteral("The CI version: 48 hot-plugs in tracking "
                                                                        "and the alignment view (12 in each "
                                                                        "exchange), 10 suspends, 2 minutes of "
                                                                        "tracking."));
    QCommandLineOption logOpt(QStringLiteral("log"), QStringLiteral("Print the driver's log."));
    QCommandLineOption allocOpt(QStringLiteral("default-allocator"),
                                QStringLiteral("Leave glibc's allocator as it is (resident memory then follows its "
                                               "high-water mark)."));
    QCommandLineOption heldOpt(QStringLiteral("exit-holding"),
                               QStringLiteral("End the process at the last sample with the driver still running: "
                                              "under a heap profiler, what it holds then shows as not freed."));
    QCommandLineOption traceOpt(QStringLiteral("trace"),
                                QStringLiteral("Print the bytes in use after every hot-plug cycle, with its exchange "
                                               "and module count: which cycle makes a step."));
    cli.addOptions({hotplugOpt, suspendOpt, trackOpt, compressOpt, seedOpt, onlyOpt, shortOpt, logOpt, allocOpt,
                    heldOpt, traceOpt});
    cli.process(app);
    if (!cli.isSet(logOpt))
        qInstallMessageHandler(quiet);
    const bool brief = cli.isSet(shortOpt);
    const int hotplugs = brief ? 48 : cli.value(hotplugOpt).toInt();
    const int suspends = brief ? 10 : cli.value(suspendOpt).toInt();
    const double minutes = brief ? 2 : cli.value(trackOpt).toDouble();
    std::vector<soak::Where> places;
    // The short run stays in tracking and the alignment view: a calibration
    // cycle takes seconds of wall time.
    const QString only = brief ? QStringLiteral("tracking,frames,mask-download,mask-upload") : cli.value(onlyOpt);
    for (int w = 0; w < soak::kWhereCount; ++w)
        if ((!brief && !cli.isSet(onlyOpt)) ||
            only.split(',').contains(QString::fromLatin1(soak::whereName(static_cast<soak::Where>(w)))))
            places.push_back(static_cast<soak::Where>(w));
    if (places.empty()) {
        std::fprintf(stderr, "no exchange of that name\n");
        return 2;
    }

    QThreadPool::globalInstance()->setExpiryTimeout(kPoolExpiryMs);
    std::printf("allocator: %s\n", defaultAllocator ? "glibc default"
                                                   : "glibc, mmap threshold fixed at 64 kB, 2 arenas");
    tl::initResources();
    Clock::setCompression(cli.value(compressOpt).toDouble());
    FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});

    const bool trace = cli.isSet(traceOpt);
    long tracedKb = 0;
    int traced = 0;
    // After a cycle: its exchange, module count and the change of bytes in use.
    auto traceCycle = [&](soak::Where w, int modules) {
        if (!trace)
            return;
        const long kb = inUseKb();
        std::printf("cycle %4d %-16s %d module%s  in use %7ld kB  %+6ld kB\n", traced++, soak::whereName(w), modules,
                    modules == 1 ? " " : "s", kb, tracedKb ? kb - tracedKb : 0);
        std::fflush(stdout);
        tracedKb = kb;
    };

    QElapsedTimer wall;
    wall.start();
    Usage warm, atEnd;
    int finalDown = -1;
    bool sampleStateOk = true;
    soak::Figures fig;
    {
        soak::Bench bench(cli.value(seedOpt).toUInt());
        bench.setUp();
        // Warm-up: each exchange with one module and (where it is one) with two,
        // so that one-time allocations and the allocator's high-water mark of
        // two modules calibrating are behind us.
        for (int modules = 1; modules <= 2; ++modules)
            for (soak::Where w : places)
                if (modules == 1 || (w != soak::Where::MaskDownload && w != soak::Where::MaskUpload)) {
                    bench.hotplugCycle(w, modules);
                    traceCycle(w, modules);
                }
        bench.suspendCycle();
        bench.track(5000);
        const soak::Figures afterWarm = bench.figures();
        warm = measured(bench, &sampleStateOk);
        print("start", atStart);
        print("warm-up", warm);
        // The short run visits every exchange equally often; the long one draws them.
        std::mt19937 draw(cli.value(seedOpt).toUInt() + 1);
        for (int i = 0; i < hotplugs; ++i) {
            // A calibration cycle costs ten to forty times a tracking one: the long
            // run spends one cycle in ten on them, drawn evenly among their steps.
            soak::Where w;
            if (brief || static_cast<int>(places.size()) < soak::kWhereCount)
                w = places[static_cast<size_t>(i) % places.size()];
            else if (draw() % 10 == 0)
                w = static_cast<soak::Where>(static_cast<int>(soak::Where::AutoBlack) + draw() % 8);
            else
                w = static_cast<soak::Where>(draw() % 4);
            const bool maskJob = w == soak::Where::MaskDownload || w == soak::Where::MaskUpload;
            const int modules = maskJob ? 1 : 1 + static_cast<int>(draw() % 2);
            bench.hotplugCycle(w, modules);
            traceCycle(w, modules);
            if ((i + 1) % 50 == 0) {
                char what[32];
                std::snprintf(what, sizeof what, "plug %d", i + 1);
                print(what, usage());
            }
        }
        for (int i = 0; i < suspends; ++i)
            bench.suspendCycle();
        print("suspends", usage());
        bench.track(static_cast<qint64>(minutes * 60000));
        bench.usePlugged(2);
        bench.settle(10);
        atEnd = measured(bench, &sampleStateOk);
        print("end", atEnd);
        if (cli.isSet(heldOpt))
            std::exit(0);
        fig = bench.figures();
        // The warm-up's cycles are not part of the count.
        for (int w = 0; w < soak::kWhereCount; ++w) {
            for (int k = 0; k < 2; ++k)
                fig.unplugs[w][k] -= afterWarm.unplugs[w][k];
            fig.missed[w] -= afterWarm.missed[w];
        }
        fig.hotplugs -= afterWarm.hotplugs;
        fig.suspends -= afterWarm.suspends;
        finalDown = bench.tearDown();
    }
    const long growth = atEnd.rssKb - warm.rssKb;
    const long trimmedGrowth = atEnd.trimmedRssKb - warm.trimmedRssKb;
    const long inUseGrowth = atEnd.inUseKb - warm.inUseKb;
    int notSane = 0;
    std::printf("unplugs per exchange (1 module / 2 modules; exchange not reached: pulled by hand afterwards):\n");
    for (int w = 0; w < soak::kWhereCount; ++w) {
        std::printf("  %-16s %4d / %4d   not reached %3d   not back to tracking %d\n",
                    soak::whereName(static_cast<soak::Where>(w)), fig.unplugs[w][0], fig.unplugs[w][1], fig.missed[w],
                    fig.notSane[w]);
        notSane += fig.notSane[w];
    }
    std::printf("hot-plug cycles %d, suspend/resume cycles %d, tracking %.1f driver minutes (%ld injections)\n",
                fig.hotplugs, fig.suspends, minutes, fig.trackInjections);
    std::printf("calibrations stored by the modules %d, messages answered %d\n", fig.calibrationsStored,
                fig.messages);
    std::printf("contacts down: after a single module's unplug %d times, after suspend %d times, at the end %d\n",
                fig.downAfterUnplug, fig.downAfterSuspend, finalDown);
    std::printf("driver not back to tracking after %d cycles (warm-up included)\n", notSane);
    if (!sampleStateOk)
        std::printf("a sample was not taken in its state: the alignment view did not show both modules\n");
    std::printf("growth after warm-up: in use %ld kB, RSS trimmed %ld kB%s; RSS as found %ld kB (not judged)\n",
                inUseGrowth, trimmedGrowth, kRssJudged ? "" : " (not judged in this build)", growth);
    std::printf("fds %+d, threads %+d; wall time %.1f s\n", atEnd.fds - warm.fds, atEnd.threads - warm.threads,
                wall.elapsed() / 1000.0);
    const bool memoryOk = !kRssJudged || (inUseGrowth < 1024 && trimmedGrowth < 1024);
    const bool ok = memoryOk && atEnd.fds == warm.fds && atEnd.threads == warm.threads && finalDown == 0 &&
                    fig.downAfterUnplug == 0 && fig.downAfterSuspend == 0 && notSane == 0 && sampleStateOk;
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    // LeakSanitizer reports after this and ends the process without flushing.
    std::fflush(stdout);
    return ok ? 0 : 1;
}
