// Receive loops: start and stop, dispatch, frame stream, tracking hand-over.
#include "Fixture.h"

#include "sim/ImageSource.h"

#include <QRegularExpression>

#include <cstring>
#include <map>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {

// Checks from the log that no module ever had two loops at once: every start of
// a module's loop is followed by its end before the next start.
void expectNeverTwoLoops()
{
    std::map<QString, int> running;
    const QRegularExpression start(QStringLiteral("^RecvPacketProc Start =+> (\\d+)"));
    const QRegularExpression end(QStringLiteral("^<=+RecvPacketProc End (\\d+)"));
    for (const QString &l : logLines()) {
        auto s = start.match(l);
        if (s.hasMatch()) {
            EXPECT_EQ(++running[s.captured(1)], 1) << "second loop for module " << qPrintable(s.captured(1));
        }
        auto e = end.match(l);
        if (e.hasMatch())
            --running[e.captured(1)];
    }
}

} // namespace

TEST_F(DeviceTest, TrackingPacketsReachTheSinkOnBothLoops)
{
    auto a = plug(ModuleVariant::calibrated("T0"));
    auto b = plug(ModuleVariant::calibrated("T1"));
    ASSERT_TRUE(connectAll());
    for (int i = 0; i < 2; ++i) {
        const int32_t two = 2;
        dev->SendCommand(&two, CMD_SET_TRANSFER_MODE, 4, i, false);
        dev->SendCommand(nullptr, CMD_START_TRACKING, 0, i, false);
    }
    dev->StartRecvThread(0, 0);
    EXPECT_TRUE(dev->isReceiving(0));
    EXPECT_TRUE(dev->isReceiving(1));
    ASSERT_TRUE(spinUntil([&] {
        std::lock_guard<std::mutex> lock(sink.mutex);
        bool seen[2] = {false, false};
        for (auto &p : sink.packets)
            seen[p.second] = true;
        return seen[0] && seen[1];
    }, 10000));
    EXPECT_EQ(logCount("CamDevCtrl: nDevNum ="), 2);   // first tracking packet of each module, once
    dev->StopRecvThread();
    EXPECT_FALSE(dev->isReceiving(0));
    EXPECT_FALSE(dev->isReceiving(1));
    EXPECT_FALSE(a->tracking());                        // stop commands went out after the loops
    EXPECT_FALSE(b->tracking());
    expectNeverTwoLoops();
}

TEST_F(DeviceTest, OneModuleStartsOneLoop)
{
    plug(ModuleVariant::calibrated("ONE"));
    ASSERT_TRUE(connectAll());
    // A mild compression leaves the loop's thread room to be scheduled within
    // DeleteThread's waits.
    Clock::setCompression(5);
    dev->CreateRecvPacketThread();
    EXPECT_TRUE(dev->isReceiving(0));
    EXPECT_FALSE(dev->isReceiving(1));
    dev->DeleteThread();
    EXPECT_FALSE(dev->isReceiving(0));
    // The loop ends within its read: DeleteThread found it ended and said so
    // after the loop's last line, rather than giving up on a running loop.
    const QStringList lines = logLines();
    const QStringList steps = lines.filter(QRegularExpression(QStringLiteral("^DeleteThread: \\d+$")));
    ASSERT_EQ(steps.size(), 1);
    const int loopEnd = lines.indexOf(QRegularExpression(QStringLiteral("^<=+RecvPacketProc End 0 .*$")));
    ASSERT_GE(loopEnd, 0);
    EXPECT_LT(loopEnd, lines.indexOf(steps[0]));
}

TEST_F(DeviceTest, RestartingNeverRunsTwoLoops)
{
    auto m = plug(ModuleVariant::calibrated("TWICE"));
    ASSERT_TRUE(connectAll());
    // Start again without a stop, and start after a DeleteThread that cannot wait
    // long enough for a slow drain.
    dev->StartRecvThread(0, 0);
    dev->StartRecvThread(1, 0);
    dev->StartRecvThread(0, 0);
    dev->DeleteThread();
    dev->CreateRecvPacketThread();
    dev->CreateRecvPacketThread();
    dev->StopRecvThread();
    EXPECT_FALSE(dev->isReceiving(0));
    expectNeverTwoLoops();
    EXPECT_EQ(logCount("RecvPacketProc Start"), logCount("RecvPacketProc End"));
}

