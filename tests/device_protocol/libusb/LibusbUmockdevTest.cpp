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
#include "tests/support/DriverSpin.h"

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
using tl::test::spinUntil;

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
            EXPECT_TRUE(spinUntil([&] { return sink.packets.load() >= 3; }, 20000));
            // The interrupt endpoint halts: libusb reports the stall, the loop
            // clears it with libusb_clear_halt and the reports go on.
            sim::FaultPlan halt;
            halt.inHalts = 1;
            module->setFaults(halt);
            EXPECT_TRUE(spinUntil([&] { return module->stats().stalledReads == 1; }, 20000));
            const int before = sink.packets.load();
            EXPECT_TRUE(spinUntil([&] { return sink.packets.load() >= before + 10; }, 20000))
                << "the halted endpoint was not cleared";
            EXPECT_EQ(bridge.haltsCleared(), 1);
            EXPECT_EQ(module->stats().haltsCleared, 1);
            module->setFaults({});
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
            EXPECT_TRUE(spinUntil([&] { std::lock_guard<std::mutex> lock(m); return !image.empty(); }, 60000));
            dev.StopRecvThread();
            {
                std::lock_guard<std::mutex> lock(m);
                EXPECT_EQ(image, module->servedImage(kImageWhite));
            }
            EXPECT_GT(dev.acStats().resendRequests, 0);

            module->setFaults({});
            dev.StartRecvThread(1, 0);   // frames on endpoint 0x84
            EXPECT_TRUE(spinUntil([&] { std::lock_guard<std::mutex> lock(m); return !frame.empty(); }, 20000));
            {
                std::lock_guard<std::mutex> lock(m);
                EXPECT_EQ(frame.size(), size_t(kFrameBytes));
            }
            // Pulled out while the loop reads: the read fails with "no device" and the loop ends.
            dev.requestFrame(0);
            module->unplug();
            EXPECT_TRUE(spinUntil([&] { return !dev.isReceiving(0); }, 10000));
            dev.StopRecvThread();
            EXPECT_TRUE(dev.Close(0));
        }
    }
    UsbfsBridge::freeTestbed(testbed);
    Clock::setCompression(1);
}

namespace {

// One module on a testbed whose interfaces the kernel's HID driver holds (or
// whatever `kernel` says), with the driver's device layer on real libusb.
struct KernelDriverBench
{
    explicit KernelDriverBench(UsbfsBridge::Kernel kernel, const char *serial = "HID-0001")
    {
        module = modules.plug(sim::ModuleVariant::calibrated(serial, 15));
        modules.listDevices();
        testbed = UsbfsBridge::newTestbed();
        bridge = std::make_unique<UsbfsBridge>(testbed, 6, modules.open(0), module->variant().serialIndex, kernel);
    }
    ~KernelDriverBench()
    {
        bridge.reset();
        UsbfsBridge::freeTestbed(testbed);
    }

    sim::EmulatedBus modules;
    std::shared_ptr<sim::EmulatedModule> module;
    UMockdevTestbed *testbed = nullptr;
    std::unique_ptr<UsbfsBridge> bridge;
};

using Holder = UsbfsBridge::Holder;

} // namespace

