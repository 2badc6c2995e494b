// The shipped libusb backend and CamDevCtrl on an emulated module reached through
// real libusb calls (umockdev's usbfs emulation).
#include "UsbfsBridge.h"

#include "device/CamDevCtrl.h"
#include "device/LibusbAccess.h"
#include "device/TrackingSink.h"
#include "device/UsbHotplugSource.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/LogCapture.h"
#include "tests/support/WaitFor.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tl;
using namespace tl::codec;
using tl::test::UsbfsBridge;
using tl::test::LogCapture;
using tl::test::waitFor;

namespace {

bool underWrapper()
{
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "umockdev");
}

struct CountingSink : TrackingSink
{
    void trackingPacket(const uint8_t *, int length, int nDevNum) override
    {
        if (length % 6 == 0 && nDevNum == 0)
            ++packets;
    }
    std::atomic<int> packets{0};
};

} // namespace

TEST(LibusbBackend, NoUsbfsMeansNoModules)
{
    if (!underWrapper())
        GTEST_SKIP() << "needs umockdev-wrapper (ctest runs it so)";
    // A machine without USB devices or usbfs (an empty testbed): libusb either
    // cannot start or sees an empty bus. Either way that is zero modules, not a
    // failure of the driver.
    UMockdevTestbed *testbed = UsbfsBridge::newTestbed();
    {
        LogCapture log;
        LibusbAccess usb;
        if (!usb.ok()) {
            EXPECT_EQ(log.count("libusb_init failed"), 1);
        }
        ConfigFileRW settings;
        CamDevCtrl dev(&settings, &usb);
        EXPECT_EQ(dev.GetNumberOfCameraDevices(), 0);
        EXPECT_EQ(dev.UpdateCameraInfo(), 0);
        EXPECT_TRUE(dev.openDevices());
        EXPECT_TRUE(usb.listDevices().empty());
        EXPECT_EQ(usb.open(0), nullptr);
        EXPECT_EQ(usb.open(-1), nullptr);
        std::printf("libusb on an empty testbed: %s\n", usb.ok() ? "started, empty bus" : "did not start");
    }
    UsbfsBridge::freeTestbed(testbed);
}

TEST(LibusbUnderUmockdev, DiscoveryClaimExchangeAndTracking)
{
    if (!underWrapper())
        GTEST_SKIP() << "needs umockdev-wrapper (ctest runs it so)";
    Clock::setCompression(5);

    sim::EmulatedBus modules;
    auto module = modules.plug(sim::ModuleVariant::calibrated("UMOCK-0001", 15));
    modules.listDevices();
    UMockdevTestbed *testbed = UsbfsBridge::newTestbed();
    {
        UsbfsBridge bridge(testbed, 2, modules.open(0), module->variant().serialIndex);
        ASSERT_TRUE(bridge.attached());

        LibusbAccess usb;
        ASSERT_TRUE(usb.ok());
        ConfigFileRW settings;
        CountingSink sink;
        QStringList versions;
        {
            CamDevCtrl dev(&settings, &usb);
            QObject::connect(&dev, &CamDevCtrl::sigSetFWVersion, &dev,
                             [&](QString v, int n) { versions << QStringLiteral("%1/%2").arg(v).arg(n); },
                             Qt::DirectConnection);
            dev.setTrackingSink(&sink);

            EXPECT_EQ(dev.GetNumberOfCameraDevices(), 1);
            ASSERT_EQ(dev.UpdateCameraInfo(), 1);
            EXPECT_STREQ(dev.serialNumber(0), "UMOCK-0001");
            EXPECT_TRUE(module->interfaceClaimed(2));
            EXPECT_TRUE(module->interfaceClaimed(3));

            ASSERT_TRUE(dev.openDevices());
            EXPECT_EQ(versions, QStringList{"40.15/0"});
            EXPECT_EQ(module->receivedCount(CMD_SEND_OPTION), 1);
            EXPECT_TRUE(dev.requestEeprom(0));
            EXPECT_TRUE(dev.isCalibrated(0));

            const int32_t two = 2;
            dev.SendCommand(&two, CMD_SET_TRANSFER_MODE, 4, 0, false);
            dev.SendCommand(nullptr, CMD_START_TRACKING, 0, 0, false);
            dev.StartRecvThread(0, 0);
            EXPECT_TRUE(waitFor([&] { return sink.packets.load() >= 3; }, 20000));
            dev.StopRecvThread();
            EXPECT_FALSE(module->tracking());

            EXPECT_TRUE(dev.Close(0));
            EXPECT_EQ(module->transferMode(), 0);
            EXPECT_TRUE(module->tracking());
            EXPECT_FALSE(module->interfaceClaimed(2));
        }
        EXPECT_GT(bridge.urbsSubmitted(), 10);
    }
    UsbfsBridge::freeTestbed(testbed);
    Clock::setCompression(1);
}

