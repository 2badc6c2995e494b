// Discovery, opening, the start-up exchange, closing and the slot exchange.
#include "Fixture.h"

#include <libusb.h>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

TEST_F(DeviceTest, NoModuleNothingOpensNothingSent)
{
    plug(ModuleVariant::foreign(0x046D, 0xC52B, "KBD"));
    CamDevCtrl &d = device();
    EXPECT_EQ(d.GetNumberOfCameraDevices(), 0);
    EXPECT_EQ(d.UpdateCameraInfo(), 0);
    EXPECT_TRUE(d.openDevices());
    EXPECT_EQ(d.serialNumber(0), nullptr);
    EXPECT_FALSE(d.SendCommand(nullptr, CMD_SENDVERSION, 0, 0, true));
    EXPECT_EQ(bus.devices()[0]->openHandles(), 0);
    EXPECT_EQ(bus.devices()[0]->stats().packetsReceived, 0);
}

TEST_F(DeviceTest, BackendUnavailableIsZeroModules)
{
    plug(ModuleVariant::calibrated("A1"));
    bus.setBackendAvailable(false);
    CamDevCtrl &d = device();
    EXPECT_EQ(d.GetNumberOfCameraDevices(), 0);
    EXPECT_EQ(d.UpdateCameraInfo(), 0);
    EXPECT_TRUE(d.openDevices());
}

TEST_F(DeviceTest, OneModuleVersionOptionEeprom)
{
    auto m = plug(ModuleVariant::calibrated("SER-0001", 15));
    CamDevCtrl &d = device();
    EXPECT_EQ(d.GetNumberOfCameraDevices(), 1);
    ASSERT_EQ(d.UpdateCameraInfo(), 1);
    EXPECT_STREQ(d.serialNumber(0), "SER-0001");
    EXPECT_EQ(d.serialNumber(1), nullptr);
    EXPECT_TRUE(m->interfaceClaimed(2));
    EXPECT_TRUE(m->interfaceClaimed(3));
    EXPECT_FALSE(d.isCalibrated(0));

    ASSERT_TRUE(d.openDevices());
    EXPECT_TRUE(d.hasHandle(0));
    EXPECT_FALSE(d.hasHandle(1));
    // Stop tracking, then version and options, in that order.
    const auto rx = m->received();
    ASSERT_GE(rx.size(), 3u);
    EXPECT_EQ(rx[0].code, CMD_STOP_TRACKING);
    EXPECT_EQ(rx[1].code, CMD_SENDVERSION);
    EXPECT_EQ(rx[2].code, CMD_SEND_OPTION);
    EXPECT_EQ(sig.get<QStringList>([](SignalLog &s) { return s.versions; }), QStringList{"40.15/0"});
    EXPECT_TRUE(logContains("F/W Version: 40.15"));
    EXPECT_TRUE(logContains("F/W Option:"));
    EXPECT_TRUE(logContains("[0x1003]CMD_SENDVERSION : Len[0]"));

    EXPECT_TRUE(d.requestEeprom(0));
    EXPECT_TRUE(d.isCalibrated(0));
    EXPECT_TRUE(logContains("sizeof(tEEPROM) = 400"));
    EXPECT_TRUE(logContains("window_width = 1920, window_height = 1080"));
}

TEST_F(DeviceTest, BlankModuleIsNotCalibrated)
{
    plug(ModuleVariant::blank("B1"));
    ASSERT_TRUE(connectAll());
    EXPECT_FALSE(dev->isCalibrated(0));
}

TEST_F(DeviceTest, TwoModulesInListOrderAndSlotExchange)
{
    auto a = plug(ModuleVariant::calibrated("LEFT", 15));
    auto b = plug(ModuleVariant::blank("RIGHT", 12));
    ASSERT_TRUE(connectAll());
    EXPECT_EQ(dev->numDevices(), 2);
    EXPECT_STREQ(dev->serialNumber(0), "LEFT");
    EXPECT_STREQ(dev->serialNumber(1), "RIGHT");
    EXPECT_TRUE(dev->isCalibrated(0));
    EXPECT_FALSE(dev->isCalibrated(1));
    EXPECT_EQ(sig.get<QStringList>([](SignalLog &s) { return s.versions; }),
              (QStringList{"40.15/0", "40.12/1"}));

    dev->exchangeDeviceSlots();
    EXPECT_STREQ(dev->serialNumber(0), "RIGHT");
    EXPECT_STREQ(dev->serialNumber(1), "LEFT");
    EXPECT_FALSE(dev->isCalibrated(0));
    EXPECT_TRUE(dev->isCalibrated(1));
    // The handle table follows the handles; after the reopen index 0 talks to RIGHT.
    ASSERT_TRUE(dev->openDevices());
    a->clearReceived();
    b->clearReceived();
    const int32_t one = 1;
    a->clearReceived();
    dev->SendCommand(&one, CMD_SET_IMAGE_REVERSE, 4, 0, false);
    EXPECT_EQ(b->receivedCount(CMD_SET_IMAGE_REVERSE), 1);
    EXPECT_EQ(a->receivedCount(CMD_SET_IMAGE_REVERSE), 0);
}

