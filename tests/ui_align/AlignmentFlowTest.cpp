// The alignment view in the whole driver (main window, controller, device
// layer) on emulated modules: frames, exchange, mask round trip, unplugging, and
// the lock order of mask download and register writes.
#include "app/Corvane.h"
#include "app/CorvaneTray.h"
#include "calibration/WaitDlg.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "device/codec/Records.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "ui/AlignmentDlg.h"
#include "tests/support/MainWindowFixture.h"
#include "ui/maskDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

using namespace tl::codec;
using tl::sim::EmulatedBus;
using tl::sim::ModuleVariant;

namespace {

// QTest::mouseMove moves the cursor, which the offscreen platform does not turn
// into events: the move of a held button goes to the widget directly.
void dragTo(QWidget *w, QPoint p)
{
    QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

const QString kRemoval = "USB\\VID_16D0&PID_0F8C&MI_02\\3-2";

// Counts log lines that contain one of a few texts; the receive threads log too.
class LineCounter
{
public:
    explicit LineCounter(std::initializer_list<const char *> texts)
    {
        s_texts.assign(texts.begin(), texts.end());
        for (auto &c : s_counts)
            c = 0;
        m_previous = qInstallMessageHandler(&LineCounter::handler);
    }
    ~LineCounter() { qInstallMessageHandler(m_previous); }
    int count(size_t i) const { return s_counts[i].load(); }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg)
    {
        for (size_t i = 0; i < s_texts.size() && i < s_counts.size(); ++i)
            if (msg.contains(QLatin1String(s_texts[i])))
                ++s_counts[i];
    }
    static inline std::vector<const char *> s_texts;
    static inline std::array<std::atomic<int>, 4> s_counts{};
    QtMessageHandler m_previous = nullptr;
};

// The driver on two monitors; driver time ten times faster.
class AlignmentFlowTest : public tl::test::MainWindowFixture
{
protected:
    AlignmentFlowTest()
        : MainWindowFixture(10, {{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}})
    {
    }

    void start()
    {
        makeWindow();
        window->initialStart();
        settle(10);
    }

    nqmaincontrol *control() const { return window->control(); }
    AlignmentDlg *view() const { return window->alignmentView(); }

    int shown(int i) const { return control()->alignFrameStats().shown[i]; }

    // Paints one stroke on the mask editor.
    static void stroke(QWidget *editor, QPoint from, QPoint to, int steps)
    {
        QTest::mousePress(editor, Qt::LeftButton, {}, from);
        for (int i = 1; i <= steps; ++i)
            dragTo(editor, from + (to - from) * i / steps);
        QTest::mouseRelease(editor, Qt::LeftButton, {}, to);
    }
};

TEST_F(AlignmentFlowTest, TwoModulesStreamFramesOneRequestPerShownFrameThenTrackAgain)
{
    auto modules = bus.plugAll(tl::sim::moduleSeries(2, true));
    start();
    ASSERT_EQ(control()->threadState(), etaTRACKING);

    LineCounter log({"Resend SendFrame", "NotifyWait: true", "NotifyWait: false"});
    QSignalSpy images(control(), &nqmaincontrol::updateAlignImage);
    window->tray()->action(CorvaneTray::ActAlignment)->trigger();
    EXPECT_EQ(control()->systemState(), esysUSER_ALIGNMENT_VIEW);
    EXPECT_EQ(control()->threadState(), etaDISPLAY);
    EXPECT_TRUE(view()->isVisible());
    EXPECT_TRUE(view()->displaying());
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 6 && shown(1) >= 6; }));
    EXPECT_FALSE(view()->findChild<QLabel *>("label1")->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_FALSE(view()->findChild<QLabel *>("label2")->pixmap(Qt::ReturnByValue).isNull());
    // A grey frame as colour: R = G = B.
    const QImage last = images.back()[0].value<QImage>();
    ASSERT_EQ(last.size(), QSize(640, 360));
    EXPECT_EQ(last.format(), QImage::Format_RGB888);
    const QColor c = last.pixelColor(123, 45);
    EXPECT_TRUE(c.red() == c.green() && c.green() == c.blue());

    const int waitsShown = log.count(1), waitsHidden = log.count(2);
    QTest::mouseClick(view()->findChild<QPushButton *>("pushButton1"), Qt::LeftButton);
    // Back to tracking behind the wait dialog, which is gone once tracking runs.
    EXPECT_EQ(log.count(1), waitsShown + 1);
    EXPECT_GE(log.count(2), waitsHidden + 1);
    EXPECT_FALSE(view()->isVisible());
    EXPECT_FALSE(view()->displaying());
    EXPECT_EQ(control()->threadState(), etaTRACKING);
    EXPECT_FALSE(control()->waitDialog()->isVisible());
    settle(10);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(modules[static_cast<size_t>(i)]->tracking());
        // The first request comes with the stream's start; every other one follows
        // a shown frame (or the receive loop's resend after two silent seconds).
        const int requests = modules[static_cast<size_t>(i)]->receivedCount(CMD_SENDFRM_MONO);
        EXPECT_GE(requests, shown(i)) << i;
        EXPECT_LE(requests, shown(i) + 1 + log.count(0)) << i;
    }
    // Gain of the opening (level 5: 256) reached both modules at a frame end.
    for (const auto &m : modules)
        EXPECT_FALSE(m->registerLog().empty()) << m->serial();
}

