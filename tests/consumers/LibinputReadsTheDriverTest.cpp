// libinput reads what the driver writes. The real injection (tracking path,
// injector, the uinput backend the factory picks) runs against an emulated
// /dev/uinput; the device it set up and the events it wrote are played to
// `libinput debug-events --device` as an evdev node of a umockdev testbed, and
// libinput must list a touchscreen (or, on the mouse path, a pointer with
// buttons) and report every down, motion and up at the desktop pixel the
// injector asked for.
#include "FeedRecorder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <iostream>
#include <map>

namespace {

struct Seen
{
    QString kind;  // TOUCH_DOWN, TOUCH_MOTION, ...
    int slot = -1;
    double x = 0, y = 0;  // desktop pixels
    QString text;         // the rest of libinput's line
};

struct Reading
{
    QString added;  // the DEVICE_ADDED line
    QString log;    // everything libinput said
    std::vector<Seen> events;
};

class LibinputReads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char *preload = std::getenv("LD_PRELOAD");
        if (!preload || !std::strstr(preload, "libumockdev-preload"))
            GTEST_SKIP() << "needs umockdev-wrapper (Debian package umockdev)";
        m_libinput = QStandardPaths::findExecutable(QStringLiteral("libinput"));
        if (m_libinput.isEmpty() || !QFile::exists(QStringLiteral("/usr/libexec/libinput/libinput-debug-events")))
            GTEST_SKIP() << "needs libinput debug-events (Debian package libinput-tools; tools/setup.sh --tests installs it)";
        ASSERT_TRUE(m_dir.isValid());
    }

    // The feed played to libinput debug-events: the events go in once
    // libinput has added the device, and it is stopped once it has said
    // nothing more for half a second.
    Reading read(const feed::Feed &f, const QString &name)
    {
        Reading r;
        const QString dir = m_dir.path() + '/' + name;
        QString error;
        if (!feed::write(f, dir, &error)) {
            ADD_FAILURE() << error.toStdString();
            return r;
        }
        const feed::PlayedNode node(f, dir);
        if (!node.error().isEmpty()) {
            ADD_FAILURE() << node.error().toStdString();
            return r;
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &e : node.environment(QStringLiteral(TL_UDEV_SHIM)))
            env.insert(e.section('=', 0, 0), e.section('=', 1));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        // Line by line: what libinput says comes as it says it.
        p.start(QStringLiteral("stdbuf"), {"-oL", m_libinput, "debug-events", "--verbose", "--device", f.device.node});
        QByteArray out;
        for (int i = 0; i < 200 && !out.contains("DEVICE_ADDED") && p.state() != QProcess::NotRunning; ++i) {
            p.waitForReadyRead(100);
            out += p.readAll();
        }
        if (out.contains("DEVICE_ADDED")) {
            EXPECT_TRUE(node.play(f.stream));
            for (int quiet = 0; quiet < 5 && p.state() != QProcess::NotRunning;) {
                quiet = p.waitForReadyRead(100) ? 0 : quiet + 1;
                out += p.readAll();
            }
        }
        ::kill(pid_t(p.processId()), SIGINT);
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished();
        }
        out += p.readAll();
        r.log = QString::fromLocal8Bit(out);
        std::cout << "---- libinput debug-events, " << name.toStdString() << ":\n" << r.log.toStdString();

        const QRegularExpression line(QStringLiteral("^\\s*-?event\\d+\\s+(\\w+)\\s+(?:\\+\\S+s\\s+)?(.*)$"));
        const QRegularExpression touch(QStringLiteral("^(\\d+) \\(\\d+\\)(?: (-?[0-9.]+)/(-?[0-9.]+))?"));
        const QRegularExpression absolute(QStringLiteral("^\\s*(-?[0-9.]+)/\\s*(-?[0-9.]+)"));
        for (const QString &l : r.log.split('\n')) {
            const QRegularExpressionMatch m = line.match(l);
            if (!m.hasMatch())
                continue;
            Seen s;
            s.kind = m.captured(1);
            s.text = m.captured(2).trimmed();
            if (s.kind == QLatin1String("DEVICE_ADDED")) {
                r.added = l;
                continue;
            }
            // libinput gives positions in percent of the device's range, which
            // the compositor spans over the desktop.
            const QRegularExpressionMatch t = touch.match(s.text);
            const QRegularExpressionMatch a = absolute.match(s.text);
            if (s.kind.startsWith(QLatin1String("TOUCH_")) && t.hasMatch()) {
                s.slot = t.captured(1).toInt();
                if (!t.captured(2).isEmpty()) {
                    s.x = f.desktop.left() + t.captured(2).toDouble() * f.desktop.width() / 100.0;
                    s.y = f.desktop.top() + t.captured(3).toDouble() * f.desktop.height() / 100.0;
                }
            } else if (s.kind == QLatin1String("POINTER_MOTION_ABSOLUTE") && a.hasMatch()) {
                s.x = f.desktop.left() + a.captured(1).toDouble() * f.desktop.width() / 100.0;
                s.y = f.desktop.top() + a.captured(2).toDouble() * f.desktop.height() / 100.0;
            }
            if (s.kind != QLatin1String("TOUCH_FRAME"))
                r.events.push_back(s);
        }
        return r;
    }

    QTemporaryDir m_dir;
    QString m_libinput;
};

