// The pinners against the real compositors, each started headless here with
// two outputs. Headless mutter and KWin open no input devices and libinput
// takes no emulated device, so against them the tests prove the matching of
// the board's monitor and that nothing is claimed that the compositor did not
// confirm; the confirmed paths are covered by the fakes in test_output_mapping.
#include <gio/gio.h>  // GIO before Qt

#include "Compositor.h"

#include "platform/linux/OutputPinners.h"
#include "platform/linux/TouchMapping.h"
#include "platform/Clock.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using tl::MonitorInfo;

tl::PinRequest requestFor(const QString &qtName, const QRect &at)
{
    tl::PinRequest r;
    r.name = "Tesselink Driver touch";
    r.devnode = QStringLiteral("/dev/input/event40");
    MonitorInfo m(at);
    m.name = qtName;
    r.outputs = {m};
    r.area = at;
    return r;
}

QStringList storedOutput()
{
    GSettings *s = g_settings_new_with_path(tl::kGnomeTouchscreenSchema,
                                            "/org/gnome/desktop/peripherals/touchscreens/16d0:0f8c/");
    gchar **v = g_settings_get_strv(s, "output");
    QStringList out;
    for (gchar **p = v; p && *p; ++p)
        out << QString::fromUtf8(*p);
    g_strfreev(v);
    g_object_unref(s);
    return out;
}

#define SKIP_WITHOUT(program, package)                                                                    \
    const QString program##Path = Compositor::find(QStringLiteral(#program));                             \
    if (program##Path.isEmpty())                                                                          \
    GTEST_SKIP() << #program " is not installed (Debian package " package "; tools/setup.sh --tests installs it)"

bool startMutter(Compositor &mutter, const QString &path)
{
    return mutter.start({path, "--wayland", "--headless", "--no-x11", "--virtual-monitor", "1920x1080",
                         "--virtual-monitor", "1280x800", "--wayland-display", "tl-mutter"}) &&
           mutter.waitForBusName(QStringLiteral("org.gnome.Mutter.DisplayConfig")) &&
           mutter.waitForBusName(QStringLiteral("org.gnome.Mutter.InputMapping"));
}

} // namespace

// ---- mutter ------------------------------------------------------------------

TEST(RealMutter, TheBoardsMonitorIsFoundInDisplayConfigAndNothingUnconfirmedIsClaimed)
{
    SKIP_WITHOUT(mutter, "mutter");
    Compositor mutter;
    ASSERT_TRUE(startMutter(mutter, mutterPath)) << mutter.log().toStdString();
    tl::GnomeOutputPinner pinner(QDBusConnection::sessionBus());
    QList<tl::GnomeOutputPinner::MutterMonitor> monitors;
    QString error;
    ASSERT_TRUE(pinner.currentMonitors(&monitors, &error)) << error.toStdString();
    ASSERT_EQ(monitors.size(), 2);
    for (const auto &m : monitors) {
        EXPECT_TRUE(m.placed) << m.connector.toStdString();
        EXPECT_EQ(m.transform, 0);
    }
    // The second virtual monitor, named as Qt names it through XWayland: found
    // by its place in mutter's layout.
    const auto *second = monitors[0].position == QPoint(1920, 0) ? &monitors[0] : &monitors[1];
    ASSERT_EQ(second->position, QPoint(1920, 0));
    const tl::PinResult r = pinner.pin(requestFor(QStringLiteral("XWAYLAND1"), QRect(1920, 0, 1280, 800)));
    // The key names that monitor as mutter describes it ...
    EXPECT_EQ(storedOutput(), (QStringList{second->vendor, second->product, second->serial}));
    EXPECT_EQ(second->vendor, QStringLiteral("MetaVendor"));
    // ... and since headless mutter has no such device, InputMapping cannot
    // confirm it: a failure with mutter's reason, not a success.
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("Device does not exist"))) << r.error.toStdString();
    EXPECT_TRUE(r.error.contains(second->connector)) << r.error.toStdString();
    // A monitor mutter does not have.
    const tl::PinResult none = pinner.pin(requestFor(QStringLiteral("HDMI-1"), QRect(4000, 0, 800, 600)));
    EXPECT_FALSE(none.ok);
    EXPECT_TRUE(none.error.contains(QStringLiteral("knows no monitor"))) << none.error.toStdString();
}