TEST_F(AlignmentFlowTest, AFrameOfAnotherSizeEndsTheStream)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-ONE", 15));
    start();
    // The fourth frame's pieces announce 1,000 bytes instead of 230,400.
    tl::sim::FaultPlan faults;
    tl::sim::PacketRule rule;
    rule.code = DAT_IMG;
    rule.skip = 3 * 480;
    rule.times = 480;
    rule.fault = tl::sim::PacketFault::Mutate;
    rule.mutate = [](std::vector<uint8_t> &bytes) {
        const int32_t size = 1000;
        std::memcpy(bytes.data() + 12, &size, 4);
    };
    faults.packets.push_back(rule);
    module->setFaults(faults);

    QSignalSpy images(control(), &nqmaincontrol::updateAlignImage);
    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return control()->alignFrameStats().refused >= 1; }));
    const int requests = module->receivedCount(CMD_SENDFRM_MONO);
    EXPECT_EQ(shown(0), 3);
    EXPECT_EQ(images.size(), 3);
    // Well past the receive loop's two-second resend: nothing more is asked or shown.
    settle(300);
    EXPECT_EQ(module->receivedCount(CMD_SENDFRM_MONO), requests);
    EXPECT_EQ(requests, 4);
    EXPECT_EQ(shown(0), 3);
    EXPECT_EQ(images.size(), 3);
    EXPECT_EQ(control()->alignFrameStats().refused, 1);
    // No buffer, a module index outside the two, a negative size: refused alike.
    std::vector<unsigned char> whole(640 * 360, 1);
    control()->slotNewFrameReceived(nullptr, 640 * 360, 0);
    control()->slotNewFrameReceived(whole.data(), 640 * 360, 7);
    control()->slotNewFrameReceived(whole.data(), -1, 0);
    EXPECT_EQ(control()->alignFrameStats().refused, 4);
    EXPECT_EQ(images.size(), 3);
    EXPECT_EQ(module->receivedCount(CMD_SENDFRM_MONO), requests);
    view()->clickOK();
    EXPECT_EQ(control()->threadState(), etaTRACKING);
}