TEST_F(DeviceTest, DispatchRaisesTheSignals)
{
    auto m = plug(ModuleVariant::calibrated("DISP"));
    ASSERT_TRUE(connectAll());
    dev->setMcPointCounts(0, 1);
    EXPECT_EQ(CamDevCtrl::mcPointCount(0), 20);
    EXPECT_EQ(CamDevCtrl::mcPointCount(1), 16);
    dev->StartRecvThread(0, 0);
    inject(m, RES_AC_BLACK_END, {});
    inject(m, RES_AC_WHITE_END, {});
    inject(m, RES_MC_PATTERN_DONE, {});
    inject(m, RES_MC_PATTERN_END, i32(7));
    std::vector<uint8_t> points(200);
    for (size_t i = 0; i < points.size(); ++i)
        points[i] = static_cast<uint8_t>(i);
    inject(m, DAT_MC_INPUT_POINT, points);
    inject(m, DAT_MC_INPUT_POINT, std::vector<uint8_t>(199, 1));   // another length: nothing
    inject(m, RES_AC_READY_END, {});
    std::vector<uint8_t> dbg(24, 0);
    inject(m, RES_DEBUG, dbg);
    inject(m, RES_DEBUG, std::vector<uint8_t>(20, 0));             // ignored
    inject(m, DAT_TC_DUAL_MODE, std::vector<uint8_t>(12, 3));
    inject(m, DAT_TC_DUAL_MODE, std::vector<uint8_t>(7, 3));         // not whole records: refused
    inject(m, DAT_TC_DUAL_MODE, {});                                 // nothing seen: still a report
    inject(m, RES_AC_RESULT, i32(5));

    ASSERT_TRUE(spinUntil([&] { return logContains("[0x1020]RES_AC_RESULT : Data[5]"); }, 10000));
    dev->StopRecvThread();
    std::lock_guard<std::mutex> lock(sig.mutex);
    EXPECT_EQ(sig.acNextStep, (std::vector<int>{0, 0}));
    EXPECT_EQ(sig.mcDone, 1);
    ASSERT_EQ(sig.mcNextStep.size(), 2u);
    EXPECT_EQ(sig.mcNextStep[0], std::make_pair(4, 7));
    EXPECT_EQ(sig.mcNextStep[1].first, 200);
    EXPECT_EQ(sig.calibReadyEnd, std::vector<int>{0});
    EXPECT_EQ(std::memcmp(CamDevCtrl::mcInputPoints(), points.data(), 200), 0);
    EXPECT_EQ(logCount("RES_DEBUG : 0.000000, 0.000000, size[0]"), 1);
    EXPECT_TRUE(logContains("0: 0.00, 0.00"));
    EXPECT_TRUE(logContains("19: "));
    EXPECT_FALSE(logContains("20: "));
    std::lock_guard<std::mutex> slock(sink.mutex);
    ASSERT_EQ(sink.packets.size(), 2u);
    EXPECT_EQ(sink.packets[0].first.size(), 12u);
    EXPECT_EQ(sink.packets[1].first.size(), 0u);
    EXPECT_TRUE(logContains("DAT_TC_DUAL_MODE refused, length 7"));
}

TEST_F(DeviceTest, FrameStreamWithRegisterWritesAtFrameEnd)
{
    auto m = plug(ModuleVariant::calibrated("FRAME"));
    ASSERT_TRUE(connectAll());
    m->clearReceived();
    dev->addGainRegisters(0x1234, 0);
    EXPECT_EQ(dev->pendingRegisterWrites(0).size(), 2u);
    // Reversed, as the driver asks a short-throw module: its frames come upright.
    dev->StartRecvThread(1, 1);
    EXPECT_FALSE(dev->frameStreamStopped());
    ASSERT_TRUE(spinUntil([&] { return sig.get<size_t>([](SignalLog &s) { return s.frames.size(); }) >= 1; }, 10000));
    const auto reverse = m->received(CMD_SET_IMAGE_REVERSE);
    ASSERT_EQ(reverse.size(), 1u);
    EXPECT_EQ(reverse[0].length, 4);
    EXPECT_EQ(m->receivedCount(CMD_SENDFRM_MONO), 1);
    {
        std::lock_guard<std::mutex> lock(sig.mutex);
        EXPECT_EQ(sig.frameSizes[0], kFrameBytes);
        EXPECT_EQ(sig.frames[0], sim::TestPatternSource::frameFor(0));
    }
    // The queued writes went out after the frame's end, once.
    EXPECT_EQ(m->registerLog(), (std::vector<RegisterWrite>{{0x350A, 0x12}, {0x350B, 0x34}}));
    EXPECT_TRUE(dev->pendingRegisterWrites(0).empty());
    // The controller asks for the next frame.
    dev->requestFrame(0);
    ASSERT_TRUE(spinUntil([&] { return sig.get<size_t>([](SignalLog &s) { return s.frames.size(); }) >= 2; }, 10000));
    EXPECT_EQ(sig.get<std::vector<uint8_t>>([](SignalLog &s) { return s.frames[1]; }),
              sim::TestPatternSource::frameFor(1));
    m->clearReceived();
    dev->StopRecvThread();
    EXPECT_TRUE(dev->frameStreamStopped());
    EXPECT_EQ(m->receivedCount(CMD_STOP_TRACKING), 0);   // display mode: no stop command
    EXPECT_EQ(m->registerLog().size(), 2u);
}

