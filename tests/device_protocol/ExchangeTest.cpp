// Sending, retry, the response wait and the records the host uploads.
#include "Fixture.h"

#include "device/codec/Records.h"


#include <libusb.h>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {
sim::CommandRule ignore(int32_t code)
{
    return {code, 0, -1, sim::CommandFault::Ignore, 0};
}
} // namespace

TEST_F(DeviceTest, FailedWriteIsRetriedOnceAfterTheFirstFailure)
{
    auto m = plug(ModuleVariant::calibrated("W1"));
    ASSERT_TRUE(connectAll());
    m->clearReceived();

    sim::FaultPlan one;
    one.failWrites = 1;
    m->setFaults(one);
    const int32_t mode = 2;
    dev->SendCommand(&mode, CMD_SET_TRANSFER_MODE, 4, 0, false);
    EXPECT_EQ(m->receivedCount(CMD_SET_TRANSFER_MODE), 1);   // the second attempt arrived
    EXPECT_EQ(logCount("hid_SendPacket error 0"), 1);
    EXPECT_EQ(logCount("again hid_SendPacket error"), 0);

    clearLog();
    sim::FaultPlan three;
    three.failWrites = 3;
    m->setFaults(three);
    dev->SendCommand(&mode, CMD_SET_TRANSFER_MODE, 4, 0, false);
    EXPECT_EQ(m->receivedCount(CMD_SET_TRANSFER_MODE), 1);
    EXPECT_EQ(logCount("again hid_SendPacket error 0 0"), 1);
    EXPECT_EQ(m->faults().failWrites, 1);                     // exactly two attempts, no third
}

TEST_F(DeviceTest, ResponseWaitGivesUpAfterSixtyUnrelatedPackets)
{
    auto m = plug(ModuleVariant::calibrated("SIXTY"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.commands.push_back(ignore(CMD_SENDVERSION));
    m->setFaults(plan);
    for (int i = 0; i < 61; ++i)
        inject(m, RES_AC_RESULT, i32(i));
    // 60 packets without the answer end the wait with 0, which counts as success.
    EXPECT_TRUE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 0, true));
    EXPECT_EQ(m->pending(sim::kEpIn), 1);

    // 59 unrelated packets and then silence: the read times out and the send fails.
    while (m->pending(sim::kEpIn) > 0)
        dev->ResponseCommand(CMD_SEND_OPTION, 0);
    for (int i = 0; i < 59; ++i)
        inject(m, RES_AC_RESULT, i32(i));
    EXPECT_FALSE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 0, true));
    EXPECT_TRUE(logContains(QStringLiteral("ResponseCommand: %1 0").arg(LIBUSB_ERROR_TIMEOUT)));
}