// The reopen after an exchange stops at the first module that does not answer
// its version (a slow one), before it reaches the second index. Each index still
// talks only to the module of its own slot, and the close hands each module back
// once and closes each handle once: no index is left with the other slot's
// handle, to be used after that slot closed it.
TEST_F(DeviceTest, ExchangedSlotsWhoseReopenStopsEarlyKeepEachIndexOnItsOwnModule)
{
    auto a = plug(ModuleVariant::calibrated("LEFT", 15));
    auto b = plug(ModuleVariant::calibrated("RIGHT", 15));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan slow;
    // Every answer comes after the three version attempts have each read for 1 s
    // (a shorter delay lets the third attempt take the first one's answer).
    slow.answerDelayMs = 5000;
    b->setFaults(slow);

    dev->exchangeDeviceSlots();
    EXPECT_FALSE(dev->openDevices());   // index 0 (RIGHT) gave no version
    EXPECT_STREQ(dev->serialNumber(0), "RIGHT");
    EXPECT_STREQ(dev->serialNumber(1), "LEFT");

    a->clearReceived();
    b->clearReceived();
    const int32_t one = 1;
    dev->SendCommand(&one, CMD_SET_IMAGE_REVERSE, 4, 1, false);
    EXPECT_EQ(b->receivedCount(CMD_SET_IMAGE_REVERSE), 0) << "index 1 reached the module of slot 0";
    a->clearReceived();
    b->clearReceived();
    dev->SendCommand(&one, CMD_SET_IMAGE_REVERSE, 4, 0, false);
    EXPECT_EQ(b->receivedCount(CMD_SET_IMAGE_REVERSE), 1);
    EXPECT_EQ(a->receivedCount(CMD_SET_IMAGE_REVERSE), 0) << "index 0 reached the module of slot 1";

    a->clearReceived();
    b->clearReceived();
    EXPECT_TRUE(dev->Close(0));
    EXPECT_TRUE(dev->Close(1));
    EXPECT_EQ(b->receivedCount(CMD_START_TRACKING), 1);
    EXPECT_EQ(a->receivedCount(CMD_START_TRACKING), 1);
    EXPECT_EQ(a->openHandles(), 0);
    EXPECT_EQ(b->openHandles(), 0);
    EXPECT_FALSE(dev->hasHandle(0));
    EXPECT_FALSE(dev->hasHandle(1));
    dev.reset();   // the destructor finds no handle left to hand back
    EXPECT_EQ(b->receivedCount(CMD_START_TRACKING), 1);
}

TEST_F(DeviceTest, ThreeModulesOnlyTheFirstTwoOpen)
{
    auto a = plug(ModuleVariant::calibrated("M1"));
    auto b = plug(ModuleVariant::calibrated("M2"));
    auto c = plug(ModuleVariant::calibrated("M3"));
    CamDevCtrl &d = device();
    EXPECT_EQ(d.GetNumberOfCameraDevices(), 3);
    EXPECT_EQ(d.UpdateCameraInfo(), 2);
    EXPECT_EQ(a->openHandles(), 1);
    EXPECT_EQ(b->openHandles(), 1);
    EXPECT_EQ(c->openHandles(), 0);
}

TEST_F(DeviceTest, UnreadableAndForeignDevicesAreSkipped)
{
    ModuleVariant broken = ModuleVariant::calibrated("BROKEN");
    broken.descriptorReadable = false;
    plug(broken);
    plug(ModuleVariant::foreign(0x16D0, 0x0F8D, "NEAR"));
    auto good = plug(ModuleVariant::calibrated("GOOD"));
    CamDevCtrl &d = device();
    EXPECT_EQ(d.GetNumberOfCameraDevices(), 1);
    EXPECT_EQ(d.UpdateCameraInfo(), 1);
    EXPECT_STREQ(d.serialNumber(0), "GOOD");
}

TEST_F(DeviceTest, ClaimFailureClosesTheHandleAndSkipsTheModule)
{
    auto bad = plug(ModuleVariant::calibrated("NOCLAIM"));
    sim::FaultPlan plan;
    plan.claimError[3] = LIBUSB_ERROR_BUSY;
    bad->setFaults(plan);
    auto good = plug(ModuleVariant::calibrated("OK"));
    CamDevCtrl &d = device();
    EXPECT_EQ(d.UpdateCameraInfo(), 1);
    EXPECT_STREQ(d.serialNumber(0), "OK");
    EXPECT_EQ(bad->openHandles(), 0);             // closed although interface 2 was claimed
    EXPECT_FALSE(bad->interfaceClaimed(2));
    EXPECT_TRUE(logContains("libusb_claim_interface(3) FAIL!! -6: LIBUSB_ERROR_BUSY"));

    sim::FaultPlan open;
    open.openError = LIBUSB_ERROR_ACCESS;
    good->setFaults(open);
    bad->setFaults({});
    EXPECT_EQ(d.UpdateCameraInfo(), 1);           // the open failure skips OK; NOCLAIM now works
    EXPECT_STREQ(d.serialNumber(0), "NOCLAIM");
}