TEST_F(DeviceTest, SilentDisplayModeResendsEveryTwoSeconds)
{
    auto m = plug(ModuleVariant::calibrated("QUIET"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.commands.push_back({CMD_SENDFRM_MONO, 0, -1, sim::CommandFault::Ignore, 0});
    m->setFaults(plan);
    m->clearReceived();
    Clock::setCompression(20);
    dev->StartRecvThread(1, 0);
    const qint64 start = Clock::nowMs();
    ASSERT_TRUE(spinUntil([&] { return m->receivedCount(CMD_SENDFRM_MONO) >= 3; }, 10000));
    const auto rx = m->received(CMD_SENDFRM_MONO);
    // One request at the start, then one per two seconds of silence: never sooner.
    EXPECT_GE(rx[1].timeMs - rx[0].timeMs, 2000);
    EXPECT_GE(rx[2].timeMs - rx[1].timeMs, 2000);
    // And never later than the first read time-out that sees the two seconds
    // passed. The loop logs "RecvPacketProc: <module> <requested> <due> <now>" at
    // each time-out; a resend sets a new request time. Each request's time-outs
    // are not yet due except the last, which is due and resends; as every read
    // waits its full second, that is at most three time-outs per request.
    std::vector<std::vector<std::pair<qint64, qint64>>> perRequest;   // (due, now) per time-out
    qint64 lastRequest = -1;
    const QRegularExpression timeout(QStringLiteral("^RecvPacketProc: 0 (\\d+) (\\d+) (\\d+)$"));
    for (const QString &line : logLines()) {
        const QRegularExpressionMatch m = timeout.match(line);
        if (!m.hasMatch())
            continue;
        const qint64 requested = m.captured(1).toLongLong();
        if (requested != lastRequest)
            perRequest.emplace_back();
        lastRequest = requested;
        perRequest.back().emplace_back(m.captured(2).toLongLong(), m.captured(3).toLongLong());
    }
    const size_t resends = static_cast<size_t>(logCount("Resend SendFrame: 0"));
    ASSERT_GE(resends, 2u);
    ASSERT_GE(perRequest.size(), resends);
    for (size_t r = 0; r < resends; ++r) {
        const auto &t = perRequest[r];
        EXPECT_LE(t.size(), 3u) << "request " << r;
        for (size_t i = 0; i + 1 < t.size(); ++i)
            EXPECT_LT(t[i].second, t[i].first) << "request " << r << " time-out " << i;
        EXPECT_GE(t.back().second, t.back().first) << "request " << r;
    }
    EXPECT_GE(Clock::nowMs() - start, 4000);
    dev->StopRecvThread();
    EXPECT_EQ(logCount("Resend SendFrame: 0"), m->receivedCount(CMD_SENDFRM_MONO) - 1);
}

TEST_F(DeviceTest, SilentTrackingModeMakesNoTraffic)
{
    auto m = plug(ModuleVariant::calibrated("HUSH"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.silent = true;
    m->setFaults(plan);
    dev->StartRecvThread(0, 0);
    m->clearReceived();
    spinFor(5000);
    EXPECT_EQ(m->received().size(), 0u);
    dev->StopRecvThread();
}

TEST_F(DeviceTest, UnplugDuringTrackingEndsTheLoops)
{
    auto a = plug(ModuleVariant::calibrated("U0"));
    auto b = plug(ModuleVariant::calibrated("U1"));
    ASSERT_TRUE(connectAll());
    for (int i = 0; i < 2; ++i) {
        const int32_t two = 2;
        dev->SendCommand(&two, CMD_SET_TRANSFER_MODE, 4, i, false);
        dev->SendCommand(nullptr, CMD_START_TRACKING, 0, i, false);
    }
    dev->StartRecvThread(0, 0);
    ASSERT_TRUE(spinUntil([&] { return sink.count() > 10; }, 10000));
    bus.unplug(b);
    ASSERT_TRUE(spinUntil([&] { return !dev->isReceiving(1); }, 3000));
    EXPECT_TRUE(dev->isReceiving(0));
    EXPECT_TRUE(logContains("RecvPacketProc: device gone, nDevNum = 1"));
    dev->StopRecvThread();
    EXPECT_TRUE(dev->Close(1));
    EXPECT_TRUE(dev->Close(0));
    EXPECT_EQ(a->openHandles(), 0);
}

TEST_F(DeviceTest, UnplugDuringTheFrameStream)
{
    auto m = plug(ModuleVariant::calibrated("UF"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.packets.push_back({DAT_IMG, -1, 200, 0, 1, sim::PacketFault::Unplug, 0, {}});
    m->setFaults(plan);
    dev->StartRecvThread(1, 0);
    ASSERT_TRUE(spinUntil([&] { return !dev->isReceiving(0); }, 3000));
    EXPECT_EQ(sig.get<size_t>([](SignalLog &s) { return s.frames.size(); }), 0u);
    dev->StopRecvThread();
    EXPECT_TRUE(dev->Close(0));
}

TEST_F(DeviceTest, CloseWhileReceivingStopsTheLoopFirst)
{
    auto m = plug(ModuleVariant::calibrated("CL"));
    ASSERT_TRUE(connectAll());
    dev->StartRecvThread(0, 0);
    EXPECT_TRUE(dev->Close(0));
    EXPECT_FALSE(dev->isReceiving(0));
    EXPECT_EQ(m->openHandles(), 0);
}