TEST_F(DeviceTest, AckWaitNeedsTheCommandsOwnCode)
{
    auto m = plug(ModuleVariant::calibrated("ACK"));
    ASSERT_TRUE(connectAll());
    while (m->pending(sim::kEpIn) > 0)
        dev->ResponseCommand(CMD_SEND_OPTION, 0);
    inject(m, RES_ACK, i32(CMD_START_TRACKING));
    inject(m, RES_ACK, i32(CMD_STOP_TRACKING));
    EXPECT_EQ(dev->ResponseCommand(CMD_STOP_TRACKING, 0), 0);
    EXPECT_EQ(m->pending(sim::kEpIn), 0);                 // both read: the first did not satisfy
    inject(m, RES_ACK, i32(CMD_START_TRACKING));
    EXPECT_EQ(dev->ResponseCommand(CMD_STOP_TRACKING, 0), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(dev->ResponseCommand(CMD_SET_MASK, 0), -1);  // no answer to wait for

    // Tracking commands never wait, even with the wait flag, and report false.
    for (int32_t code : {CMD_START_TRACKING, CMD_STOP_TRACKING}) {
        EXPECT_FALSE(dev->SendCommand(nullptr, code, 0, 0, true));
        EXPECT_EQ(m->pending(sim::kEpIn), 1);              // its RES_ACK is still unread
        dev->ResponseCommand(code, 0);
    }
    const int32_t finger = 1;
    EXPECT_FALSE(dev->SendCommand(&finger, CMD_SET_FINGER_TOUCH_MODE, 4, 0, true));
    EXPECT_EQ(m->fingerTouchMode(), 1);
}

TEST_F(DeviceTest, NakIsTracedAndNeverResent)
{
    auto m = plug(ModuleVariant::calibrated("NAK"));
    ASSERT_TRUE(connectAll());
    m->clearReceived();
    sim::FaultPlan plan;
    plan.commands.push_back({CMD_SEND_OPTION, 0, -1, sim::CommandFault::Nak, 0});
    m->setFaults(plan);
    EXPECT_FALSE(dev->SendCommand(nullptr, CMD_SEND_OPTION, 0, 0, true));
    EXPECT_TRUE(logContains("[0x100D]RES_NAK : Len[4],Data[CMD_SEND_OPTION]"));
    EXPECT_EQ(m->receivedCount(CMD_SEND_OPTION), 1);
    EXPECT_EQ(m->stats().naks, 1);
}

TEST_F(DeviceTest, ModuleWithoutHandleGetsNothing)
{
    auto m = plug(ModuleVariant::calibrated("ONLY"));
    ASSERT_TRUE(connectAll());
    m->clearReceived();
    clearLog();
    EXPECT_FALSE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 1, true));
    EXPECT_FALSE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 5, true));
    EXPECT_FALSE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, -1, true));
    EXPECT_EQ(m->received().size(), 0u);
    EXPECT_EQ(logCount("CMD_SENDVERSION"), 0);
}

TEST_F(DeviceTest, UnplugDuringTheResponseWait)
{
    auto m = plug(ModuleVariant::calibrated("GONE"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.commands.push_back({CMD_GET_EEPROM, 0, 1, sim::CommandFault::UnplugAfter, 0});
    m->setFaults(plan);
    EXPECT_FALSE(dev->requestEeprom(0));
    EXPECT_FALSE(m->plugged());
    // Everything after it fails at once instead of waiting on a dead device: no
    // read runs into its time-out, and the only waits are the driver's own
    // pauses, driver time the code sets itself: 100 ms before the second try of
    // each failed send, 200 ms in openDevices after the stop command, and twice
    // 200 ms in Close after the hand-back commands.
    clearLog();
    const qint64 slept = Clock::sleptMs();
    EXPECT_FALSE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 0, true));
    EXPECT_TRUE(logContains("hid_SendPacket error 0 -1"));
    EXPECT_FALSE(dev->openDevices());
    EXPECT_TRUE(dev->Close(0));
    const int failedSends = logCount("again hid_SendPacket error 0 -1");
    EXPECT_EQ(failedSends, logCount("hid_SendPacket error 0 -1") - failedSends);
    // The version request, the stop command, three version attempts, the mask
    // request and Close's two hand-back commands.
    EXPECT_EQ(failedSends, 8);
    EXPECT_EQ(Clock::sleptMs() - slept, 100 * failedSends + 200 + 2 * 200);
    EXPECT_EQ(logCount(QStringLiteral("ResponseCommand: %1 ").arg(LIBUSB_ERROR_TIMEOUT)), 0);
}

TEST_F(DeviceTest, UnplugBeforeTheVersionWrite)
{
    auto m = plug(ModuleVariant::calibrated("GONE2"));
    sim::FaultPlan plan;
    plan.commands.push_back({CMD_SENDVERSION, 0, 1, sim::CommandFault::UnplugBefore, 0});
    m->setFaults(plan);
    CamDevCtrl &d = device();
    ASSERT_EQ(d.UpdateCameraInfo(), 1);
    EXPECT_FALSE(d.openDevices());
    EXPECT_EQ(m->receivedCount(CMD_SENDVERSION), 1);
}