TEST(RealMutter, AMutterThatDiedIsAFailureWithItsReason)
{
    SKIP_WITHOUT(mutter, "mutter");
    Compositor mutter;
    ASSERT_TRUE(startMutter(mutter, mutterPath)) << mutter.log().toStdString();
    mutter.kill();
    const tl::PinResult r = tl::GnomeOutputPinner(QDBusConnection::sessionBus())
                                .pin(requestFor(QStringLiteral("Meta-1"), QRect(1920, 0, 1280, 800)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("DisplayConfig"))) << r.error.toStdString();
}

// ---- KWin --------------------------------------------------------------------

namespace {

// kwin_wayland carries a file capability (CAP_SYS_NICE) that exec refuses in
// a container without it; a plain copy runs.
QString plainCopy(const QString &path, const QString &dir)
{
    const QString copy = dir + QStringLiteral("/kwin_wayland");
    QFile::remove(copy);
    return QFile::copy(path, copy) && QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner) ? copy
                                                                                                       : QString();
}

bool startKWin(Compositor &kwin, const QString &path, QString *copyDir)
{
    char dir[] = "/tmp/tl-kwin-bin-XXXXXX";
    if (!::mkdtemp(dir))
        return false;
    *copyDir = QString::fromLocal8Bit(dir);
    const QString copy = plainCopy(path, *copyDir);
    return !copy.isEmpty() &&
           kwin.start({copy, "--virtual", "--width", "1280", "--height", "800", "--output-count", "2", "--socket",
                       "tl-kwin"},
                      {"QT_QPA_PLATFORM=offscreen"}) &&
           kwin.waitForBusName(QStringLiteral("org.kde.KWin"));
}

} // namespace

TEST(RealKWin, TheOutputsAreReadFromKWinAndAnUnknownOneIsRefused)
{
    SKIP_WITHOUT(kwin_wayland, "kwin-wayland");
    Compositor kwin;
    QString copyDir;
    ASSERT_TRUE(startKWin(kwin, kwin_waylandPath, &copyDir)) << kwin.log().toStdString();
    tl::KWinOutputPinner pinner(QDBusConnection::sessionBus());
    QList<tl::KWinOutputPinner::KWinOutput> outputs;
    QString error;
    // KWin fills its support information once its outputs are up.
    for (int i = 0; i < 50 && (!pinner.outputs(&outputs, &error) || outputs.size() < 2); ++i)
        tl::Clock::sleepMs(100);
    ASSERT_EQ(outputs.size(), 2) << error.toStdString();
    EXPECT_EQ(outputs[0].name, QStringLiteral("Virtual-0"));
    EXPECT_EQ(outputs[0].geometry, QRect(0, 0, 1280, 800));
    EXPECT_EQ(outputs[1].name, QStringLiteral("Virtual-1"));
    EXPECT_EQ(outputs[1].geometry, QRect(1280, 0, 1280, 800));
    EXPECT_TRUE(outputs[0].enabled && outputs[1].enabled);

    // The second output, named as Qt may name it: found by its rectangle; KWin
    // has no device object without libinput, so the write is refused and
    // nothing is claimed.
    tl::PinResult r = pinner.pin(requestFor(QStringLiteral("WL-2"), QRect(1280, 0, 1280, 800)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("outputName Virtual-1"))) << r.error.toStdString();
    // An output KWin does not have: refused before any write.
    r = pinner.pin(requestFor(QStringLiteral("HDMI-A-1"), QRect(4000, 0, 800, 600)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("no output HDMI-A-1"))) << r.error.toStdString();
    EXPECT_TRUE(r.error.contains(QStringLiteral("Virtual-0, Virtual-1"))) << r.error.toStdString();

    kwin.kill();
    r = pinner.pin(requestFor(QStringLiteral("Virtual-1"), QRect(1280, 0, 1280, 800)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("supportInformation"))) << r.error.toStdString();
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), copyDir});
}