TEST(LibusbUnderUmockdev, ImagesMaskFramesAndUnplug)
{
    if (!underWrapper())
        GTEST_SKIP() << "needs umockdev-wrapper (ctest runs it so)";
    Clock::setCompression(5);

    sim::EmulatedBus modules;
    sim::ModuleVariant variant = sim::ModuleVariant::calibrated("UMOCK-0002", 14);
    variant.mask.assign(kMaskSize, 0);
    for (int i = 0; i < kMaskSize; ++i)
        variant.mask[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7);
    auto module = modules.plug(variant);
    modules.listDevices();
    UMockdevTestbed *testbed = UsbfsBridge::newTestbed();
    {
        UsbfsBridge bridge(testbed, 3, modules.open(0), module->variant().serialIndex);
        ASSERT_TRUE(bridge.attached());
        LibusbAccess usb;
        ConfigFileRW settings;
        std::vector<uint8_t> image, mask, frame;
        {
            CamDevCtrl dev(&settings, &usb);
            QObject::connect(&dev, &CamDevCtrl::sigSetFWVersion, &dev,
                             [&](QString v, int n) { settings.setDeviceFwVersion(n, v); }, Qt::DirectConnection);
            QObject::connect(&dev, &CamDevCtrl::sigReceiveMask, &dev,
                             [&](unsigned char *b, int len) { mask.assign(b, b + len); }, Qt::DirectConnection);
            std::mutex m;
            QObject::connect(&dev, &CamDevCtrl::sigACNewFrame, &dev, [&](unsigned char *b, int size, int) {
                std::lock_guard<std::mutex> lock(m);
                image.assign(b, b + size);
            }, Qt::DirectConnection);
            QObject::connect(&dev, &CamDevCtrl::sigNewFrame, &dev, [&](unsigned char *b, int size, int) {
                std::lock_guard<std::mutex> lock(m);
                if (frame.empty())
                    frame.assign(b, b + size);
            }, Qt::DirectConnection);
            ASSERT_EQ(dev.UpdateCameraInfo(), 1);
            // Firmware x.14 with one module: the mask download runs at the start.
            ASSERT_TRUE(dev.openDevices());
            EXPECT_EQ(mask, variant.mask);

            std::vector<uint8_t> upload(kMaskSize, 0x5A);
            dev.sendSetMask(upload.data(), kMaskSize);
            EXPECT_EQ(module->mask(), upload);

            sim::FaultPlan loss;
            loss.pieceLoss = 0.05;
            loss.seed = 3;
            module->setFaults(loss);
            dev.StartRecvThread(0, 0);
            dev.sendAcImageRequest(kImageWhite, 0, 0);
            EXPECT_TRUE(waitFor([&] { std::lock_guard<std::mutex> lock(m); return !image.empty(); }, 60000));
            dev.StopRecvThread();
            {
                std::lock_guard<std::mutex> lock(m);
                EXPECT_EQ(image, module->servedImage(kImageWhite));
            }
            EXPECT_GT(dev.acStats().resendRequests, 0);

            module->setFaults({});
            dev.StartRecvThread(1, 0);   // frames on endpoint 0x84
            EXPECT_TRUE(waitFor([&] { std::lock_guard<std::mutex> lock(m); return !frame.empty(); }, 20000));
            {
                std::lock_guard<std::mutex> lock(m);
                EXPECT_EQ(frame.size(), size_t(kFrameBytes));
            }
            // Pulled out while the loop reads: the read fails with "no device" and the loop ends.
            dev.requestFrame(0);
            module->unplug();
            EXPECT_TRUE(waitFor([&] { return !dev.isReceiving(0); }, 10000));
            dev.StopRecvThread();
            EXPECT_TRUE(dev.Close(0));
        }
    }
    UsbfsBridge::freeTestbed(testbed);
    Clock::setCompression(1);
}

TEST(LibusbUnderUmockdev, HotplugReportsEachInterfaceOnce)
{
    if (!underWrapper())
        GTEST_SKIP() << "needs umockdev-wrapper (ctest runs it so)";
    sim::EmulatedBus modules;
    modules.plug(sim::ModuleVariant::calibrated("HP-1"));
    modules.plug(sim::ModuleVariant::calibrated("HP-2"));
    modules.listDevices();
    UMockdevTestbed *testbed = UsbfsBridge::newTestbed();
    {
        // One module present from the start: enumeration records it without a signal.
        UsbfsBridge first(testbed, 4, modules.open(0), 3);
        LibusbAccess usb;
        std::mutex m;
        QStringList arrived, removed;
        UsbHotplugSource source(&usb);
        if (!source.active())
            GTEST_SKIP() << "libusb has no hotplug here";
        QObject::connect(&source, &SystemEventSource::deviceInterfaceArrived, &source, [&](const QString &n) {
            std::lock_guard<std::mutex> lock(m);
            arrived << n;
        }, Qt::DirectConnection);
        QObject::connect(&source, &SystemEventSource::deviceInterfaceRemoved, &source, [&](const QString &n) {
            std::lock_guard<std::mutex> lock(m);
            removed << n;
        }, Qt::DirectConnection);

        auto second = std::make_unique<UsbfsBridge>(testbed, 5, modules.open(1), 3);
        second->uevent("add");
        EXPECT_TRUE(waitFor([&] { std::lock_guard<std::mutex> lock(m); return arrived.size() >= 2; }, 5000));
        second->uevent("remove");
        EXPECT_TRUE(waitFor([&] { std::lock_guard<std::mutex> lock(m); return removed.size() >= 2; }, 5000));
        QThread::msleep(300);
        std::lock_guard<std::mutex> lock(m);
        ASSERT_EQ(arrived.size(), 2);
        EXPECT_TRUE(arrived[0].contains("VID_16D0&PID_0F8C&MI_02"));
        EXPECT_TRUE(arrived[1].contains("VID_16D0&PID_0F8C&MI_03"));
        ASSERT_EQ(removed.size(), 2);
        EXPECT_TRUE(removed[0].contains("MI_02"));
        EXPECT_TRUE(removed[1].contains("MI_03"));
    }
    UsbfsBridge::freeTestbed(testbed);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("TL_TEST_LOG"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return RUN_ALL_TESTS();
}