TEST_F(AlignmentFlowTest, ExchangeMapsTheRightModuleLeftAndTheNextStartKeepsIt)
{
    bus.plugAll({ModuleVariant::calibrated("TLM-LEFT"), ModuleVariant::calibrated("TLM-RIGHT")});
    start();
    ASSERT_STREQ(control()->device()->serialNumber(0), "TLM-LEFT");

    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 2 && shown(1) >= 2; }));
    QTest::mouseClick(view()->findChild<QCheckBox *>("checkChangeDevice2"), Qt::LeftButton);
    EXPECT_TRUE(view()->findChild<QCheckBox *>("checkChangeDevice1")->isChecked());
    QTest::keyClick(view(), Qt::Key_Escape);

    EXPECT_STREQ(control()->device()->serialNumber(0), "TLM-RIGHT");
    EXPECT_STREQ(control()->device()->serialNumber(1), "TLM-LEFT");
    EXPECT_EQ(window->settings()->getDeviceSerial(0), "TLM-RIGHT");
    EXPECT_EQ(control()->threadState(), etaTRACKING);
    EXPECT_FALSE(control()->waitDialog()->isVisible());
    ASSERT_EQ(control()->displayInfo().size(), 2);
    EXPECT_EQ(control()->displayInfo()[0].sDisplayRect, QRect(0, 0, 1920, 1080));
    settle(5);
    for (const auto &m : bus.devices())
        EXPECT_TRUE(m->tracking()) << m->serial();

    // The bus still lists the modules in their old order; the saved order wins.
    window.reset();
    start();
    EXPECT_STREQ(control()->device()->serialNumber(0), "TLM-RIGHT");
    EXPECT_EQ(control()->threadState(), etaTRACKING);
}

TEST_F(AlignmentFlowTest, PaintedMaskIsUploadedAndComesBackBitForBit)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-MASK", 15));
    start();
    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 1; }));
    view()->clickPushB();
    ASSERT_TRUE(view()->maskEditorOpen());
    stroke(view()->maskEditor(), QPoint(40, 40), QPoint(300, 200), 80);
    stroke(view()->maskEditor(), QPoint(600, 20), QPoint(600, 20), 0);
    view()->clickOK();
    EXPECT_EQ(control()->threadState(), etaTRACKING);

    const std::vector<uint8_t> sent(view()->m_pMaskBufBit, view()->m_pMaskBufBit + AlignmentDlg::kMaskBytes);
    EXPECT_EQ(sent[AlignmentDlg::kBitmapBytes], 1);
    const int painted = int(std::count_if(sent.begin(), sent.end() - 1, [](uint8_t b) { return b != 0; }));
    EXPECT_GT(painted, 200);
    ASSERT_TRUE(settleUntil([&] { return module->stats().maskUploads == 1; }));
    EXPECT_EQ(module->mask(), sent);

    // Next start: the module's mask is downloaded and the editor shows it exactly.
    window.reset();
    start();
    ASSERT_TRUE(view()->maskReceived());
    window->StartAlignmentDisplay();
    view()->maskEditor()->slotEraserAll();   // only the downloaded mask, no strokes
    view()->clickPushB();
    std::vector<uint8_t> shownBits(AlignmentDlg::kMaskBytes, 0);
    AlignmentDlg::imageToBitmap(view()->maskEditor()->maskImage(), shownBits.data());
    EXPECT_TRUE(std::equal(shownBits.begin(), shownBits.end() - 1, sent.begin()));
    view()->clickOK();
}

TEST_F(AlignmentFlowTest, UnplugWhileTheViewIsOpenKeepsTheOtherModuleThenEndsTheView)
{
    auto modules = bus.plugAll(tl::sim::moduleSeries(2, true));
    start();
    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 2 && shown(1) >= 2; }));
    bus.unplug(modules[1]);
    settle(20);
    const int right = shown(1);
    const int left = shown(0);
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= left + 5; }));
    EXPECT_EQ(shown(1), right);
    // A gain for the module that has gone is queued and never sent anywhere.
    view()->setBrightness(9);
    settle(20);

    events.raiseDeviceRemoval(kRemoval);
    settle(10);
    EXPECT_FALSE(view()->isVisible());
    EXPECT_FALSE(view()->displaying());
    EXPECT_NE(control()->threadState(), etaDISPLAY);
    EXPECT_EQ(window->settings()->getNumOfCamDevice(), 1);
    // A frame that was on its way finds the view closed.
    QImage frame(640, 360, QImage::Format_RGB888);
    frame.fill(Qt::white);
    view()->setImage(frame, 0);
}