// What a touchscreen consumer should see per slot: a down, the positions the
// contact moved to, an up; from the records the injector gave the backend.
std::map<int, std::vector<Seen>> expectedTouches(const feed::Feed &f)
{
    std::map<int, std::vector<Seen>> out;
    std::map<int, bool> down;
    for (const feed::Meant &m : f.meant) {
        for (const tl::TouchRecord &r : m.touches) {
            const bool inContact = r.flags & tl::TouchInContact;
            Seen s;
            s.slot = r.pointerId;
            s.x = r.x;
            s.y = r.y;
            if ((r.flags & tl::TouchDown) && inContact) {
                s.kind = QStringLiteral("TOUCH_DOWN");
                out[r.pointerId].push_back(s);
                down[r.pointerId] = true;
            } else if (down[r.pointerId] && ((r.flags & tl::TouchUp) || !inContact)) {
                s.kind = QStringLiteral("TOUCH_UP");
                out[r.pointerId].push_back(s);
                down[r.pointerId] = false;
            } else if (down[r.pointerId] && inContact &&
                       (r.x != out[r.pointerId].back().x || r.y != out[r.pointerId].back().y)) {
                s.kind = QStringLiteral("TOUCH_MOTION");
                out[r.pointerId].push_back(s);
            }
        }
    }
    return out;
}

// Every touch event libinput reported, per slot, against what was meant: the
// same downs, motions and ups in the same order, each within half a pixel.
void expectTouchesAsMeant(const feed::Feed &f, const Reading &r)
{
    std::map<int, std::vector<Seen>> seen;
    for (const Seen &s : r.events)
        if (s.slot >= 0)
            seen[s.slot].push_back(s);
    const std::map<int, std::vector<Seen>> meant = expectedTouches(f);
    ASSERT_FALSE(meant.empty());
    EXPECT_EQ(seen.size(), meant.size()) << "slots libinput reported";
    for (const auto &[slot, want] : meant) {
        const std::vector<Seen> &got = seen[slot];
        ASSERT_EQ(got.size(), want.size()) << "events of slot " << slot;
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].kind, want[i].kind) << "slot " << slot << " event " << i;
            if (want[i].kind == QLatin1String("TOUCH_UP"))
                continue;
            EXPECT_NEAR(got[i].x, want[i].x, 0.5) << "slot " << slot << " event " << i << ": " << got[i].text.toStdString();
            EXPECT_NEAR(got[i].y, want[i].y, 0.5) << "slot " << slot << " event " << i << ": " << got[i].text.toStdString();
            EXPECT_TRUE(f.board.contains(QPoint(int(got[i].x), int(got[i].y))))
                << "off the board's monitor: " << got[i].x << ", " << got[i].y;
        }
    }
}

int count(const Reading &r, const char *kind, int slot = -1)
{
    int n = 0;
    for (const Seen &s : r.events)
        n += s.kind == QLatin1String(kind) && (slot < 0 || s.slot == slot);
    return n;
}