TEST(LibusbKernelDriver, DetachedAtClaimAndHandedBackAtCloseAndDestruction)
{
    if (!underWrapper())
        GTEST_SKIP() << "needs umockdev-wrapper (ctest runs it so)";
    Clock::setCompression(5);
    KernelDriverBench bench({});
    ASSERT_TRUE(bench.bridge->attached());
    ASSERT_EQ(bench.bridge->holder(2), Holder::KernelDriver);
    {
        LogCapture log;
        LibusbAccess usb;
        ConfigFileRW settings;
        {
            CamDevCtrl dev(&settings, &usb);
            ASSERT_EQ(dev.UpdateCameraInfo(), 1);
            EXPECT_EQ(bench.bridge->holder(2), Holder::Client);
            EXPECT_EQ(bench.bridge->holder(3), Holder::Client);
            EXPECT_EQ(bench.bridge->disconnects(), 2);
            EXPECT_TRUE(log.contains("LibusbAccess: interface 2: kernel driver detached"));
            EXPECT_TRUE(log.contains("LibusbAccess: interface 3: kernel driver detached"));
            EXPECT_TRUE(log.hasLine("libusb_claim_interface(2) = 0"));
            ASSERT_TRUE(dev.openDevices());

            // Close: the hand-back first (the module tracks in transfer mode 0),
            // then the kernel driver gets both interfaces again.
            EXPECT_TRUE(dev.Close(0));
            EXPECT_EQ(bench.module->transferMode(), 0);
            EXPECT_TRUE(bench.module->tracking());
            EXPECT_EQ(bench.bridge->holder(2), Holder::KernelDriver);
            EXPECT_EQ(bench.bridge->holder(3), Holder::KernelDriver);
            EXPECT_EQ(bench.bridge->connects(), 2);
            const int handBack = log.find("CMD_START_TRACKING");
            const int attached = log.find("LibusbAccess: interface 2: kernel driver attached again");
            EXPECT_GE(handBack, 0);
            EXPECT_GT(attached, handBack);

            // Opened again and left to the destructor: the same hand-over.
            ASSERT_EQ(dev.UpdateCameraInfo(), 1);
            EXPECT_EQ(bench.bridge->holder(2), Holder::Client);
            ASSERT_TRUE(dev.openDevices());
        }
        EXPECT_EQ(bench.bridge->holder(2), Holder::KernelDriver);
        EXPECT_EQ(bench.bridge->holder(3), Holder::KernelDriver);
        EXPECT_EQ(bench.bridge->disconnects(), 4);
        EXPECT_EQ(bench.bridge->connects(), 4);
        EXPECT_EQ(log.count("LibusbAccess: interface 3: kernel driver attached again"), 2);
    }
    Clock::setCompression(1);
}

TEST(LibusbKernelDriver, UnplugWhileDetachedThenClose)
{
    if (!underWrapper())
        GTEST_SKIP() << "needs umockdev-wrapper (ctest runs it so)";
    Clock::setCompression(5);
    KernelDriverBench bench({});
    ASSERT_TRUE(bench.bridge->attached());
    LogCapture log;
    LibusbAccess usb;
    ConfigFileRW settings;
    {
        CamDevCtrl dev(&settings, &usb);
        ASSERT_EQ(dev.UpdateCameraInfo(), 1);
        ASSERT_TRUE(dev.openDevices());
        bench.module->unplug();
        EXPECT_TRUE(dev.Close(0));
        // The device is gone: no driver to hand the interfaces to, and nothing
        // pretends it was done.
        EXPECT_TRUE(log.contains("LibusbAccess: interface 2: the module is gone, no kernel driver to hand it back to"));
        EXPECT_EQ(bench.bridge->connects(), 0);
        EXPECT_FALSE(log.contains("kernel driver attached again"));
        EXPECT_EQ(dev.UpdateCameraInfo(), 0);
    }
    Clock::setCompression(1);
}