// ---- sway --------------------------------------------------------------------

TEST(RealSway, OutputsAreCheckedAgainstGetOutputsBecauseSwayAcceptsAnyName)
{
    SKIP_WITHOUT(sway, "sway");
    const QString setpriv = Compositor::find(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        GTEST_SKIP() << "setpriv is not installed (sway refuses to run as root; Debian package util-linux)";
    Compositor sway;
    // sway drops no root: it runs as nobody, with a config of two outputs,
    // the second turned (sway's clockwise 90).
    char cfgDir[] = "/tmp/tl-sway-cfg-XXXXXX";
    ASSERT_NE(::mkdtemp(cfgDir), nullptr);
    const QString config = QString::fromLocal8Bit(cfgDir) + QStringLiteral("/config");
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("output HEADLESS-1 mode 1920x1080 position 0 0\n"
                "output HEADLESS-2 mode 1280x800 position 1920 0 transform 90\n");
    }
    ::chmod(cfgDir, 0755);
    ::chmod(config.toLocal8Bit().constData(), 0644);
    ASSERT_TRUE(sway.start({setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", swayPath, "-c", config},
                           {"WLR_BACKENDS=headless", "WLR_HEADLESS_OUTPUTS=2", "WLR_RENDERER=pixman",
                            "WLR_LIBINPUT_NO_DEVICES=1", "HOME=/tmp"},
                           65534));
    // sway names its socket after its uid and pid; find it.
    QString found;
    for (int i = 0; i < 100 && found.isEmpty() && sway.running(); ++i) {
        tl::Clock::sleepMs(100);
        const QStringList socks = QDir(sway.runtimeDir()).entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
        if (!socks.isEmpty())
            found = sway.runtimeDir() + QLatin1Char('/') + socks.first();
    }
    ASSERT_FALSE(found.isEmpty()) << sway.log().toStdString();
    tl::SwayOutputPinner pinner(found);
    QList<tl::SwayOutputPinner::SwayOutput> outputs;
    QString error;
    for (int i = 0; i < 50 && (!pinner.outputs(&outputs, &error) || outputs.size() < 2); ++i)
        tl::Clock::sleepMs(100);
    ASSERT_EQ(outputs.size(), 2) << error.toStdString();
    EXPECT_EQ(outputs[0].name, QStringLiteral("HEADLESS-1"));
    EXPECT_EQ(outputs[0].rect, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(outputs[0].transform, 0);
    EXPECT_EQ(outputs[1].name, QStringLiteral("HEADLESS-2"));
    EXPECT_EQ(outputs[1].rect, QRect(1920, 0, 800, 1280));
    EXPECT_EQ(outputs[1].transform, 3);  // the protocol's 270

    // What sway itself answers for an output it does not have ...
    QByteArray reply;
    ASSERT_TRUE(pinner.runCommand("input \"5840:3980:Tesselink_Driver_touch\" map_to_output \"HDMI-A-9\"", &reply,
                                  &error))
        << error.toStdString();
    EXPECT_TRUE(reply.contains("\"success\": true") || reply.contains("\"success\":true")) << reply.constData();
    // ... and what the pinner says.
    tl::PinResult r = pinner.pin(requestFor(QStringLiteral("HDMI-A-9"), QRect(4000, 0, 800, 600)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("it has HEADLESS-1, HEADLESS-2"))) << r.error.toStdString();
    // A real output, but no such device (sway here has no input devices).
    r = pinner.pin(requestFor(QString(), QRect(1920, 0, 800, 1280)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QStringLiteral("lists no input device 5840:3980:Tesselink_Driver_touch")))
        << r.error.toStdString();
    // sway gone: a failure with the reason.
    sway.kill();
    r = pinner.pin(requestFor(QStringLiteral("HEADLESS-1"), QRect(0, 0, 1920, 1080)));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(found)) << r.error.toStdString();
    sway.stop();
    QDir(QString::fromLocal8Bit(cfgDir)).removeRecursively();
}
