// A whiteboard application reads what the driver writes: Xorg (dummy video
// driver, two outputs) with Xorg's libinput driver, Xournal++ on the board's
// output, and the driver's touch device as the real injection made it (the
// feed, FeedRecorder.h) as an evdev node of a umockdev testbed that this test
// holds, so that the events go in when the application is up. The pen's
// stroke must be drawn where the pen went, and a two-finger spread must zoom
// the page by the ratio of the fingers' distances (one touch cannot zoom).
// The screenshots go to $TL_WHITEBOARD_SHOTS when it is set.
#include "../FeedRecorder.h"
#include "../../compositors/Compositor.h"
#include "../../compositors/XorgDummy.h"

#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <X11/Xlib.h>

namespace {

const QRect kBoard(0, 0, 1280, 800);  // DUMMY0; DUMMY1 is 1920 x 1080 to its right

bool run(const QStringList &argv, const QByteArray &display, QString *out = nullptr, int waitMs = 20000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    env.remove(QStringLiteral("LD_PRELOAD"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(argv.front(), argv.mid(1));
    const bool ok = p.waitForFinished(waitMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = QString::fromLocal8Bit(p.readAll());
    return ok;
}

QImage shoot(const QByteArray &display, const QString &path)
{
    run({QStringLiteral("import"), "-window", "root", "-crop", "1280x800+0+0", "+repage", path}, display);
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// Screenshots every half second until `measure` gives the same, non-zero
// value twice running: the application has finished drawing.
template <typename Measure> QImage settled(const QByteArray &display, const QString &path, Measure measure)
{
    QImage img;
    double last = -1;
    for (int i = 0; i < 30; ++i) {
        tl::Clock::sleepMs(500);
        img = shoot(display, path);
        const double now = img.isNull() ? 0 : measure(img);
        if (now != 0 && now == last)
            return img;
        last = now;
    }
    return img;
}

// Xournal++'s default pen colour (0x3333CC), antialiased; the ruled lines are
// a light blue with far more green than red.
bool inkPixel(QRgb c)
{
    return qBlue(c) > 150 && qRed(c) < 140 && qGreen(c) < 140 && std::abs(qRed(c) - qGreen(c)) < 30;
}
bool rulePixel(QRgb c)
{
    return qBlue(c) > 240 && qGreen(c) > 140 && qGreen(c) - qRed(c) > 30 && !inkPixel(c);
}
// The page (white, ruled or its margin line) rather than the grey around it.
bool pagePixel(QRgb c)
{
    return (qBlue(c) > 235 && qGreen(c) > 140) || (qRed(c) > 240 && qBlue(c) > 160 && qGreen(c) < qBlue(c));
}

int inkCount(const QImage &img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += inkPixel(img.pixel(x, y));
    return n;
}

// The first column of the page in the middle row of the canvas.
int pageLeft(const QImage &img)
{
    for (int x = 174; x < img.width(); ++x)
        if (pagePixel(img.pixel(x, 400)))
            return x;
    return 0;
}

// The median distance between the page's ruled lines down the canvas.
double ruleSpacing(const QImage &img)
{
    std::vector<int> gaps;
    for (int x = 300; x < 1260; x += 37) {
        int last = -1;
        for (int y = 120; y < 740; ++y) {
            if (!rulePixel(img.pixel(x, y)) || (y > 0 && rulePixel(img.pixel(x, y - 1))))
                continue;
            if (last >= 0)
                gaps.push_back(y - last);
            last = y;
        }
    }
    if (gaps.empty())
        return 0;
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

double toSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0) : 0.0;
    const QPointF d = p - (a + t * ab);
    return std::hypot(d.x(), d.y());
}

} // namespace

TEST(Whiteboard, XournalDrawsThePensStrokeWhereThePenWentAndZoomsOnATwoFingerSpread)
{
    const char *preload = std::getenv("LD_PRELOAD");
    if (!preload || !std::strstr(preload, "libumockdev-preload"))
        GTEST_SKIP() << "needs umockdev-wrapper (Debian package umockdev)";
    const QString server = QFile::exists(QStringLiteral("/usr/lib/xorg/Xorg")) ? QStringLiteral("/usr/lib/xorg/Xorg")
                                                                                : Compositor::find(QStringLiteral("Xorg"));
    for (const char *program : {"xrandr", "xournalpp", "xdotool", "import"})
        if (Compositor::find(QString::fromLatin1(program)).isEmpty())
            GTEST_SKIP() << program << " is not installed (Debian packages x11-xserver-utils xournalpp xdotool "
                                       "imagemagick; tools/setup.sh --tests installs them)";
    if (server.isEmpty() || !QFile::exists(QStringLiteral("/usr/lib/xorg/modules/drivers/dummy_drv.so")) ||
        !QFile::exists(QStringLiteral("/usr/lib/xorg/modules/input/libinput_drv.so")))
        GTEST_SKIP() << "needs Xorg with the dummy video driver and the libinput input driver (Debian packages "
                        "xserver-xorg-core xserver-xorg-video-dummy xserver-xorg-input-libinput)";

    // The driver's device and streams for the board on DUMMY0: a wave drawn
    // across the board, and two fingers that spread from 1200 to 2400 sensor
    // units apart (Xournal++ zooms to 700 % at most).
    feed::Script strokeScript;
    strokeScript.monitors = {kBoard, QRect(1280, 0, 1920, 1080)};
    strokeScript.boardMonitor = 0;
    strokeScript.leadSeconds = 0;
    std::vector<QPoint> wave;
    for (int k = 0; k < 60; ++k)
        wave.push_back(QPoint(1700 + 34 * k, 1500 + int(300 * std::sin(k / 6.0))));
    strokeScript.contacts = {{wave}};
    feed::Script pinch = strokeScript;
    std::vector<QPoint> a, b;
    for (int k = 0; k < 40; ++k) {
        a.push_back(QPoint(1800 - 600 * k / 39, 1500));
        b.push_back(QPoint(3000 + 600 * k / 39, 1500));
    }
    a.insert(a.end(), 20, a.back());
    b.insert(b.end(), 20, b.back());
    pinch.contacts = {{a}, {b}};
    const feed::Feed drawn = feed::record(strokeScript);
    ASSERT_TRUE(drawn.error.isEmpty()) << drawn.error.toStdString();
    const feed::Feed spread = feed::record(pinch);
    ASSERT_TRUE(spread.error.isEmpty()) << spread.error.toStdString();
    ASSERT_EQ(drawn.board, kBoard);

    // The node, held by this test.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    ASSERT_TRUE(feed::write(drawn, dir.path(), &error)) << error.toStdString();
    const feed::PlayedNode node(drawn, dir.path());
    ASSERT_TRUE(node.error().isEmpty()) << node.error().toStdString();

    // Xorg with the libinput driver for every touchscreen, given the node.
    const QString conf = dir.path() + "/xorg.conf";
    {
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(xorgdummy::config("3200 1080", R"(Section "ServerFlags"
  Option "AutoAddDevices" "true"
EndSection
Section "InputClass"
  Identifier "touchscreens through libinput"
  MatchIsTouchscreen "on"
  Driver "libinput"
EndSection
)"));
    }
    const QByteArray display = xorgdummy::freeDisplay(150);
    Compositor x;
    ASSERT_TRUE(x.start({server, QString::fromLatin1(display), "-noreset", "-nolisten", "tcp", "-config", conf,
                         "-logfile", dir.path() + "/Xorg.log"},
                        node.environment(QStringLiteral(TL_UDEV_SHIM))));
    Display *dpy = xorgdummy::waitForDisplay(x, display);
    ASSERT_NE(dpy, nullptr) << x.log().toStdString();
    XCloseDisplay(dpy);
    // The board's 1280x800 at the origin, a 1920x1080 monitor to its right.
    QString out;
    ASSERT_TRUE(xorgdummy::setTwoOutputs(Compositor::find(QStringLiteral("xrandr")), display, "3200x1080", "1280x800",
                                         "1920x1080", false, &out))
        << out.toStdString();
    QFile xlog(dir.path() + "/Xorg.log");
    ASSERT_TRUE(xlog.open(QIODevice::ReadOnly));
    const QByteArray serverLog = xlog.readAll();
    ASSERT_TRUE(serverLog.contains("Using input driver 'libinput' for 'Tesselink Driver touch'"))
        << serverLog.right(3000).toStdString();
    EXPECT_TRUE(serverLog.contains("(type: TOUCHSCREEN")) << serverLog.right(3000).toStdString();

    // Xournal++ over the board's output, touch drawing on (a whiteboard is
    // written on with the fingers or the pen the modules see).
    const QString config = dir.path() + "/config";
    QDir().mkpath(config + "/xournalpp");
    {
        QFile f(config + "/xournalpp/settings.xml");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings>\n"
                "  <property name=\"touchDrawing\" value=\"true\"/>\n"
                "  <property name=\"zoomGesturesEnabled\" value=\"true\"/>\n</settings>\n");
    }
    Compositor app;
    ASSERT_TRUE(app.start({Compositor::find(QStringLiteral("xournalpp"))},
                          {QStringLiteral("DISPLAY=") + QString::fromLatin1(display), QStringLiteral("HOME=") + dir.path(),
                           QStringLiteral("XDG_CONFIG_HOME=") + config, QStringLiteral("LD_PRELOAD="),
                           QStringLiteral("GTK_THEME=Adwaita")}));
    QString window;
    for (int i = 0; i < 60 && window.isEmpty() && app.running(); ++i) {
        run({QStringLiteral("xdotool"), "search", "--onlyvisible", "--class", "xournalpp"}, display, &out, 5000);
        const QStringList ids = out.split('\n', Qt::SkipEmptyParts);
        if (!ids.isEmpty() && !ids.back().trimmed().isEmpty() && ids.back().trimmed().toLongLong() > 0)
            window = ids.back().trimmed();
        else
            tl::Clock::sleepMs(500);
    }
    ASSERT_FALSE(window.isEmpty()) << "no Xournal++ window:\n" << app.log().right(3000).toStdString();
    run({QStringLiteral("xdotool"), "windowmove", window, "0", "0", "windowsize", window, "1280", "800"}, display);
    // Up when the canvas shows the ruled page at its size and stays so.
    const QImage before = settled(display, dir.path() + "/before.png",
                                  [](const QImage &img) { return ruleSpacing(img) * 10000 + pageLeft(img); });
    ASSERT_GT(ruleSpacing(before), 0) << "no ruled page on the canvas";
    const int inkBefore = inkCount(before);

    // The stroke, then what the canvas shows.
    ASSERT_TRUE(node.play(drawn.stream));
    const QImage stroke = settled(display, dir.path() + "/stroke.png", inkCount);
    ASSERT_FALSE(stroke.isNull());

    // The pen's positions as the injector meant them (desktop pixels), where
    // they lie on the page (the page begins where the ruled lines are).
    auto onPage = [&](int x, int y) {
        for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx)
                if (!before.valid(x + dx, y + dy) || !pagePixel(before.pixel(x + dx, y + dy)))
                    return false;
        return true;
    };
    std::vector<QPoint> pen;
    for (const feed::Meant &m : drawn.meant)
        for (const tl::TouchRecord &r : m.touches)
            if ((r.flags & tl::TouchInContact) && onPage(r.x, r.y))
                pen.push_back(QPoint(r.x, r.y));
    ASSERT_GE(pen.size(), 20u) << "the stroke hardly crosses the page";
    int covered = 0;
    for (const QPoint &p : pen) {
        bool ink = false;
        for (int dy = -3; dy <= 3 && !ink; ++dy)
            for (int dx = -3; dx <= 3 && !ink; ++dx)
                ink = stroke.valid(p.x() + dx, p.y() + dy) && inkPixel(stroke.pixel(p.x() + dx, p.y() + dy));
        covered += ink;
    }
    EXPECT_GE(covered, int(pen.size()) * 95 / 100) << covered << " of " << pen.size() << " pen positions inked";
    // And no ink on the page away from the pen's path (the polyline through
    // every position the injector gave).
    std::vector<QPointF> path;
    for (const feed::Meant &m : drawn.meant)
        for (const tl::TouchRecord &r : m.touches)
            if (r.flags & tl::TouchInContact)
                path.push_back(QPointF(r.x, r.y));
    int stray = 0, ink = 0;
    for (int y = 0; y < stroke.height(); ++y)
        for (int x = 0; x < stroke.width(); ++x) {
            if (!inkPixel(stroke.pixel(x, y)) || !onPage(x, y))
                continue;
            ++ink;
            double nearest = 1e9;
            for (size_t i = 0; i + 1 < path.size(); ++i)
                nearest = std::min(nearest, toSegment(QPointF(x, y), path[i], path[i + 1]));
            if (nearest > 6 && ++stray <= 5)
                std::cout << "ink at " << x << ", " << y << " is " << nearest << " px from the pen's path\n";
        }
    EXPECT_GT(ink, 200) << "inked pixels, " << inkBefore << " before";
    EXPECT_EQ(stray, 0) << "inked pixels more than 6 px from the pen's path";

    // The spread: the page zooms by the ratio of the fingers' distances.
    const double spacingBefore = ruleSpacing(stroke);
    ASSERT_TRUE(node.play(spread.stream));
    const QImage zoomed = settled(display, dir.path() + "/spread.png",
                                  [](const QImage &img) { return ruleSpacing(img) * 1e7 + inkCount(img); });
    const double spacingAfter = ruleSpacing(zoomed);
    const double fingers = 2400.0 / 1200.0;
    std::cout << "stroke: " << covered << " of " << pen.size() << " pen positions on the page inked, " << ink
              << " inked pixels on the page, " << stray << " more than 6 px from the path; spread: ruled lines "
              << spacingBefore << " px apart before, " << spacingAfter << " after (fingers " << fingers << "x apart)\n";
    EXPECT_NEAR(spacingAfter / spacingBefore, fingers, 0.1 * fingers)
        << "ruled lines " << spacingBefore << " px apart before the spread, " << spacingAfter << " after";

    if (const char *shots = std::getenv("TL_WHITEBOARD_SHOTS")) {
        for (const char *name : {"before.png", "stroke.png", "spread.png"}) {
            QFile::remove(QString::fromLocal8Bit(shots) + '/' + name);
            QFile::copy(dir.path() + '/' + name, QString::fromLocal8Bit(shots) + '/' + name);
        }
    }
    app.stop();
    x.stop();
}