// The board on the right-hand monitor of two: device positions are desktop
// pixels over the union, 3200 x 1080.
feed::Script touchScript()
{
    feed::Script s;
    s.monitors = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 800)};
    s.boardMonitor = 1;
    return s;
}

std::vector<QPoint> line(QPoint from, QPoint to, int reports)
{
    std::vector<QPoint> out;
    for (int k = 0; k < reports; ++k)
        out.push_back(from + (to - from) * k / (reports - 1));
    return out;
}

void expectTouchscreen(const Reading &r)
{
    EXPECT_TRUE(r.log.contains(QLatin1String("is tagged by udev as: Touchscreen"))) << r.log.toStdString();
    EXPECT_TRUE(r.added.contains(QLatin1String("Tesselink Driver touch"))) << r.added.toStdString();
    EXPECT_TRUE(r.added.contains(QLatin1String("cap:t "))) << "not a touch device: " << r.added.toStdString();
    EXPECT_TRUE(r.added.contains(QLatin1String("ntouches 10"))) << r.added.toStdString();
}

} // namespace

TEST_F(LibinputReads, AOneFingerStrokeIsATouchscreenContactAlongThePensPath)
{
    feed::Script s = touchScript();
    s.contacts = {{line(QPoint(600, 600), QPoint(4200, 2400), 40)}};
    const feed::Feed f = feed::record(s);
    ASSERT_TRUE(f.error.isEmpty()) << f.error.toStdString();
    EXPECT_EQ(f.udevClass, QStringLiteral("touchscreen"));
    const Reading r = read(f, QStringLiteral("stroke"));
    expectTouchscreen(r);
    EXPECT_EQ(count(r, "TOUCH_DOWN"), 1);
    EXPECT_EQ(count(r, "TOUCH_UP"), 1);
    EXPECT_GE(count(r, "TOUCH_MOTION"), 30);
    expectTouchesAsMeant(f, r);
}

TEST_F(LibinputReads, ATwoFingerPinchIsTwoContactsThatSpreadApart)
{
    feed::Script s = touchScript();
    s.contacts = {{line(QPoint(2100, 1400), QPoint(900, 700), 30)}, {line(QPoint(2700, 1600), QPoint(3900, 2300), 30)}};
    const feed::Feed f = feed::record(s);
    ASSERT_TRUE(f.error.isEmpty()) << f.error.toStdString();
    const Reading r = read(f, QStringLiteral("pinch"));
    expectTouchscreen(r);
    EXPECT_EQ(count(r, "TOUCH_DOWN"), 2);
    EXPECT_EQ(count(r, "TOUCH_UP"), 2);
    expectTouchesAsMeant(f, r);
    // Both contacts are down at once, and they end further apart than they began.
    std::map<int, Seen> first, last;
    bool together = false;
    int down = 0;
    for (const Seen &e : r.events) {
        if (e.kind == QLatin1String("TOUCH_DOWN"))
            together = together || ++down == 2;
        if (e.kind == QLatin1String("TOUCH_UP"))
            --down;
        if (e.kind == QLatin1String("TOUCH_DOWN"))
            first[e.slot] = e;
        if (e.kind == QLatin1String("TOUCH_DOWN") || e.kind == QLatin1String("TOUCH_MOTION"))
            last[e.slot] = e;
    }
    EXPECT_TRUE(together);
    ASSERT_EQ(first.size(), 2u);
    auto gap = [](const Seen &a, const Seen &b) { return std::hypot(a.x - b.x, a.y - b.y); };
    EXPECT_GT(gap(last.begin()->second, last.rbegin()->second), 2 * gap(first.begin()->second, first.rbegin()->second));
}

TEST_F(LibinputReads, AHoldIsOneStillContact)
{
    feed::Script s = touchScript();
    s.contacts = {{std::vector<QPoint>(100, QPoint(3600, 750))}};  // a second still
    const feed::Feed f = feed::record(s);
    ASSERT_TRUE(f.error.isEmpty()) << f.error.toStdString();
    const Reading r = read(f, QStringLiteral("hold"));
    expectTouchscreen(r);
    EXPECT_EQ(count(r, "TOUCH_DOWN"), 1);
    EXPECT_EQ(count(r, "TOUCH_MOTION"), 0);
    EXPECT_EQ(count(r, "TOUCH_UP"), 1);
    expectTouchesAsMeant(f, r);
}