TEST(LibusbKernelDriver, InterfacesThatCannotBeHadLeaveTheModuleUncounted)
{
    if (!underWrapper())
        GTEST_SKIP() << "needs umockdev-wrapper (ctest runs it so)";
    Clock::setCompression(5);
    {
        // A kernel driver that refuses to let go.
        UsbfsBridge::Kernel refusing;
        refusing.refuseDetach = true;
        KernelDriverBench bench(refusing);
        ASSERT_TRUE(bench.bridge->attached());
        LogCapture log;
        LibusbAccess usb;
        ConfigFileRW settings;
        CamDevCtrl dev(&settings, &usb);
        EXPECT_EQ(dev.GetNumberOfCameraDevices(), 1);
        EXPECT_EQ(dev.UpdateCameraInfo(), 0);
        EXPECT_EQ(dev.serialNumber(0), nullptr);
        EXPECT_TRUE(log.contains("LibusbAccess: interface 2: the kernel driver refused to let go of it"));
        EXPECT_TRUE(log.contains(
            "LibusbAccess: interface 2 is held by its kernel driver; the module cannot be used until it is free"));
        EXPECT_TRUE(log.contains("libusb_claim_interface(2) FAIL!! -6: LIBUSB_ERROR_BUSY"));
        EXPECT_EQ(bench.bridge->holder(2), Holder::KernelDriver);
        EXPECT_EQ(bench.bridge->holder(3), Holder::KernelDriver);
        EXPECT_FALSE(bench.module->interfaceClaimed(2));
        EXPECT_TRUE(dev.openDevices());
        EXPECT_EQ(bench.module->receivedCount(CMD_SENDVERSION), 0);
    }
    {
        // Interface 2 is had, interface 3's driver refuses: the module is not
        // used, and interface 2 goes back to its kernel driver with the handle.
        UsbfsBridge::Kernel refusing;
        refusing.refuseDetach = true;
        refusing.refusingInterface = 3;
        KernelDriverBench bench(refusing);
        ASSERT_TRUE(bench.bridge->attached());
        LogCapture log;
        LibusbAccess usb;
        ConfigFileRW settings;
        CamDevCtrl dev(&settings, &usb);
        EXPECT_EQ(dev.UpdateCameraInfo(), 0);
        EXPECT_TRUE(log.hasLine("libusb_claim_interface(2) = 0"));
        EXPECT_TRUE(log.contains("LibusbAccess: interface 3: the kernel driver refused to let go of it"));
        EXPECT_TRUE(log.contains("libusb_claim_interface(3) FAIL!! -6: LIBUSB_ERROR_BUSY"));
        EXPECT_EQ(bench.bridge->holder(2), Holder::KernelDriver);
        EXPECT_EQ(bench.bridge->holder(3), Holder::KernelDriver);
        EXPECT_EQ(bench.bridge->disconnects(), 1);
        EXPECT_EQ(bench.bridge->connects(), 1);
        EXPECT_FALSE(bench.module->interfaceClaimed(2));
        EXPECT_TRUE(dev.openDevices());
        EXPECT_EQ(bench.module->receivedCount(CMD_SENDVERSION), 0);
    }
    {
        // Another program holds both interfaces: it keeps them, the driver
        // does not take them from it.
        UsbfsBridge::Kernel held;
        held.otherProgram = true;
        KernelDriverBench bench(held);
        ASSERT_TRUE(bench.bridge->attached());
        LogCapture log;
        LibusbAccess usb;
        ConfigFileRW settings;
        CamDevCtrl dev(&settings, &usb);
        EXPECT_EQ(dev.UpdateCameraInfo(), 0);
        EXPECT_TRUE(log.contains(
            "LibusbAccess: interface 2 is held by another program; the module cannot be used until it is free"));
        EXPECT_EQ(bench.bridge->disconnects(), 0);
        EXPECT_EQ(bench.bridge->holder(2), Holder::OtherProgram);
    }
    {
        // A driver that does not take the interfaces back: said so, no crash,
        // and the next open claims them straight away.
        UsbfsBridge::Kernel noReattach;
        noReattach.refuseAttach = true;
        KernelDriverBench bench(noReattach);
        ASSERT_TRUE(bench.bridge->attached());
        LogCapture log;
        LibusbAccess usb;
        ConfigFileRW settings;
        CamDevCtrl dev(&settings, &usb);
        ASSERT_EQ(dev.UpdateCameraInfo(), 1);
        ASSERT_TRUE(dev.openDevices());
        EXPECT_TRUE(dev.Close(0));
        EXPECT_TRUE(log.contains("LibusbAccess: interface 2: the kernel driver could not take it back: -5 "
                                 "LIBUSB_ERROR_NOT_FOUND"));
        EXPECT_EQ(bench.bridge->holder(2), Holder::None);
        EXPECT_EQ(dev.UpdateCameraInfo(), 1);
        EXPECT_EQ(bench.bridge->disconnects(), 2);
    }
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
        EXPECT_TRUE(spinUntil([&] { std::lock_guard<std::mutex> lock(m); return arrived.size() >= 2; }, 5000));
        second->uevent("remove");
        EXPECT_TRUE(spinUntil([&] { std::lock_guard<std::mutex> lock(m); return removed.size() >= 2; }, 5000));
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