TEST_F(DeviceTest, SilentVersionFailsOpenAndStopsThere)
{
    auto a = plug(ModuleVariant::calibrated("MUTE"));
    auto b = plug(ModuleVariant::calibrated("TALK"));
    sim::FaultPlan plan;
    plan.commands.push_back({CMD_SENDVERSION, 0, -1, sim::CommandFault::Ignore, 0});
    a->setFaults(plan);
    CamDevCtrl &d = device();
    ASSERT_EQ(d.UpdateCameraInfo(), 2);
    EXPECT_FALSE(d.openDevices());
    EXPECT_EQ(a->receivedCount(CMD_SENDVERSION), 3);   // three attempts, no fourth
    EXPECT_EQ(b->stats().packetsReceived, 0);          // the module after it is not set up
}

TEST_F(DeviceTest, MaskDownloadStartsOnlyForOneModuleFromMinor14)
{
    auto m = plug(ModuleVariant::calibrated("OLD", 13));
    ASSERT_TRUE(connectAll());
    EXPECT_EQ(m->receivedCount(CMD_GET_MASK), 0);
    EXPECT_TRUE(logContains("request_get_mask check => device count : 1 FWLower : 13"));
    dev.reset();
    bus.unplug(m);

    ModuleVariant v = ModuleVariant::calibrated("NEW", 14);
    v.mask.assign(kMaskSize, 0);
    for (int i = 0; i < kMaskSize; ++i)
        v.mask[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 13 + 1);
    auto n = plug(v);
    ASSERT_TRUE(connectAll());
    EXPECT_EQ(n->receivedCount(CMD_GET_MASK), 58);
    const auto lengths = sig.get<std::vector<int>>([](SignalLog &s) { return s.maskLengths; });
    ASSERT_EQ(lengths, std::vector<int>{28801});
    EXPECT_EQ(sig.get<std::vector<uint8_t>>([](SignalLog &s) { return s.masks[0]; }), v.mask);
}

TEST_F(DeviceTest, NoMaskDownloadWithTwoModules)
{
    auto a = plug(ModuleVariant::calibrated("A", 15));
    auto b = plug(ModuleVariant::calibrated("B", 15));
    ASSERT_TRUE(connectAll());
    EXPECT_EQ(a->receivedCount(CMD_GET_MASK), 0);
    EXPECT_EQ(b->receivedCount(CMD_GET_MASK), 0);
}

TEST_F(DeviceTest, CloseHandsTheModuleBack)
{
    auto m = plug(ModuleVariant::calibrated("C1"));
    ASSERT_TRUE(connectAll());
    m->clearReceived();
    EXPECT_FALSE(dev->Close(2));
    EXPECT_FALSE(dev->Close(-1));
    EXPECT_TRUE(dev->Close(1));                    // empty slot: nothing sent
    EXPECT_EQ(m->received().size(), 0u);
    EXPECT_TRUE(dev->Close(0));
    const auto rx = m->received();
    ASSERT_EQ(rx.size(), 2u);
    EXPECT_EQ(rx[0].code, CMD_SET_TRANSFER_MODE);
    EXPECT_EQ(rx[1].code, CMD_START_TRACKING);
    EXPECT_EQ(m->transferMode(), 0);
    EXPECT_TRUE(m->tracking());
    EXPECT_EQ(m->openHandles(), 0);
    EXPECT_FALSE(dev->hasHandle(0));
    EXPECT_FALSE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 0, true));
}

TEST_F(DeviceTest, DestructorHandsEveryModuleBack)
{
    auto a = plug(ModuleVariant::calibrated("D1"));
    auto b = plug(ModuleVariant::calibrated("D2"));
    ASSERT_TRUE(connectAll());
    dev.reset();
    for (auto &m : {a, b}) {
        EXPECT_EQ(m->openHandles(), 0);
        EXPECT_TRUE(m->tracking());
        EXPECT_EQ(m->transferMode(), 0);
    }
}

TEST_F(DeviceTest, ReopenAfterUpdateReadsTheRecordsAgain)
{
    auto m = plug(ModuleVariant::calibrated("R1"));
    ASSERT_TRUE(connectAll());
    EXPECT_TRUE(dev->isCalibrated(0));
    // A reopen closes the old handle first and starts with a clean slot.
    EXPECT_EQ(dev->UpdateCameraInfo(), 1);
    EXPECT_EQ(m->openHandles(), 1);
    EXPECT_FALSE(dev->isCalibrated(0));
    EXPECT_FALSE(dev->hasHandle(0));   // the table is refilled by openDevices
    ASSERT_TRUE(dev->openDevices());
    EXPECT_TRUE(dev->requestEeprom(0));
    EXPECT_TRUE(dev->isCalibrated(0));
}