TEST_F(AlignmentFlowTest, UnplugWhileTheMaskUploads)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-GONE", 15));
    start();
    window->StartAlignmentDisplay();
    view()->clickPushB();
    stroke(view()->maskEditor(), QPoint(10, 10), QPoint(200, 100), 30);
    tl::sim::FaultPlan faults;
    faults.unplugAfterReceived = 40;   // inside the 58 pieces of the mask
    module->setFaults(faults);
    view()->clickOK();
    settle(20);
    EXPECT_EQ(module->stats().maskUploads, 0);
    EXPECT_FALSE(module->plugged());
    events.raiseDeviceRemoval(kRemoval);
    settle(10);
    EXPECT_FALSE(control()->connectionStatus());
    EXPECT_EQ(control()->threadState(), etaNULL);
    EXPECT_FALSE(control()->waitDialog()->isVisible());
}

TEST_F(AlignmentFlowTest, ViewWithoutModulesOpensAndClosesQuietly)
{
    start();
    window->StartAlignmentDisplay();
    EXPECT_EQ(control()->threadState(), etaDISPLAY);
    EXPECT_TRUE(view()->isVisible());
    QSignalSpy done(view(), &AlignmentDlg::alignmentDisplayDone);
    view()->clickPushB();
    EXPECT_FALSE(view()->maskEditorOpen());
    view()->clickOK();
    ASSERT_EQ(done.size(), 1);
    EXPECT_FALSE(done[0][1].toBool());   // nothing to send a mask to
    // Nothing to track: the receive loops are stopped and nothing else happens.
    EXPECT_TRUE(control()->device()->frameStreamStopped());
    EXPECT_FALSE(control()->device()->isReceiving(0));
    EXPECT_FALSE(view()->displaying());
    EXPECT_FALSE(control()->waitDialog()->isVisible());
}

// A module that answers a later part in place of the one asked for: the chain
// skips ahead and the record comes short. The view does not take it, and the
// mask the module keeps survives a look at the view and its OK.
TEST_F(AlignmentFlowTest, MaskPartOutOfOrderGivesAShortRecordThatIsNotTaken)
{
    ModuleVariant v = ModuleVariant::calibrated("TLM-ODD", 15);
    v.mask.assign(AlignmentDlg::kMaskBytes, 0x5A);
    auto module = bus.plug(v);
    tl::sim::FaultPlan faults;
    faults.packets.push_back({DAT_MASK, -1, 5, 0, 1, tl::sim::PacketFault::SetIndex, 9, {}});
    module->setFaults(faults);
    makeWindow();
    QSignalSpy masks(window->control(), &nqmaincontrol::sigReceiveMask);
    window->initialStart();
    settle(10);
    ASSERT_EQ(masks.size(), 1);
    const int len = masks[0][1].toInt();
    EXPECT_LT(len, AlignmentDlg::kMaskBytes);
    EXPECT_GT(len, 0);
    EXPECT_FALSE(view()->maskReceived());
    const unsigned char *buf = view()->m_pMaskBufBit;
    EXPECT_EQ(buf[0], 0);                                 // nothing of it taken
    EXPECT_EQ(buf[AlignmentDlg::kBitmapBytes], 0);
    EXPECT_EQ(control()->threadState(), etaTRACKING);

    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 1; }));
    // No editor on a mask that is not the module's: strokes on an empty one
    // would replace all the module keeps.
    view()->clickPushB();
    EXPECT_FALSE(view()->maskEditorOpen());
    view()->maskEditor()->slotEraserAll();   // an edit, had the editor been open
    view()->clickOK();
    settle(20);
    EXPECT_EQ(control()->threadState(), etaTRACKING);
    EXPECT_EQ(module->stats().maskUploads, 0);
    EXPECT_EQ(module->mask(), std::vector<uint8_t>(AlignmentDlg::kMaskBytes, 0x5A));
}

