// The shipped libusb backend and CamDevCtrl on an emulated module reached through
// real libusb calls (umockdev's usbfs emulation).
#include "UsbfsBridge.h"

#include "device/CamDevCtrl.h"
#include "device/LibusbAccess.h"
#include "device/TrackingSink.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

using namespace tl;
using namespace tl::codec;
using tl::test::UsbfsBridge;

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

bool waitFor(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

} // namespace

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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("TL_TEST_LOG"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return RUN_ALL_TESTS();
}
