#include "tests/support/LogCapture.h"
#include "XClient.h"

#include "input/InputInjection.h"
#include "tests/input/InputTestSupport.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/RecordingBackend.h"
#include "platform/linux/X11CompanionLink.h"

#include <gtest/gtest.h>

using tl::X11CompanionLink;
using tltest::XClient;

namespace {

const QByteArray kCanvas("TfrmCanvas\0TfrmCanvas\0", 22);
const QByteArray kQtWindow("meridan-pen\0Qt5QWindowIcon\0", 27);
const QByteArray kOther("xterm\0XTerm\0", 12);

class LinkTest : public ::testing::Test
{
protected:
    XClient x;
    X11CompanionLink link;
};

} // namespace

TEST_F(LinkTest, LookupOrderOverTheClientList)
{
    ASSERT_TRUE(link.isOpen());
    const auto other = x.createWindow(kOther, QByteArray("  Meridan-Pen"));
    const auto dialog = x.createWindow(kQtWindow, QByteArray("Dialog6601"));
    const auto pen = x.createWindow(kQtWindow, QByteArray("  Meridan-Pen"));
    const auto canvas = x.createWindow(kCanvas, QByteArray("anything"));

    // The canvas comes last in the list and still wins over the dialog.
    x.setClientList({other, pen, dialog, canvas});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), canvas);
    x.setClientList({other, pen, dialog});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), dialog);
    x.setClientList({other, pen});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), pen);
    // The right title on a window of another class is no companion.
    x.setClientList({other});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), 0u);
    // A window the window manager does not list is not looked at.
    x.setClientList({other, x.createWindow(kOther, QByteArray("plain"))});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), 0u);
    // A window manager that lists no window yet (a session starting up).
    x.setClientList({});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), 0u);
    x.clearClientList();
}

TEST_F(LinkTest, CompanionTitleNeedsItsTwoBlanks)
{
    const auto bare = x.createWindow(kQtWindow, QByteArray("Meridan-Pen"));
    const auto oneBlank = x.createWindow(kQtWindow, QByteArray(" Meridan-Pen"));
    const auto trailing = x.createWindow(kQtWindow, QByteArray("  Meridan-Pen "));
    x.setClientList({bare, oneBlank, trailing});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), 0u);

    // Without _NET_WM_NAME the ICCCM title counts.
    const auto legacy = x.createWindow(kQtWindow, std::nullopt, QByteArray("  Meridan-Pen"));
    x.setClientList({bare, legacy});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), legacy);
    // The class is the second string of WM_CLASS, not the instance.
    const auto swapped = x.createWindow(QByteArray("Qt5QWindowIcon\0other\0", 21), QByteArray("Dialog6601"));
    x.setClientList({swapped});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), 0u);
    x.clearClientList();
}

TEST_F(LinkTest, HugeOrBrokenTitlesAreSkippedWithALogLine)
{
    tl::test::LogCapture log;
    QByteArray huge(64 * 1024, 'x');
    huge.prepend("Dialog6601");
    const auto big = x.createWindow(kQtWindow, huge);
    const auto broken = x.createWindow(kQtWindow, QByteArray("Dialog6601\xff\xfe", 12));
    const auto noClass = x.createWindow(QByteArray("\xff\xff\xff", 3), QByteArray("Dialog6601"));
    const auto pen = x.createWindow(kQtWindow, QByteArray("  Meridan-Pen"));
    x.setClientList({big, broken, noClass, pen});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), pen);
    EXPECT_TRUE(log.contains("title over 1024 bytes; skipped"));
    EXPECT_TRUE(log.contains("title that is not UTF-8; skipped"));
    x.setClientList({big, broken, noClass});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), 0u);
    // A client list full of windows that are gone already.
    x.setClientList({0x7FFFFF1, 0x7FFFFF2, 0});
    EXPECT_EQ(link.findCompanion("Meridan-Pen"), 0u);
    x.clearClientList();
}