// A module whose mask download never ends (it ignores the request) after
// another module's mask was read: the view has no mask of this module, so the
// editor does not open on the other module's mask and nothing the user paints
// replaces the mask this module keeps.
TEST_F(AlignmentFlowTest, NoEditedMaskGoesToAModuleWhoseMaskWasNotRead)
{
    ModuleVariant first = ModuleVariant::calibrated("TLM-OLD", 15);
    first.mask.assign(AlignmentDlg::kMaskBytes, 0x5A);
    auto old = bus.plug(first);
    start();
    ASSERT_TRUE(view()->maskReceived());
    bus.unplug(old);
    events.raiseDeviceRemoval(kRemoval);
    settle(10);
    ASSERT_FALSE(control()->connectionStatus());

    ModuleVariant second = ModuleVariant::calibrated("TLM-NEW", 15);
    second.mask.assign(AlignmentDlg::kMaskBytes, 0x33);
    auto module = bus.plug(second);
    tl::sim::FaultPlan faults;
    faults.commands.push_back({CMD_GET_MASK, 0, -1, tl::sim::CommandFault::Ignore, 0});
    module->setFaults(faults);
    events.raiseDeviceArrival(kRemoval);
    settle(10);
    ASSERT_TRUE(control()->connectionStatus());
    EXPECT_FALSE(view()->maskReceived());

    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 1; }));
    view()->clickPushB();
    EXPECT_FALSE(view()->maskEditorOpen());
    if (view()->maskEditorOpen())
        stroke(view()->maskEditor(), QPoint(40, 40), QPoint(300, 200), 40);
    view()->clickOK();
    settle(20);
    EXPECT_EQ(control()->threadState(), etaTRACKING);
    EXPECT_EQ(module->stats().maskUploads, 0);
    EXPECT_EQ(module->mask(), std::vector<uint8_t>(AlignmentDlg::kMaskBytes, 0x33));
}

// OK of a view the user only looked at leaves the module's stored mask alone,
// on new firmware and on firmware that has no mask at all.
TEST_F(AlignmentFlowTest, OkWithoutAnEditSendsNoMask)
{
    for (int minor : {15, 13}) {
        ModuleVariant v = ModuleVariant::calibrated("TLM-KEEP", minor);
        v.mask.assign(AlignmentDlg::kMaskBytes, 0x33);
        auto module = bus.plug(v);
        start();
        window->StartAlignmentDisplay();
        ASSERT_TRUE(settleUntil([&] { return shown(0) >= 1; })) << minor;
        view()->clickOK();
        settle(20);
        EXPECT_EQ(control()->threadState(), etaTRACKING) << minor;
        EXPECT_EQ(module->stats().maskUploads, 0) << minor;
        EXPECT_EQ(module->mask(), std::vector<uint8_t>(AlignmentDlg::kMaskBytes, 0x33)) << minor;
        window.reset();
        bus.unplug(module);
    }
}

// Mask download on the GUI thread while the receive loop streams frames and
// flushes queued gain writes at each frame end.
TEST_F(AlignmentFlowTest, MaskDownloadWhileFramesStream)
{
    ModuleVariant v = ModuleVariant::calibrated("TLM-DL", 15);
    v.mask.assign(AlignmentDlg::kMaskBytes, 0);
    for (size_t i = 0; i < v.mask.size(); ++i)
        v.mask[i] = static_cast<uint8_t>(i * 31 + 7);
    auto module = bus.plug(v);
    start();
    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 2; }));

    QSignalSpy masks(control(), &nqmaincontrol::sigReceiveMask);
    for (int round = 0; round < 3; ++round) {
        view()->setBrightness(round * 3);
        control()->slotRequestMask(0);
        settle(2);
    }
    ASSERT_EQ(masks.size(), 3);
    EXPECT_EQ(masks.back()[1].toInt(), AlignmentDlg::kMaskBytes);
    EXPECT_EQ(std::vector<uint8_t>(view()->m_pMaskBufBit, view()->m_pMaskBufBit + AlignmentDlg::kMaskBytes),
              v.mask);
    const int before = shown(0);
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= before + 3; }));
    EXPECT_FALSE(module->registerLog().empty());
    view()->clickOK();
}