TEST_F(LibinputReads, TheMousePathIsAnAbsolutePointerWhoseButtonGoesDownAndUpWhereThePenWas)
{
    feed::Script s = touchScript();
    s.path = feed::Script::Path::Mouse;
    s.raw = true;
    s.eventNumber = 41;
    // A pen on a quarter of the board across and down, still for four
    // reports (the press), then to three quarters, still again, lifted.
    // Steps well below the distance at which the tracking path takes a
    // position for a new contact.
    std::vector<QPoint> path(4, QPoint(1200, 750));
    for (const QPoint &p : line(QPoint(1200, 750), QPoint(3600, 2250), 30))
        path.push_back(p);
    path.insert(path.end(), 3, QPoint(3600, 2250));
    s.contacts = {{path}};
    const feed::Feed f = feed::record(s);
    ASSERT_TRUE(f.error.isEmpty()) << f.error.toStdString();
    EXPECT_EQ(f.udevClass, QStringLiteral("mouse"));
    const Reading r = read(f, QStringLiteral("mouse"));
    EXPECT_TRUE(r.log.contains(QLatin1String("is tagged by udev as: Mouse"))) << r.log.toStdString();
    EXPECT_TRUE(r.added.contains(QLatin1String("Tesselink Driver pointer"))) << r.added.toStdString();
    EXPECT_TRUE(r.added.contains(QLatin1String("cap:p "))) << "not a pointer: " << r.added.toStdString();
    EXPECT_FALSE(r.added.contains(QLatin1String("cap:pt")) || r.added.contains(QLatin1String("cap:t")));

    // The absolute positions libinput reports are the ones the injector sent
    // (0..65535 over the desktop), and the button goes down at a quarter of
    // the board and up at three quarters.
    std::vector<QPointF> sent;
    for (const feed::Meant &m : f.meant)
        if (m.mouseFlags & tl::MouseMove)
            sent.push_back(QPointF(f.desktop.left() + m.absX * double(f.desktop.width()) / 65536.0,
                                   f.desktop.top() + m.absY * double(f.desktop.height()) / 65536.0));
    std::vector<QPointF> got;
    QPointF at(-1, -1), pressedAt(-1, -1), releasedAt(-1, -1);
    int presses = 0, releases = 0;
    for (const Seen &e : r.events) {
        if (e.kind == QLatin1String("POINTER_MOTION_ABSOLUTE")) {
            at = QPointF(e.x, e.y);
            if (got.empty() || got.back() != at)
                got.push_back(at);
        }
        if (e.kind == QLatin1String("POINTER_BUTTON") && e.text.startsWith(QLatin1String("BTN_LEFT"))) {
            if (e.text.contains(QLatin1String("pressed"))) {
                ++presses;
                pressedAt = at;
            } else if (e.text.contains(QLatin1String("released"))) {
                ++releases;
                releasedAt = at;
            }
        }
    }
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(releases, 1);
    std::vector<QPointF> distinct;
    for (const QPointF &p : sent)
        if (distinct.empty() || distinct.back() != p)
            distinct.push_back(p);
    ASSERT_EQ(got.size(), distinct.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x(), distinct[i].x(), 0.5) << i;
        EXPECT_NEAR(got[i].y(), distinct[i].y(), 0.5) << i;
    }
    const QRect b = f.board;
    EXPECT_NEAR(pressedAt.x(), b.left() + b.width() / 4.0, 1.0);
    EXPECT_NEAR(pressedAt.y(), b.top() + b.height() / 4.0, 1.0);
    EXPECT_NEAR(releasedAt.x(), b.left() + 3 * b.width() / 4.0, 1.0);
    EXPECT_NEAR(releasedAt.y(), b.top() + 3 * b.height() / 4.0, 1.0);
}
