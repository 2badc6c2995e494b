// The manual calibration answers of two modules on their way to a receiver on
// the GUI thread (a queued connection, as the controller has): each signal
// carries its own module's values, whatever the other module's loop receives
// meanwhile; an end of a step without its index says so.
#include "Fixture.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstring>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {

struct Received
{
    int len;
    int nDevNum;
    std::vector<uint8_t> bytes;
};

} // namespace

TEST_F(DeviceTest, QueuedManualAnswersCarryTheirOwnModulesValues)
{
    auto a = plug(ModuleVariant::calibrated("T0"));
    auto b = plug(ModuleVariant::calibrated("T1"));
    ASSERT_TRUE(connectAll());
    dev->setMcPointCounts(0, 1);
    std::vector<Received> got;
    QObject context;   // lives on this (the GUI) thread: the connection is queued
    QObject::connect(dev.get(), &CamDevCtrl::sigMCNextStep, &context, [&got](int *buf, int len, int n) {
        const auto *p = reinterpret_cast<const uint8_t *>(buf);
        got.push_back({len, n, std::vector<uint8_t>(p, p + (len > 0 ? len : 0))});
    });
    dev->StartRecvThread(0, 0);
    std::vector<uint8_t> listA(200), listB(200);
    for (int i = 0; i < 200; ++i) {
        listA[i] = static_cast<uint8_t>(i);
        listB[i] = static_cast<uint8_t>(255 - i);
    }
    // Both modules answer before the GUI thread takes either answer (the
    // wait handles no events).
    inject(a, RES_MC_PATTERN_END, i32(7));
    inject(a, DAT_MC_INPUT_POINT, listA);
    sleepUntil([&] { return logCount("--------") >= 1; }, 10000, 2);
    inject(b, RES_MC_PATTERN_END, i32(3));
    inject(b, DAT_MC_INPUT_POINT, listB);
    sleepUntil([&] { return logCount("--------") >= 2; }, 10000, 2);
    ASSERT_EQ(logCount("--------"), 2);
    dev->StopRecvThread();
    QCoreApplication::processEvents();

    ASSERT_EQ(got.size(), 4u);
    for (const Received &r : got) {
        SCOPED_TRACE(r.nDevNum);
        if (r.len == 4) {
            int32_t index = -1;
            std::memcpy(&index, r.bytes.data(), 4);
            EXPECT_EQ(index, r.nDevNum == 0 ? 7 : 3);
        } else {
            ASSERT_EQ(r.len, 200);
            EXPECT_EQ(r.bytes, r.nDevNum == 0 ? listA : listB);
        }
    }
}

// A receiver on module 0's loop (as the controller's copy is) that takes its
// time over module 0's answer while module 1's loop stores an answer of its
// own: nothing orders the two loops, so the stores must be apart. With one
// store for both modules ThreadSanitizer reports the overlap, and the reader
// sees its value change under it.
TEST_F(DeviceTest, ALoopsReaderAndTheOtherLoopsStoreNeverShareMemory)
{
    auto a = plug(ModuleVariant::calibrated("T0"));
    auto b = plug(ModuleVariant::calibrated("T1"));
    ASSERT_TRUE(connectAll());
    dev->setMcPointCounts(0, 1);
    std::atomic<int> read{0}, changed{0};
    QObject context;
    QObject::connect(
        dev.get(), &CamDevCtrl::sigMCNextStep, &context,
        [&](int *buf, int len, int n) {
            if (n != 0 || !buf || len < 4)
                return;
            // Plain reads for 30 ms of wall time, no lock: what a reader of
            // the hand-over does while the other module's loop runs on.
            const volatile int32_t *v = buf;
            const int32_t first = v[0];
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
            uint32_t sum = 0;
            while (std::chrono::steady_clock::now() < end) {
                for (int i = 0; i < len / 4; ++i)
                    sum += static_cast<uint32_t>(v[i]);
                if (v[0] != first)
                    ++changed;
            }
            (void)sum;
            ++read;
        },
        Qt::DirectConnection);
    dev->StartRecvThread(0, 0);
    std::vector<uint8_t> listA(200, 0x11), listB(200, 0x22);
    for (int round = 0; round < 3; ++round) {
        const int before = read.load();
        inject(a, RES_MC_PATTERN_END, i32(7));
        inject(b, RES_MC_PATTERN_END, i32(3));
        ASSERT_TRUE(spinUntil([&] { return read.load() == before + 1; }, 10000));
        inject(a, DAT_MC_INPUT_POINT, listA);
        inject(b, DAT_MC_INPUT_POINT, listB);
        ASSERT_TRUE(spinUntil([&] { return read.load() == before + 2; }, 10000));
    }
    dev->StopRecvThread();
    EXPECT_EQ(changed.load(), 0);
}

TEST_F(DeviceTest, PatternEndWithoutPayloadIsSignalledWithLengthZero)
{
    auto m = plug(ModuleVariant::calibrated("T0"));
    ASSERT_TRUE(connectAll());
    dev->StartRecvThread(0, 0);
    inject(m, RES_MC_PATTERN_END, i32(9));
    // The length field is 0: no index, whatever the transfer holds after it.
    inject(m, RES_MC_PATTERN_END, i32(5), 0);
    ASSERT_TRUE(spinUntil([&] {
        std::lock_guard<std::mutex> lock(sig.mutex);
        return sig.mcNextStep.size() == 2;
    }, 10000));
    dev->StopRecvThread();
    std::lock_guard<std::mutex> lock(sig.mutex);
    EXPECT_EQ(sig.mcNextStep[0], std::make_pair(4, 9));
    // Nothing of the earlier answer is handed on as this one's index.
    EXPECT_EQ(sig.mcNextStep[1], std::make_pair(0, 0));
}