// What reached the module, in order: the mask requests and the register writes.
struct Arrivals
{
    std::vector<int> maskRequests;   // positions in received()
    struct Write
    {
        int position;
        int64_t timeMs;
        RegisterWrite write;
    };
    std::vector<Write> writes;

    explicit Arrivals(const std::vector<tl::sim::ReceivedPacket> &got)
    {
        for (size_t k = 0; k < got.size(); ++k) {
            if (got[k].code == CMD_GET_MASK)
                maskRequests.push_back(int(k));
            if (got[k].code != CMD_IIC_WR)
                continue;
            PacketView p;
            if (parsePacket(got[k].bytes, kPacketSize, p) != PacketError::None)
                continue;
            if (const auto rw = decodeRegisterWrite(p.payload, p.length))
                writes.push_back({int(k), got[k].timeMs, *rw});
        }
    }
    // The arrival of a register write, or null.
    const Write *find(const RegisterWrite &rw) const
    {
        for (const Write &w : writes)
            if (w.write == rw)
                return &w;
        return nullptr;
    }
    // Register writes that came after the first mask request and before the last.
    int writesDuringDownload() const
    {
        if (maskRequests.empty())
            return 0;
        return int(std::count_if(writes.begin(), writes.end(), [&](const Write &w) {
            return w.position > maskRequests.front() && w.position < maskRequests.back();
        }));
    }
};

// Ends the test program when the steps it guards do not finish within a
// minute: a deadlock leaves threads blocked holding the module's send mutex, so
// there is no orderly end.
class DeadlockGuard
{
public:
    explicit DeadlockGuard(const char *what)
        : m_watch([this, what] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (m_cv.wait_for(lock, std::chrono::seconds(60), [this] { return m_done; }))
                  return;
              std::fprintf(stderr, "deadlock: %s never finished\n", what);
              std::fflush(stdout);
              std::fflush(stderr);
              std::_Exit(1);
          })
    {
    }
    ~DeadlockGuard()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_watch.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_watch;
};

// The whole mask downloaded on a thread of its own.
std::future<void> startMaskDownload(tl::CamDevCtrl *device)
{
    return std::async(std::launch::async, [device] { device->request_get_mask(0); });
}

