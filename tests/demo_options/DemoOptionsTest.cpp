// The demo's command line is read before the toolkit's: what the demo takes
// must never be a toolkit option, and every toolkit option must get through
// untouched (Qt's xcb plugin reads "-display NAME" and "--display NAME").
#include "tools/demo/DemoOptions.h"

#include <gtest/gtest.h>

namespace {

struct Parsed
{
    bool ok = false;
    DemoOptions opt;
    QString error;
    QStringList toolkit;
};

Parsed parse(const QStringList &args)
{
    Parsed p;
    p.ok = DemoOptions::parse(QStringList{"tesselink-demo"} + args, p.opt, p.error, &p.toolkit);
    return p;
}

TEST(DemoOptions, DisplaySizeHasASpellingOfItsOwn)
{
    const Parsed p = parse({"--scenario", "pattern", "--display-size", "1280x800"});
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.opt.displayWidth, 1280);
    EXPECT_EQ(p.opt.displayHeight, 800);
    EXPECT_TRUE(p.toolkit.isEmpty()) << p.toolkit.join(' ').toStdString();
}

TEST(DemoOptions, OldDisplaySpellingIsOursOnlyWithASize)
{
    // A size is never an X display name (those hold a colon): still ours.
    Parsed p = parse({"--display", "1024x768"});
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.opt.displayWidth, 1024);
    EXPECT_EQ(p.opt.displayHeight, 768);
    EXPECT_TRUE(p.toolkit.isEmpty());

    // An X display name is the toolkit's, in both of Qt's spellings, with
    // the demo's own options around it still read.
    for (const QString &spelling : {QStringLiteral("--display"), QStringLiteral("-display")}) {
        p = parse({"--modules", "2", spelling, ":7", "--monitor", "1"});
        ASSERT_TRUE(p.ok) << spelling.toStdString() << ": " << p.error.toStdString();
        EXPECT_EQ(p.toolkit, (QStringList{spelling, ":7"})) << p.toolkit.join(' ').toStdString();
        EXPECT_EQ(p.opt.modules, 2);
        EXPECT_EQ(p.opt.monitor, 1);
        EXPECT_EQ(p.opt.displayWidth, 1920) << "a display name taken for a size";
    }
    p = parse({"--display", "otherhost:0.1"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.toolkit, (QStringList{"--display", "otherhost:0.1"}));
}

TEST(DemoOptions, SizesOutOfRangeAreRefused)
{
    for (const QString &bad : {QStringLiteral("100x100"), QStringLiteral("9000x1080"), QStringLiteral("1920x"),
                               QStringLiteral("x1080"), QStringLiteral("1920x1080x2")}) {
        const Parsed p = parse({"--display-size", bad});
        EXPECT_FALSE(p.ok) << bad.toStdString();
        EXPECT_TRUE(p.error.startsWith("--display-size takes WxH")) << p.error.toStdString();
    }
    EXPECT_FALSE(parse({"--display-size"}).ok);
}

TEST(DemoOptions, MonitorChoosesTheBoardsMonitor)
{
    Parsed p = parse({"--window", "--monitor", "1"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.opt.monitor, 1);
    EXPECT_EQ(p.opt.cameraMonitor, -1);
    p = parse({"--monitor", "1", "--camera-monitor", "0"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.opt.cameraMonitor, 0);
    EXPECT_EQ(parse({}).opt.monitor, -1) << "without --monitor the setting keeps its default";
    EXPECT_FALSE(parse({"--monitor", "-1"}).ok);
    EXPECT_FALSE(parse({"--monitor", "x"}).ok);
    EXPECT_FALSE(parse({"--monitor"}).ok);
}

TEST(DemoOptions, NoDemoOptionIsAToolkitOption)
{
    // Qt's own options (QGuiApplication, QApplication, the xcb plugin), each
    // also accepted with two dashes.
    const QStringList toolkit{"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                              "qwindowicon", "qwindowtitle", "reverse", "session", "display", "name", "style",
                              "stylesheet", "widgetcount", "geometry", "title", "icon", "visual", "ncols", "cmap",
                              "im", "inputstyle", "nograb", "dograb", "sync", "font", "fn", "bg", "background",
                              "fg", "foreground", "btn", "button", "testability", "qmljsdebugger"};
    for (const QString &name : toolkit) {
        for (const QString &dashes : {QStringLiteral("-"), QStringLiteral("--")}) {
            const QString option = dashes + name;
            const Parsed p = parse({option, "value:0"});
            EXPECT_TRUE(p.ok) << option.toStdString() << ": " << p.error.toStdString();
            EXPECT_EQ(p.toolkit, (QStringList{option, "value:0"})) << option.toStdString() << " taken by the demo";
        }
    }
    // Without a toolkit to pass them to, they are unknown.
    DemoOptions opt;
    QString error;
    EXPECT_FALSE(DemoOptions::parse({"tesselink-demo", "-display", ":1"}, opt, error));
    EXPECT_EQ(error, "unknown argument -display");
}

} // namespace
