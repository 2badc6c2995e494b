// Interface names of module arrival and removal.
#include "Fixture.h"

#include "device/UsbHotplugSource.h"

#include <QSignalSpy>

using namespace tl;
using namespace tl::test;

TEST(UsbHotplug, OneNamePerInterfaceAndNoRepeats)
{
    UsbHotplugSource source(nullptr);
    EXPECT_FALSE(source.active());
    QStringList arrived, removed;
    QObject::connect(&source, &SystemEventSource::deviceInterfaceArrived, [&](const QString &n) { arrived << n; });
    QObject::connect(&source, &SystemEventSource::deviceInterfaceRemoved, [&](const QString &n) { removed << n; });

    source.deviceEvent(true, 0x16D0, 0x0F8C, "3-1.4");
    ASSERT_EQ(arrived.size(), 2);
    EXPECT_EQ(arrived[0], "USB\\VID_16D0&PID_0F8C&MI_02\\3-1.4");
    EXPECT_EQ(arrived[1], "USB\\VID_16D0&PID_0F8C&MI_03\\3-1.4");
    // The same device reported again (enumeration overlapping an arrival): nothing.
    source.deviceEvent(true, 0x16D0, 0x0F8C, "3-1.4");
    EXPECT_EQ(arrived.size(), 2);
    source.deviceEvent(false, 0x16D0, 0x0F8C, "3-1.4");
    source.deviceEvent(false, 0x16D0, 0x0F8C, "3-1.4");
    ASSERT_EQ(removed.size(), 2);
    EXPECT_TRUE(removed[0].contains("MI_02"));
    EXPECT_TRUE(removed[1].contains("MI_03"));
    // A removal never seen as an arrival is not reported.
    source.deviceEvent(false, 0x16D0, 0x0F8C, "1-2");
    EXPECT_EQ(removed.size(), 2);
    // Another place on the bus is another module.
    source.deviceEvent(true, 0x16D0, 0x0F8C, "3-1.4");
    source.deviceEvent(true, 0x16D0, 0x0F8C, "3-2");
    EXPECT_EQ(arrived.size(), 6);
}

TEST(UsbHotplug, NamesPassTheMainWindowsTest)
{
    const QString n = UsbHotplugSource::interfaceName(0x16D0, 0x0F8C, 2, "1-1");
    EXPECT_TRUE(n.contains("vid_16d0", Qt::CaseInsensitive));
    EXPECT_TRUE(n.contains("PID_0F8C", Qt::CaseInsensitive));
    EXPECT_TRUE(n.contains("MI_02", Qt::CaseInsensitive));
    EXPECT_FALSE(n.contains("MI_03", Qt::CaseInsensitive));
}