// The receive loop flushes queued gain writes at each frame end holding the
// module's send mutex; a mask download holds it through each response wait, and
// a frame end read there flushes the same queue. Both take the send mutex, then
// the register queue: in the opposite orders the two threads block each other
// for good.
//
// First the download starts while the receive loop is between its two gain
// writes, with a new gain queued behind them and a frame end put in front of the
// mask answer: the download waits for the loop's writes, and its first response
// wait sends the new gain. Then downloads run beside the stream while the
// brightness changes at every shown frame: the loop's frame ends flush between
// the response waits.
TEST_F(AlignmentFlowTest, GainWritesDuringAResponseWaitDoNotDeadlock)
{
    tl::Clock::setCompression(1);   // the register writes' 100 ms gaps in real time
    auto module = bus.plug(ModuleVariant::calibrated("TLM-LOCK", 15));
    start();
    window->StartAlignmentDisplay();
    ASSERT_TRUE(settleUntil([&] { return shown(0) >= 1; }));
    tl::CamDevCtrl *device = control()->device();

    const auto loopGain = gainRegisters(1023);
    const auto waitGain = gainRegisters(682);
    ASSERT_NE(loopGain[1].value, waitGain[1].value);
    // The download has to start within the loop's 100 ms gap; a busy machine may
    // miss it, so a few rounds are allowed.
    bool caughtBetweenWrites = false;
    for (int round = 0; round < 5 && !caughtBetweenWrites; ++round) {
        const int shownBefore = shown(0);
        module->clearReceived();
        const size_t writes = module->registerLog().size();
        control()->slotCamParamSendWait(1023, 0, 0);
        // A frame end starts the loop's writes (after those of a gain it may be
        // sending already). Once the first is in, the event loop stays idle: no
        // frame is shown, so none is asked for.
        auto loopWriting = [&] {
            const auto log = module->registerLog();
            return std::find(log.begin() + long(writes), log.end(), loopGain[0]) != log.end();
        };
        tl::test::spinUntil(loopWriting, 30000, 1);
        ASSERT_TRUE(loopWriting());
        PacketBuffer end;
        buildPacket(DAT_IMGEND, nullptr, 0, end);
        module->injectPacket(tl::sim::kEpIn, std::vector<uint8_t>(end.begin(), end.end()));
        qint64 queued = 0;
        {
            DeadlockGuard guard("a mask download started between the receive loop's gain writes");
            std::future<void> download = startMaskDownload(device);
            control()->slotCamParamSendWait(682, 0, 0);
            queued = tl::Clock::nowMs();
            download.wait();
        }
        EXPECT_EQ(device->maskReceivedLength(), AlignmentDlg::kMaskBytes);

        const Arrivals got(module->received());
        ASSERT_EQ(got.maskRequests.size(), size_t(tl::codec::kMaskParts));
        const Arrivals::Write *loopSecond = got.find(loopGain[1]);
        const Arrivals::Write *waitFirst = got.find(waitGain[0]);
        const Arrivals::Write *waitSecond = got.find(waitGain[1]);
        ASSERT_TRUE(got.find(loopGain[0]) && loopSecond) << "round " << round;
        // The loop's writes, both of them, before the first mask request: the
        // download waited for the loop to let go of the module.
        EXPECT_LT(loopSecond->position, got.maskRequests[0]);
        // When the download started and the new gain was queued before the
        // loop's second write, the loop still held the module; the new gain then
        // came between the first request and the second: sent by the first
        // response wait, which read the frame end.
        if (queued < loopSecond->timeMs) {
            caughtBetweenWrites = true;
            std::printf("download between the loop's gain writes in round %d\n", round + 1);
            ASSERT_TRUE(waitFirst && waitSecond) << "round " << round;
            for (const Arrivals::Write *w : {waitFirst, waitSecond}) {
                EXPECT_GT(w->position, got.maskRequests[0]);
                EXPECT_LT(w->position, got.maskRequests[1]);
            }
        }
        // The view takes the frame waiting for it and the stream goes on.
        ASSERT_TRUE(settleUntil([&] { return shown(0) > shownBefore + 1; }));
    }
    EXPECT_TRUE(caughtBetweenWrites) << "no download started between the receive loop's gain writes";

    // Slow mask answers keep the download beside several frames.
    tl::sim::FaultPlan slow;
    slow.commands.push_back({CMD_GET_MASK, 0, -1, tl::sim::CommandFault::Delay, 40});
    module->setFaults(slow);
    int level = 0;
    int lastShown = shown(0);
    const int shownBefore = lastShown;
    module->clearReceived();
    {
        DeadlockGuard guard("a mask download beside the stream");
        std::future<void> download = startMaskDownload(device);
        while (download.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
            QCoreApplication::processEvents();
            if (shown(0) != lastShown) {
                lastShown = shown(0);
                view()->setBrightness(level++ % 10);
            }
        }
    }
    EXPECT_EQ(device->maskReceivedLength(), AlignmentDlg::kMaskBytes);
    EXPECT_GT(shown(0), shownBefore + 1);
    const Arrivals got(module->received());
    EXPECT_EQ(got.maskRequests.size(), size_t(tl::codec::kMaskParts));
    EXPECT_GT(got.writesDuringDownload(), 0);
    std::printf("beside the stream: %d frames shown, %d register writes during the download\n",
                shown(0) - shownBefore, got.writesDuringDownload());
    module->setFaults({});
    view()->clickOK();
    EXPECT_EQ(control()->threadState(), etaTRACKING);
}

} // namespace
