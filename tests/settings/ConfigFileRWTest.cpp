#include "settings/ConfigFileRW.h"

#include "tests/support/LogCapture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

class ConfigFileRWTest : public ::testing::Test
{
protected:
    void SetUp() override { QDir(ConfigFileRW::settingsFolder()).removeRecursively(); }
    void TearDown() override { QDir(ConfigFileRW::settingsFolder()).removeRecursively(); }

    static void writeRaw(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(ConfigFileRW::settingsFolder());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static QString readKey(const QString &path, const QString &key)
    {
        QSettings s(path, QSettings::IniFormat);
        s.setIniCodec("UTF-8");
        return s.value(key).toString();
    }

    static void setSerial(ConfigFileRW &cfg, int slot, const char *text)
    {
        char buf[16] = {};
        qstrncpy(buf, text, sizeof buf);
        cfg.setDeviceSerial(slot, buf);
    }
};

TEST_F(ConfigFileRWTest, FreshInstanceHasDefaultsAndPrimaryMonitor)
{
    // The primary monitor (top-left at 0, 0) is second in left-to-right order.
    ConfigFileRW cfg({QRect(-1280, 0, 1280, 1024), QRect(0, 0, 1920, 1080)});
    EXPECT_EQ(cfg.getLanguageId(), 0);
    EXPECT_EQ(cfg.getPenSelect(), 0);
    EXPECT_EQ(cfg.getPenTouchMode(), 0);
    EXPECT_FALSE(cfg.getStartProgram());
    EXPECT_EQ(cfg.getLensSelect(), 2);
    EXPECT_TRUE(cfg.getCheckCeiling());
    EXPECT_FALSE(cfg.getCheckRear());
    EXPECT_EQ(cfg.getMonitor(), 1);
    EXPECT_EQ(cfg.getNumOfCamDevice(), 0);
    EXPECT_EQ(cfg.displayMode(), 0);
    EXPECT_TRUE(cfg.getDeviceSerial(0).isEmpty());
    EXPECT_FALSE(QFile::exists(ConfigFileRW::configFilePath()));
}

TEST_F(ConfigFileRWTest, PathsEndInTheBrandFolder)
{
    EXPECT_TRUE(ConfigFileRW::configFilePath().endsWith("/MERIDAN/Tesselink Driver/config.ini"));
    EXPECT_TRUE(ConfigFileRW::paramFilePath().endsWith("/MERIDAN/Tesselink Driver/param.ini"));
}

TEST_F(ConfigFileRWTest, ConfigRoundTripAndDeviceCountNeverLoaded)
{
    {
        ConfigFileRW cfg;
        cfg.setStartProgram(true);
        cfg.setLanguageId(11);
        cfg.setPenSelect(1);
        cfg.saveConfig(); // creates the folder on first save
        cfg.setPenTouchMode(1);
        cfg.savePenTouchMode();
        cfg.setNumOfCamDevice(2);
        cfg.saveDeviceCount();
    }
    EXPECT_EQ(readKey(ConfigFileRW::configFilePath(), "Device/Count"), "2");
    EXPECT_EQ(readKey(ConfigFileRW::configFilePath(), "Configuration/LanguageID"), "11");
    ConfigFileRW again;
    EXPECT_TRUE(again.getStartProgram());
    EXPECT_EQ(again.getLanguageId(), 11);
    EXPECT_EQ(again.getPenSelect(), 1);
    EXPECT_EQ(again.getPenTouchMode(), 1);
    EXPECT_EQ(again.getNumOfCamDevice(), 0);
}

TEST_F(ConfigFileRWTest, AbsentKeysLeaveDefaults)
{
    writeRaw(ConfigFileRW::configFilePath(), "[Device]\r\nCount=2\r\n[Configuration]\r\nPenSelect=1\r\n");
    ConfigFileRW cfg;
    EXPECT_FALSE(cfg.getStartProgram());
    EXPECT_EQ(cfg.getNumOfCamDevice(), 0);
    EXPECT_EQ(cfg.getPenSelect(), 1);
    EXPECT_EQ(cfg.getLanguageId(), 0);
}

TEST_F(ConfigFileRWTest, ParamRoundTripAndSerialKeysOnlyInDualMode)
{
    ConfigFileRW cfg;
    setSerial(cfg, 0, "AAA111");
    setSerial(cfg, 1, "BBB222");
    cfg.setLensSelect(3);
    cfg.setCheckRear(true);
    cfg.setMonitor(1);
    cfg.saveParamAll(2);
    EXPECT_EQ(readKey(ConfigFileRW::paramFilePath(), "Configuration/SerialNumber1"), "AAA111");
    EXPECT_EQ(readKey(ConfigFileRW::paramFilePath(), "Configuration/SerialNumber2"), "BBB222");

    // A single module rewrites the installation keys but keeps the saved pair.
    setSerial(cfg, 0, "CCC333");
    cfg.setCheckCeiling(false);
    cfg.saveParamAll(1);
    EXPECT_EQ(readKey(ConfigFileRW::paramFilePath(), "Configuration/SerialNumber1"), "AAA111");
    EXPECT_EQ(readKey(ConfigFileRW::paramFilePath(), "Configuration/CheckCeiling"), "0");

    ConfigFileRW reader;
    reader.loadParam();
    EXPECT_EQ(reader.getLensSelect(), 3);
    EXPECT_TRUE(reader.getCheckRear());
    EXPECT_FALSE(reader.getCheckCeiling());
    EXPECT_EQ(reader.getMonitor(), 1);
    EXPECT_EQ(reader.getSavedSerial(0), "AAA111");
    EXPECT_EQ(reader.getSavedSerial(1), "BBB222");
}

TEST_F(ConfigFileRWTest, LongSerialsAreCutTo15Characters)
{
    writeRaw(ConfigFileRW::paramFilePath(),
             "[Configuration]\r\nSerialNumber1=0123456789ABCDEFXYZ\r\nSerialNumber2=SHORT\r\n");
    ConfigFileRW cfg;
    cfg.loadParam();
    EXPECT_EQ(cfg.getSavedSerial(0), "0123456789ABCDE");
    EXPECT_EQ(cfg.getSavedSerial(1), "SHORT");

    const char sixteen[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    cfg.setDeviceSerial(0, sixteen); // not terminated within its 16 bytes
    EXPECT_EQ(cfg.getDeviceSerial(0), "0123456789ABCDE");
    cfg.setDeviceSerial(0, nullptr);
    EXPECT_EQ(cfg.getDeviceSerial(0), "0123456789ABCDE");
}

TEST_F(ConfigFileRWTest, CheckDeviceSwapOnlyForTheExactReversal)
{
    struct Case
    {
        const char *live0, *live1;
        bool swapped;
    };
    const Case cases[] = {
        {"B", "A", true},  // reversed pair
        {"A", "B", false}, // saved order
        {"B", "C", false}, // one module new
        {"B", "B", false}, // same serial twice
        {"C", "D", false}, // both new
        {"b", "a", false}, // comparison is case-sensitive
    };
    writeRaw(ConfigFileRW::paramFilePath(), "[Configuration]\r\nSerialNumber1=A\r\nSerialNumber2=B\r\n");
    for (const Case &c : cases) {
        ConfigFileRW cfg;
        cfg.loadParam();
        setSerial(cfg, 0, c.live0);
        setSerial(cfg, 1, c.live1);
        cfg.setDeviceActive(0, 1);
        cfg.setDeviceFwVersion(0, "40.12");
        EXPECT_EQ(cfg.checkDeviceSwap(), c.swapped) << c.live0 << c.live1;
        if (c.swapped) {
            // Whole records travel: serial, version and active flag.
            EXPECT_EQ(cfg.getDeviceSerial(0), "A");
            EXPECT_EQ(cfg.getDeviceFwVersion(1), "40.12");
            EXPECT_EQ(cfg.getDeviceActive(1), 1);
            EXPECT_EQ(cfg.getDeviceActive(0), 0);
        } else {
            EXPECT_EQ(cfg.getDeviceSerial(0), c.live0);
        }
    }
}

TEST_F(ConfigFileRWTest, GarbageAndExtremeValuesLoadWithoutHarm)
{
    writeRaw(ConfigFileRW::configFilePath(),
             "\x01\x02garbage without equals\r\n[Configuration]\r\nLanguageID=abc\r\nPenSelect=99999999999999\r\n"
             "Pen_Touch_Mode=-7\r\nStart_Program=\r\n[[[broken\r\n");
    writeRaw(ConfigFileRW::paramFilePath(),
             "[Configuration]\r\nLensSelect=-2147483648\r\nMonitor=1e9\r\nCheckCeiling=yes\r\n"
             "SerialNumber1=\r\n");
    ConfigFileRW cfg;
    EXPECT_EQ(cfg.getLanguageId(), 0);
    EXPECT_EQ(cfg.getPenSelect(), 0);
    EXPECT_EQ(cfg.getPenTouchMode(), -7);
    EXPECT_FALSE(cfg.getStartProgram());
    cfg.loadParam();
    EXPECT_EQ(cfg.getLensSelect(), -2147483648);
    EXPECT_EQ(cfg.getMonitor(), 0);
    EXPECT_FALSE(cfg.getCheckCeiling());
    EXPECT_EQ(cfg.getSavedSerial(0), "");
}

TEST_F(ConfigFileRWTest, RecordIndicesOutsideTheTwoSlotsAreHarmless)
{
    ConfigFileRW cfg;
    cfg.setDeviceActive(2, 1);
    cfg.setDeviceFwVersion(-1, "x");
    EXPECT_EQ(cfg.getDeviceActive(2), 0);
    EXPECT_TRUE(cfg.getDeviceFwVersion(-1).isEmpty());
    EXPECT_TRUE(cfg.getSavedSerial(5).isEmpty());
}

TEST_F(ConfigFileRWTest, SwapDevicesIsUnconditional)
{
    ConfigFileRW cfg;
    setSerial(cfg, 0, "L");
    setSerial(cfg, 1, "R");
    cfg.swapDevices();
    EXPECT_EQ(cfg.getDeviceSerial(0), "R");
    EXPECT_EQ(cfg.getDeviceSerial(1), "L");
}

} // namespace

// ---- Machine-wide settings (a lab's /etc/xdg) ----------------------------------

namespace {

class MachineWideTest : public ConfigFileRWTest
{
protected:
    void SetUp() override
    {
        ConfigFileRWTest::SetUp();
        ASSERT_TRUE(m_dirs.isValid());
        m_oldDirs = qgetenv("XDG_CONFIG_DIRS");
        m_hadDirs = qEnvironmentVariableIsSet("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(first() + ":" + second()));
    }
    void TearDown() override
    {
        if (m_hadDirs)
            qputenv("XDG_CONFIG_DIRS", m_oldDirs);
        else
            qunsetenv("XDG_CONFIG_DIRS");
        ConfigFileRWTest::TearDown();
    }

    QString first() const { return m_dirs.path() + "/first"; }
    QString second() const { return m_dirs.path() + "/second"; }
    static QString brand(const QString &dir) { return dir + "/MERIDAN/Tesselink Driver"; }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    // Every file under the machine-wide folders with its bytes.
    QStringList snapshot() const
    {
        QStringList out;
        QDirIterator it(m_dirs.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            out << p + "=" + QString::fromLatin1(QFileInfo(p).isFile() ? readFile(p).toHex() : "dir");
        }
        out.sort();
        return out;
    }

    const QList<QRect> twoDisplays{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)};

private:
    QTemporaryDir m_dirs;
    QByteArray m_oldDirs;
    bool m_hadDirs = false;
};

} // namespace

TEST_F(MachineWideTest, FillsWhatTheUserHasNotAndIsNeverWritten)
{
    writeFile(brand(first()) + "/config.ini",
              "[Configuration]\r\nStart_Program=1\r\nLanguageID=11\r\nPenSelect=1\r\nPen_Touch_Mode=1\r\n");
    writeFile(brand(first()) + "/param.ini",
              "[Configuration]\r\nLensSelect=1\r\nCheckCeiling=0\r\nCheckRear=1\r\nMonitor=1\r\n"
              "SerialNumber1=LAB-LEFT\r\nSerialNumber2=LAB-RIGHT\r\n");
    // A less important folder: the first one wins where both hold a key.
    writeFile(brand(second()) + "/config.ini", "[Configuration]\r\nLanguageID=5\r\nPenSelect=0\r\n");
    writeFile(brand(second()) + "/param.ini", "[Configuration]\r\nLensSelect=3\r\n");
    EXPECT_EQ(ConfigFileRW::machineWideFolders(), (QStringList{brand(first()), brand(second())}));
    const QStringList before = snapshot();
    {
        ConfigFileRW cfg(twoDisplays);
        EXPECT_TRUE(cfg.getStartProgram());
        EXPECT_EQ(cfg.getLanguageId(), 11);
        EXPECT_EQ(cfg.getPenSelect(), 1);
        EXPECT_EQ(cfg.getPenTouchMode(), 1);
        cfg.loadParam();
        EXPECT_EQ(cfg.getLensSelect(), 1);
        EXPECT_FALSE(cfg.getCheckCeiling());
        EXPECT_TRUE(cfg.getCheckRear());
        EXPECT_EQ(cfg.getMonitor(), 1);
        EXPECT_EQ(cfg.getSavedSerial(0), "LAB-LEFT");
        EXPECT_EQ(cfg.getSavedSerial(1), "LAB-RIGHT");

        // The start writes the device count: the user's config.ini then exists
        // but holds no preference, and the machine's still apply.
        cfg.saveDeviceCount();
    }
    {
        ConfigFileRW cfg(twoDisplays);
        EXPECT_EQ(cfg.getLanguageId(), 11);
        // The user changes things: saved to the user's folder only.
        cfg.setLanguageId(3);
        cfg.saveConfig();
        cfg.setPenTouchMode(0);
        cfg.savePenTouchMode();
        cfg.loadParam();
        cfg.setLensSelect(0);
        cfg.setDeviceSerial(0, "MINE-0000000001");
        cfg.setDeviceSerial(1, "MINE-0000000002");
        cfg.saveParamAll(2);
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(QFileInfo::exists(ConfigFileRW::configFilePath()));
    {
        ConfigFileRW cfg(twoDisplays);
        EXPECT_EQ(cfg.getLanguageId(), 3);
        EXPECT_EQ(cfg.getPenTouchMode(), 0);
        EXPECT_EQ(cfg.getPenSelect(), 1);   // the machine's value, now in the user's file (saveConfig)
        cfg.loadParam();
        EXPECT_EQ(cfg.getLensSelect(), 0);
        EXPECT_EQ(cfg.getMonitor(), 1);
        EXPECT_EQ(cfg.getSavedSerial(0), "MINE-0000000001");
    }
}

TEST_F(MachineWideTest, BadMachineWideFilesGiveALogLineAndDefaults)
{
    tl::test::LogCapture log;
    // Out of range or not a number: each said, each left at its default; the
    // good values beside them apply.
    writeFile(brand(first()) + "/config.ini",
              "[Configuration]\r\nStart_Program=2\r\nLanguageID=24\r\nPenSelect=1\r\nPen_Touch_Mode=-1\r\n");
    writeFile(brand(first()) + "/param.ini",
              "[Configuration]\r\nLensSelect=4\r\nCheckCeiling=0\r\nCheckRear=yes\r\nMonitor=2\r\n");
    {
        ConfigFileRW cfg(twoDisplays);
        EXPECT_FALSE(cfg.getStartProgram());
        EXPECT_EQ(cfg.getLanguageId(), 0);
        EXPECT_EQ(cfg.getPenSelect(), 1);
        EXPECT_EQ(cfg.getPenTouchMode(), 0);
        cfg.loadParam();
        EXPECT_EQ(cfg.getLensSelect(), 2);
        EXPECT_FALSE(cfg.getCheckCeiling());
        EXPECT_FALSE(cfg.getCheckRear());
        EXPECT_EQ(cfg.getMonitor(), 0);
    }
    const QString cfgPath = brand(first()) + "/config.ini";
    EXPECT_TRUE(log.contains("ConfigFileRW: " + cfgPath + ": LanguageID=24 is not a value of 0..23 - the default stays"));
    EXPECT_TRUE(log.contains("ConfigFileRW: " + cfgPath + ": Start_Program=2 is not a value of 0..1"));
    EXPECT_TRUE(log.contains("Pen_Touch_Mode=-1 is not a value of 0..1"));
    EXPECT_TRUE(log.contains("LensSelect=4 is not a value of 0..3"));
    EXPECT_TRUE(log.contains("CheckRear=yes is not a value of 0..1"));
    EXPECT_TRUE(log.contains("Monitor=2 is not a value of 0..1"));
    EXPECT_FALSE(log.contains("PenSelect=1 is not"));

    // A machine-wide "file" that cannot be read (here a folder in its place;
    // without root also a file without read permission): said, the next
    // folder and the defaults serve, nothing breaks.
    log.clear();
    QDir(brand(first())).removeRecursively();
    QDir().mkpath(brand(first()) + "/config.ini");
    writeFile(brand(first()) + "/param.ini", "[Configuration]\r\nLensSelect=1\r\n");
    QFile::setPermissions(brand(first()) + "/param.ini", QFileDevice::Permissions());
    writeFile(brand(second()) + "/config.ini", "[Configuration]\r\nLanguageID=7\r\n");
    {
        ConfigFileRW cfg(twoDisplays);
        EXPECT_EQ(cfg.getLanguageId(), 7);
        cfg.loadParam();
        if (QFile(brand(first()) + "/param.ini").open(QIODevice::ReadOnly)) {
            std::printf("running as root: a file without read permission is still readable, checked the folder only\n");
        } else {
            EXPECT_EQ(cfg.getLensSelect(), 2);
            EXPECT_TRUE(log.contains("ConfigFileRW: cannot read " + brand(first()) + "/param.ini"));
        }
        cfg.saveConfig();
    }
    EXPECT_TRUE(log.contains("ConfigFileRW: cannot read " + brand(first()) + "/config.ini - its settings are not used"));
    EXPECT_TRUE(QFileInfo(brand(first()) + "/config.ini").isDir());
    QFile::setPermissions(brand(first()) + "/param.ini", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
