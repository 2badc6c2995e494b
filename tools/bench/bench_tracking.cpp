// One tracking cycle: decode, merge, match and inject into a backend that
// takes the calls and does nothing. Every heap allocation made during the
// timed loop is counted (global operator new is replaced below) and shown as
// allocs_per_cycle, which must stay 0.
#include "device/codec/ByteIO.h"
#include "input/InputInjection.h"
#include "platform/InjectionBackend.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> g_allocations{0};
}

void *operator new(std::size_t n)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

struct Rec { int x, y, w; };

std::vector<uint8_t> payload(const std::vector<Rec> &recs)
{
    std::vector<uint8_t> b(recs.size() * 6);
    tl::codec::ByteWriter w(b.data(), b.size());
    for (const Rec &r : recs)
        w.u16(uint16_t(r.x)).i16(int16_t(r.y)).i16(int16_t(r.w));
    return b;
}

std::unique_ptr<tl::input::InputInjection> makeInjection(tl::InjectionBackend::Kind kind, int modules)
{
    auto inj = std::make_unique<tl::input::InputInjection>(std::make_unique<tl::NullInjectionBackend>(kind));
    inj->setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080), modules);
    inj->setScreenSize(1920, 1080);
    inj->resetTracking(0);
    inj->resetTracking(1);
    return inj;
}

// Two alternating frames keep every contact moving, so the smoother works on
// each cycle.
void runCycles(benchmark::State &state, tl::input::InputInjection &inj, const std::vector<uint8_t> frames[2][2],
               int modules)
{
    long iterations = 0;
    const long before = g_allocations.load();
    for (auto _ : state) {
        const int f = iterations & 1;
        inj.trackingEntry(frames[f][0].data(), int(frames[f][0].size()), 0);
        if (modules == 2)
            inj.trackingEntry(frames[f][1].data(), int(frames[f][1].size()), 1);
        ++iterations;
    }
    state.counters["allocs_per_cycle"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(iterations ? iterations : 1));
}

void BM_OneModuleOneContact(benchmark::State &state)
{
    const auto kind = state.range(0) ? tl::InjectionBackend::Kind::Touch : tl::InjectionBackend::Kind::Mouse;
    auto inj = makeInjection(kind, 1);
    const std::vector<uint8_t> frames[2][2] = {{payload({{2400, 1500, 80}}), {}},
                                               {payload({{2410, 1505, 80}}), {}}};
    runCycles(state, *inj, frames, 1);
    state.SetLabel(state.range(0) ? "touch path" : "mouse path");
}
BENCHMARK(BM_OneModuleOneContact)->Arg(1)->Arg(0);

void BM_TwoModulesNinePoints(benchmark::State &state)
{
    const auto kind = state.range(0) ? tl::InjectionBackend::Kind::Touch : tl::InjectionBackend::Kind::Mouse;
    auto inj = makeInjection(kind, 2);
    // Module 0 sees five points, module 1 four; two of them near the seam are
    // seen by both modules and merge.
    auto frame = [](int d) {
        return std::vector<Rec>{{500 + d, 500, 60}, {1500 + d, 900, 60}, {2500 + d, 1300, 60},
                                {3500 + d, 1700, 60}, {4700 + d, 2100, 60}};
    };
    auto frame1 = [](int d) {
        return std::vector<Rec>{{-100 + 20 + d, 2100, 60}, {1000 + d, 600, 60}, {2600 + d, 1600, 60},
                                {4000 + d, 2600, 60}};
    };
    const std::vector<uint8_t> frames[2][2] = {{payload(frame(0)), payload(frame1(0))},
                                               {payload(frame(7)), payload(frame1(7))}};
    runCycles(state, *inj, frames, 2);
    state.SetLabel(state.range(0) ? "touch path" : "mouse path");
}
BENCHMARK(BM_TwoModulesNinePoints)->Arg(1)->Arg(0);

// Shows that the counter sees allocations: one vector per iteration reads 1.
void BM_AllocationCounterCheck(benchmark::State &state)
{
    const long before = g_allocations.load();
    long iterations = 0;
    for (auto _ : state) {
        std::vector<int> v(16);
        benchmark::DoNotOptimize(v.data());
        ++iterations;
    }
    state.counters["allocs_per_cycle"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(iterations ? iterations : 1));
}
BENCHMARK(BM_AllocationCounterCheck);

} // namespace

BENCHMARK_MAIN();