TEST_F(LinkTest, WindowStateCursorAndPenProperty)
{
    const auto shown = x.createWindow(kCanvas, std::nullopt);
    const auto unmapped = x.createWindow(kCanvas, std::nullopt, std::nullopt, false);
    EXPECT_TRUE(link.isVisible(shown));
    EXPECT_FALSE(link.isVisible(unmapped));
    EXPECT_FALSE(link.isMinimised(shown));
    const quint32 iconic[2] = {3, 0};
    x.setProperty(shown, "WM_STATE", x.atom("WM_STATE"), 32, iconic, 2);
    EXPECT_TRUE(link.isMinimised(shown));
    const quint32 normal[2] = {1, 0};
    x.setProperty(shown, "WM_STATE", x.atom("WM_STATE"), 32, normal, 2);
    const xcb_atom_t hidden = x.atom("_NET_WM_STATE_HIDDEN");
    x.setProperty(shown, "_NET_WM_STATE", XCB_ATOM_ATOM, 32, &hidden, 1);
    EXPECT_TRUE(link.isMinimised(shown));

    // The pointer over the window (100..400, 100..300): it is the window at the
    // cursor, and its press-and-hold word is read.
    xcb_warp_pointer(x.conn(), XCB_NONE, x.root(), 0, 0, 0, 0, 200, 200);
    x.sync();
    EXPECT_EQ(link.windowAtCursor(), shown);
    EXPECT_EQ(link.penServiceProperty(shown), 0u);
    const quint32 word = 0x1;
    x.setProperty(shown, X11CompanionLink::kPenServiceAtom, XCB_ATOM_CARDINAL, 32, &word, 1);
    EXPECT_EQ(link.penServiceProperty(shown), 1u);
    // A word of the wrong type is no word.
    x.setProperty(shown, X11CompanionLink::kPenServiceAtom, XCB_ATOM_STRING, 8, "1", 1);
    EXPECT_EQ(link.penServiceProperty(shown), 0u);

    x.destroyWindow(shown);
    EXPECT_FALSE(link.isVisible(shown));
    EXPECT_FALSE(link.isMinimised(shown));
    EXPECT_EQ(link.penServiceProperty(shown), 0u);
    // Contact messages do not wait for the server: the first one to a window
    // that is gone goes out, its error is read on the next send, which then
    // refuses.
    link.postMessage(shown, 0x47E, 1, 10);
    EXPECT_FALSE(link.isVisible(shown));  // a round trip: the error is in by now
    EXPECT_FALSE(link.postMessage(shown, 0x47E, 1, 10));
    EXPECT_FALSE(link.windowExists(shown));
    EXPECT_TRUE(link.windowExists(unmapped));
}

// The mouse path posts one contact message per contact to the companion window:
// message number, packed screen position and code arrive as the companion
// expects them.
TEST_F(LinkTest, ContactMessagesReachTheCompanionWindow)
{
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}});
    const auto companion = x.createWindow(kCanvas, std::nullopt);
    {
        auto backend = std::make_unique<tl::RecordingBackend>(tl::InjectionBackend::Kind::Mouse);
        tl::input::InputInjection inj(std::move(backend), &link);
        // Sensor units map one to one onto a 4800 x 3000 desktop.
        inj.setDisplayLayout(QRect(0, 0, 4800, 3000), QRect(4800, 0, 4800, 3000), 1);
        inj.setScreenSize(4800, 3000);
        inj.resetTracking(0);
        inj.setTargetWindow(companion);
        inj.configure(2, 0.8, 1);  // raw positions, as a companion with the flag set asks
        auto cycle = [&](std::initializer_list<tltest::Rec> recs) {
            const auto bytes = tltest::payload(recs);
            inj.trackingEntry(bytes.data(), int(bytes.size()), 0);
        };
        for (int k = 0; k < 3; ++k)
            cycle({{1000, 1000}, {3000, 2000}});
        cycle({});
    }
    tl::FixedScreens::uninstall();

    const auto got = x.messages(8, 3000);
    const xcb_atom_t contact = x.atom(X11CompanionLink::kContactAtom);
    std::vector<std::array<quint32, 3>> index0, index1;
    for (const auto &m : got) {
        EXPECT_EQ(m.window, companion);
        EXPECT_EQ(m.type, contact);
        EXPECT_EQ(m.format, 32);
        if (m.data[0] == 0x47E)
            index0.push_back({m.data[0], m.data[1], m.data[2]});
        else if (m.data[0] == 0x473)
            index1.push_back({m.data[0], m.data[1], m.data[2]});
        else
            ADD_FAILURE() << "message number " << m.data[0];
    }
    const quint32 at0 = (1000u << 16) | 1000u;
    const quint32 at1 = (3000u << 16) | 2000u;
    using V = std::vector<std::array<quint32, 3>>;
    EXPECT_EQ(index0, (V{{0x47E, at0, 50}, {0x47E, at0, 10}, {0x47E, at0, 10}, {0x47E, at0, 60}}));
    EXPECT_EQ(index1, (V{{0x473, at1, 50}, {0x473, at1, 10}, {0x473, at1, 10}, {0x473, at1, 60}}));
}