TEST_F(DeviceTest, MaskUploadGoesOutInFragmentsTenMillisecondsApart)
{
    auto m = plug(ModuleVariant::calibrated("UP", 15));
    ASSERT_TRUE(connectAll());
    m->clearReceived();
    std::vector<uint8_t> mask(kMaskSize);
    for (int i = 0; i < kMaskSize; ++i)
        mask[static_cast<size_t>(i)] = static_cast<uint8_t>(i ^ (i >> 7));
    dev->sendSetMask(mask.data(), kMaskSize);
    const auto rx = m->received(CMD_SET_MASK);
    ASSERT_EQ(rx.size(), 58u);
    for (size_t i = 1; i < rx.size(); ++i)
        EXPECT_GE(rx[i].timeMs - rx[i - 1].timeMs, 9) << i;   // 10 ms of driver time, ms rounding
    EXPECT_EQ(rx[57].length, 138);
    EXPECT_EQ(m->stats().maskUploads, 1);
    EXPECT_EQ(m->mask(), mask);
    EXPECT_TRUE(logContains("nLen > nPLen 58"));

    // A mask that fits one packet goes out whole.
    dev->sendSetMask(mask.data(), 504);
    EXPECT_EQ(m->receivedCount(CMD_SET_MASK), 59);
    dev->sendSetMask(nullptr, 10);
    dev->sendSetMask(mask.data(), 0);
    EXPECT_EQ(m->receivedCount(CMD_SET_MASK), 59);
}

TEST_F(DeviceTest, CalibrationUploadAndBlackStart)
{
    auto m = plug(ModuleVariant::blank("CAL", 15));
    ASSERT_TRUE(connectAll());
    double tp[13];
    for (int i = 0; i < 13; ++i)
        tp[i] = 0.25 * i;
    dev->send_set_calib_parameter(tp, 1, 0, 1920, 1080, 3, 1, false, 0, nullptr, true, 650, 640, 0, 15);
    ASSERT_TRUE(m->fixCoord());
    EXPECT_EQ(m->fixCoord()->mode, 0);
    EXPECT_EQ(m->fixCoord()->ratio, 0.0);
    const auto block = m->lastCalibration();
    ASSERT_TRUE(block);
    EXPECT_EQ(block->tp[12], 3.0);
    EXPECT_EQ(block->windowWidth, 1920);
    EXPECT_EQ(block->lensType, 3);
    EXPECT_EQ(block->acTweakNum, 0);
    EXPECT_EQ(block->ptSetting, ptSetting(3, 15));
    EXPECT_EQ(block->ftSetting, ftSetting(3, 15, 650, 640));
    EXPECT_TRUE(logContains("send_set_calib_parameter:"));
    EXPECT_TRUE(logContains("m_tp[12] = 3.000000e+00;"));
    // The module stored it: the record now says calibrated.
    EXPECT_TRUE(dev->requestEeprom(0));
    EXPECT_TRUE(dev->isCalibrated(0));

    m->clearReceived();
    dev->send_ac_black_start(3, 0, 9);
    const auto rx = m->received(CMD_AC_BLACK_START);
    ASSERT_EQ(rx.size(), 1u);
    EXPECT_EQ(rx[0].length, 3);
    EXPECT_EQ(rx[0].bytes[8], 0);
    EXPECT_EQ(rx[0].bytes[9], 0);
    EXPECT_EQ(rx[0].bytes[10], 0x60);
    EXPECT_TRUE(logContains(" 2: 0x60"));
}

TEST_F(DeviceTest, DirectRegisterWrite)
{
    auto m = plug(ModuleVariant::calibrated("REG"));
    ASSERT_TRUE(connectAll());
    dev->sendIicWrite(0x3500, 0x42, 0);
    EXPECT_EQ(m->registers().at(0x3500), 0x42);
    EXPECT_TRUE(logContains("[0x1006]CMD_IIC_WR : RegAddr[0x3500], Data[0x42]"));
    dev->sendIicWrite(0x3501, 0x43, 1);   // no module 1: nothing, no trace
    EXPECT_EQ(logCount("RegAddr[0x3501]"), 0);
}
