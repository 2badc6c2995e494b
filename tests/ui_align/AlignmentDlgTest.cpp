// The alignment view and the mask editor on their own: settings in memory, no
// device. Monitors are fixed by the screen override.
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "ui/AlignmentDlg.h"
#include "ui/maskDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QDir>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// QTest::mouseMove moves the cursor, which the offscreen platform does not turn
// into events: the move of a held button goes to the widget directly.
void dragTo(QWidget *w, QPoint p)
{
    QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

using Bytes = std::vector<unsigned char>;

class AlignmentDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tl::Clock::setCompression(100);
        QDir(ConfigFileRW::settingsFolder()).removeRecursively();
        tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
        language.loadLanguageData(7, QLocale(QLocale::English));
        settings = std::make_unique<ConfigFileRW>(QList<QRect>{QRect(0, 0, 1920, 1080)});
    }
    void TearDown() override
    {
        dlg.reset();
        settings.reset();
        tl::FixedScreens::uninstall();
        tl::Clock::setCompression(1);
    }

    // Opens the view as the main window does.
    void open(int modules, const QString &firmware = "40.15")
    {
        settings->setNumOfCamDevice(modules);
        settings->setDeviceFwVersion(0, firmware);
        if (!dlg) {
            dlg = std::make_unique<AlignmentDlg>(nullptr, settings.get(), &language);
            // What a module without a mask answers at connection: the editor
            // starts from it.
            const Bytes none(AlignmentDlg::kMaskBytes, 0);
            dlg->SetReceiveMask(none.data(), static_cast<int>(none.size()));
        }
        dlg->imageDisplay(true, 0);
        dlg->show();
    }

    template <typename T>
    T *child(const char *name) const
    {
        T *w = dlg->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    Bytes buffer() const { return Bytes(dlg->m_pMaskBufBit, dlg->m_pMaskBufBit + AlignmentDlg::kMaskBytes); }

    static Bytes patternMask(unsigned char enable)
    {
        Bytes m(AlignmentDlg::kMaskBytes);
        for (int i = 0; i < AlignmentDlg::kBitmapBytes; ++i)
            m[static_cast<size_t>(i)] = static_cast<unsigned char>(i * 7 + 3);
        m[AlignmentDlg::kBitmapBytes] = enable;
        return m;
    }

    static bool bit(const Bytes &m, int x, int y)
    {
        return (m[static_cast<size_t>(y * 80 + x / 8)] >> (7 - x % 8)) & 1;
    }

    // The bitmap OK produces from the editor as it stands.
    Bytes bitmapAtOk()
    {
        dlg->clickOK();
        return buffer();
    }

    LanguageTable language;
    std::unique_ptr<ConfigFileRW> settings;
    std::unique_ptr<AlignmentDlg> dlg;
};

TEST_F(AlignmentDlgTest, ViewCoversTheMonitorsWithImagesCentredAndAFrame)
{
    open(2);
    EXPECT_EQ(dlg->geometry(), QRect(0, 0, 3840, 1080));
    EXPECT_EQ(child<QLabel>("label1")->geometry(), QRect(640, 360, 640, 360));
    EXPECT_EQ(child<QLabel>("label2")->geometry(), QRect(1920 + 640, 360, 640, 360));
    EXPECT_TRUE(child<QCheckBox>("checkChangeDevice1")->isVisible());
    EXPECT_FALSE(child<QWidget>("cb_touch")->isVisible());
    EXPECT_FALSE(child<QWidget>("frameMask")->isVisible());

    // The 50-pixel black frame: a pen 50 wide on the rectangle inset by 50.
    const QImage shot = dlg->grab().toImage();
    EXPECT_EQ(shot.pixelColor(50, 540), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(30, 540), QColor(Qt::black));
    EXPECT_NE(shot.pixelColor(100, 540), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(1920 + 1870, 540), QColor(Qt::black));
    EXPECT_NE(shot.pixelColor(1920 - 100, 540), QColor(Qt::black));
    dlg->imageDisplay(false, 0);

    // One module: the monitor of the Monitor setting, in window coordinates.
    settings->setMonitor(1);
    open(1);
    EXPECT_EQ(dlg->geometry(), QRect(1920, 0, 1920, 1080));
    EXPECT_EQ(dlg->monitorRect(0), QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(dlg->monitorRect(1).isEmpty());
    EXPECT_EQ(child<QLabel>("label1")->geometry(), QRect(640, 360, 640, 360));
    EXPECT_FALSE(child<QLabel>("label2")->isVisible());
    EXPECT_FALSE(child<QCheckBox>("checkChangeDevice1")->isVisible());
}

TEST_F(AlignmentDlgTest, TwoModulesMaskButtonDoesNothingAndOkLeavesTheBuffer)
{
    const Bytes received = patternMask(1);
    open(2);
    dlg->SetReceiveMask(received.data(), static_cast<int>(received.size()));
    QSignalSpy done(dlg.get(), &AlignmentDlg::alignmentDisplayDone);
    QTest::mouseClick(child<QPushButton>("pushB"), Qt::LeftButton);
    dlg->clickPushB();
    EXPECT_FALSE(dlg->maskEditorOpen());
    EXPECT_FALSE(dlg->maskEditor()->isVisible());
    QTest::mouseClick(child<QPushButton>("pushButton2"), Qt::LeftButton);
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done[0][0].toInt(), 0);
    EXPECT_FALSE(done[0][1].toBool());
    EXPECT_EQ(buffer(), received);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(AlignmentDlgTest, MaskEditorNeedsFirmwareMinor14)
{
    open(1, "40.13");
    dlg->clickPushB();
    EXPECT_FALSE(dlg->maskEditorOpen());
    EXPECT_FALSE(dlg->maskEditor()->isVisible());
    dlg->imageDisplay(false, 0);

    open(1, "40.14");
    dlg->clickPushB();
    EXPECT_TRUE(dlg->maskEditorOpen());
    EXPECT_TRUE(dlg->maskEditor()->isVisible());
    EXPECT_EQ(dlg->maskEditor()->geometry(), child<QLabel>("label1")->geometry());
    EXPECT_TRUE(child<QWidget>("frameMask")->isVisible());
    EXPECT_TRUE(child<QPushButton>("pushButtonDraw")->isChecked());
    // A second press closes it again.
    dlg->clickPushB();
    EXPECT_FALSE(dlg->maskEditorOpen());
    EXPECT_FALSE(dlg->maskEditor()->isVisible());
    EXPECT_FALSE(child<QWidget>("frameMask")->isVisible());
}

// OK sends a mask only when the user changed it in this opening, on a module
// whose firmware takes one: the mask the module keeps is never wiped by a view
// that was only looked at.
TEST_F(AlignmentDlgTest, OkSendsOnlyAMaskTheUserEdited)
{
    const Bytes received = patternMask(1);
    open(1);
    dlg->SetReceiveMask(received.data(), static_cast<int>(received.size()));
    QSignalSpy done(dlg.get(), &AlignmentDlg::alignmentDisplayDone);
    QTest::keyClick(dlg.get(), Qt::Key_Escape);   // Escape acts as OK
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done[0][0].toInt(), 0);
    EXPECT_FALSE(done[0][1].toBool());
    EXPECT_EQ(buffer(), received);
    // OK while the view is hidden does nothing.
    dlg->clickOK();
    EXPECT_EQ(done.size(), 1);
    // Closed by the window system: the same as OK.
    open(1);
    dlg->close();
    ASSERT_EQ(done.size(), 2);
    EXPECT_FALSE(done[1][1].toBool());
    EXPECT_FALSE(dlg->isVisible());

    // The editor opened and looked at, nothing painted: still nothing to send.
    open(1);
    dlg->clickPushB();
    ASSERT_TRUE(dlg->maskEditorOpen());
    dlg->clickOK();
    ASSERT_EQ(done.size(), 3);
    EXPECT_FALSE(done[2][1].toBool());
    EXPECT_EQ(buffer(), received);

    // A dot painted: the editor's image goes, switched on.
    open(1);
    dlg->clickPushB();
    QTest::mouseClick(dlg->maskEditor(), Qt::LeftButton, {}, QPoint(320, 180));
    dlg->clickOK();
    ASSERT_EQ(done.size(), 4);
    EXPECT_TRUE(done[3][1].toBool());
    EXPECT_EQ(buffer()[AlignmentDlg::kBitmapBytes], 1);
    EXPECT_TRUE(bit(buffer(), 320, 180));
    const Bytes edited = buffer();

    // The strokes stay, but a later opening that changes nothing sends nothing.
    open(1);
    dlg->clickPushB();
    dlg->clickOK();
    ASSERT_EQ(done.size(), 5);
    EXPECT_FALSE(done[4][1].toBool());
    EXPECT_EQ(buffer(), edited);

    // Painted, then the editor switched off with its button: the mask goes off.
    open(1);
    dlg->clickPushB();
    QTest::mouseClick(dlg->maskEditor(), Qt::LeftButton, {}, QPoint(100, 100));
    dlg->clickPushB();
    ASSERT_FALSE(dlg->maskEditorOpen());
    dlg->clickOK();
    ASSERT_EQ(done.size(), 6);
    EXPECT_TRUE(done[5][1].toBool());
    EXPECT_EQ(buffer()[AlignmentDlg::kBitmapBytes], 0);

    // Erase All is an edit too.
    open(1);
    dlg->clickPushB();
    dlg->onEraserAll();
    dlg->clickOK();
    ASSERT_EQ(done.size(), 7);
    EXPECT_TRUE(done[6][1].toBool());
    const Bytes cleared = buffer();
    EXPECT_EQ(std::count(cleared.begin(), cleared.begin() + AlignmentDlg::kBitmapBytes, 0),
              AlignmentDlg::kBitmapBytes);

    // Painted, but the module under the view now runs firmware without masks
    // (another module took its place): nothing is sent to it.
    open(1);
    dlg->clickPushB();
    QTest::mouseClick(dlg->maskEditor(), Qt::LeftButton, {}, QPoint(50, 50));
    settings->setDeviceFwVersion(0, "40.13");
    const Bytes before = buffer();
    dlg->clickOK();
    ASSERT_EQ(done.size(), 8);
    EXPECT_FALSE(done[7][1].toBool());
    EXPECT_EQ(buffer(), before);
}

TEST_F(AlignmentDlgTest, ASingleClickMarksARoundDot)
{
    open(1);
    dlg->clickPushB();
    QTest::mouseClick(dlg->maskEditor(), Qt::LeftButton, {}, QPoint(200, 150));
    const Bytes m = bitmapAtOk();
    EXPECT_EQ(m[AlignmentDlg::kBitmapBytes], 1);
    int count = 0, minX = 640, maxX = -1, minY = 360, maxY = -1;
    for (int y = 0; y < 360; ++y)
        for (int x = 0; x < 640; ++x)
            if (bit(m, x, y)) {
                ++count;
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
                // Every marked pixel lies within the pen's reach of the click.
                EXPECT_LE(std::hypot(x + 0.5 - 200, y + 0.5 - 150.5), 11.5) << x << "," << y;
            }
    EXPECT_TRUE(bit(m, 200, 150));
    const int width = maxX - minX + 1, height = maxY - minY + 1;
    EXPECT_GE(width, 18);
    EXPECT_LE(width, 22);
    EXPECT_GE(height, 18);
    EXPECT_LE(height, 23);
    // Round, not square: a disc of diameter 20 covers about 314 pixels, a square 400.
    EXPECT_GT(count, 250);
    EXPECT_LT(count, 380);
}

TEST_F(AlignmentDlgTest, ErasedAndNeverPaintedPixelsReadZero)
{
    open(1);
    // Even a base colour of pure red is never counted: it is all but transparent.
    QPalette red = dlg->maskEditor()->palette();
    red.setColor(QPalette::Base, QColor(255, 0, 0));
    dlg->maskEditor()->setPalette(red);
    dlg->clickPushB();
    maskDlg *editor = dlg->maskEditor();
    QTest::mousePress(editor, Qt::LeftButton, {}, QPoint(100, 100));
    for (int x = 102; x <= 400; x += 2)
        dragTo(editor, QPoint(x, 100));
    QTest::mouseRelease(editor, Qt::LeftButton, {}, QPoint(400, 100));

    QTest::mouseClick(child<QPushButton>("pushButtonEraser"), Qt::LeftButton);
    EXPECT_EQ(editor->tool(), maskDlg::Tool::Erase);
    EXPECT_TRUE(child<QPushButton>("pushButtonEraser")->isChecked());
    EXPECT_FALSE(child<QPushButton>("pushButtonDraw")->isChecked());
    QTest::mousePress(editor, Qt::LeftButton, {}, QPoint(250, 60));
    for (int y = 62; y <= 140; y += 2)
        dragTo(editor, QPoint(250, y));
    QTest::mouseRelease(editor, Qt::LeftButton, {}, QPoint(250, 140));

    const Bytes m = bitmapAtOk();
    EXPECT_TRUE(bit(m, 150, 100));
    EXPECT_TRUE(bit(m, 350, 100));
    EXPECT_FALSE(bit(m, 250, 100));   // erased
    EXPECT_FALSE(bit(m, 248, 95));
    EXPECT_FALSE(bit(m, 500, 300));   // never painted
    EXPECT_FALSE(bit(m, 0, 0));
    EXPECT_FALSE(bit(m, 150, 130));
}

TEST_F(AlignmentDlgTest, BitLayoutBothWays)
{
    QImage image(640, 360, QImage::Format_ARGB32);
    image.fill(QColor(255, 255, 255, 1));
    image.setPixel(0, 0, 0xFFFF0000u);
    image.setPixel(639, 359, 0xFFFF0000u);
    image.setPixel(9, 1, 0xFEFF0000u);   // not opaque: not masked
    Bytes m(AlignmentDlg::kMaskBytes, 0xAA);
    AlignmentDlg::imageToBitmap(image, m.data());
    EXPECT_EQ(m[0], 0x80);
    EXPECT_EQ(m[28799], 0x01);
    EXPECT_EQ(std::count(m.begin(), m.begin() + AlignmentDlg::kBitmapBytes, 0), AlignmentDlg::kBitmapBytes - 2);
    EXPECT_EQ(m[AlignmentDlg::kBitmapBytes], 0xAA);   // the enable byte is not the bitmap's

    // A received mask is painted back at the same pixels, and OK gives it back.
    m[81] = 0x40;   // pixel (9, 1)
    m[AlignmentDlg::kBitmapBytes] = 1;
    open(1);
    dlg->SetReceiveMask(m.data(), static_cast<int>(m.size()));
    EXPECT_TRUE(dlg->maskReceived());
    dlg->clickPushB();
    const QImage shown = dlg->maskEditor()->maskImage();
    EXPECT_EQ(shown.pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(shown.pixel(639, 359), 0xFFFF0000u);
    EXPECT_EQ(shown.pixel(9, 1), 0xFFFF0000u);
    EXPECT_NE(shown.pixel(1, 0), 0xFFFF0000u);
    EXPECT_NE(shown.pixel(8, 1), 0xFFFF0000u);
    EXPECT_EQ(bitmapAtOk(), m);
}

TEST_F(AlignmentDlgTest, ExchangeBoxShowsModuleZeroOnTheRight)
{
    open(2);
    QImage frame(640, 360, QImage::Format_RGB888);
    frame.fill(QColor(90, 90, 90));
    QCheckBox *box1 = child<QCheckBox>("checkChangeDevice1");
    QCheckBox *box2 = child<QCheckBox>("checkChangeDevice2");
    dlg->setImage(frame, 0);
    EXPECT_FALSE(child<QLabel>("label1")->pixmap(Qt::ReturnByValue).isNull());
    QTest::mouseClick(box1, Qt::LeftButton);
    EXPECT_TRUE(box1->isChecked());
    EXPECT_TRUE(box2->isChecked());
    EXPECT_TRUE(box1->isEnabled() && box2->isEnabled());
    EXPECT_TRUE(child<QLabel>("label1")->pixmap(Qt::ReturnByValue).isNull());   // cleared
    dlg->setImage(frame, 0);
    EXPECT_TRUE(child<QLabel>("label1")->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(child<QLabel>("label2")->pixmap(Qt::ReturnByValue).toImage().pixelColor(320, 180),
              QColor(90, 90, 90));

    QSignalSpy done(dlg.get(), &AlignmentDlg::alignmentDisplayDone);
    dlg->clickOK();
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done[0][0].toInt(), 1);
    EXPECT_FALSE(done[0][1].toBool());
    // The next opening starts unchecked.
    open(2);
    EXPECT_FALSE(box1->isChecked());
    EXPECT_FALSE(box2->isChecked());
}

TEST_F(AlignmentDlgTest, BrightnessGoesToBothModulesAndTheOtherSliderFollows)
{
    open(2);
    QSignalSpy gains(dlg.get(), &AlignmentDlg::sigCamParamSendWait);
    QSlider *s1 = child<QSlider>("hSlideAlignmentViewGain1");
    QSlider *s2 = child<QSlider>("hSlideAlignmentViewGain2");
    s1->setValue(9);
    emit s1->sliderReleased();
    ASSERT_EQ(gains.size(), 2);
    EXPECT_EQ(gains[0][0].value<unsigned short>(), 1023);
    EXPECT_EQ(gains[0][1].toUInt(), 0u);
    EXPECT_EQ(gains[0][2].toInt(), 0);
    EXPECT_EQ(gains[1][0].value<unsigned short>(), 1023);
    EXPECT_EQ(gains[1][2].toInt(), 1);
    EXPECT_EQ(s2->value(), 9);
    EXPECT_EQ(child<QLCDNumber>("numObjAlignmentViewGain2")->intValue(), 9);

    gains.clear();
    s2->setValue(0);
    emit s2->sliderReleased();
    ASSERT_EQ(gains.size(), 2);
    EXPECT_EQ(gains[0][0].value<unsigned short>(), 16);
    EXPECT_EQ(gains[1][2].toInt(), 1);
    EXPECT_EQ(s1->value(), 0);

    // The level is kept across openings, and each opening sends it to both.
    s1->setValue(3);
    dlg->imageDisplay(false, 0);
    gains.clear();
    open(2);
    EXPECT_EQ(dlg->brightnessLevel(), 3);
    ASSERT_EQ(gains.size(), 2);
    EXPECT_EQ(gains[0][0].value<unsigned short>(), 128);
    EXPECT_EQ(s2->value(), 3);
}

// Every way a user moves a slider reaches the cameras: a click in the groove,
// the keys, the wheel; a drag sends once, when the handle is let go. Levels set
// by the program (the other slider following, an opening) send nothing more.
TEST_F(AlignmentDlgTest, EveryUserStepOfASliderSendsTheGain)
{
    open(2);
    QSignalSpy gains(dlg.get(), &AlignmentDlg::sigCamParamSendWait);
    QSlider *s1 = child<QSlider>("hSlideAlignmentViewGain1");
    QSlider *s2 = child<QSlider>("hSlideAlignmentViewGain2");
    ASSERT_EQ(s1->value(), 5);
    auto sent = [&](int level) {
        const unsigned short gain = AlignmentDlg::kGainTable[static_cast<size_t>(level)];
        const bool ok = gains.size() == 2 && gains[0][0].value<unsigned short>() == gain
                        && gains[0][2].toInt() == 0 && gains[1][0].value<unsigned short>() == gain
                        && gains[1][2].toInt() == 1;
        gains.clear();
        return ok;
    };
    auto handle = [](QSlider *s) {
        QStyleOptionSlider opt;
        opt.initFrom(s);
        opt.orientation = s->orientation();
        opt.minimum = s->minimum();
        opt.maximum = s->maximum();
        opt.sliderPosition = s->sliderPosition();
        opt.sliderValue = s->value();
        opt.tickPosition = s->tickPosition();
        opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        return s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s);
    };

    QTest::keyClick(s1, Qt::Key_Right);
    EXPECT_EQ(s1->value(), 6);
    EXPECT_TRUE(sent(6));
    EXPECT_EQ(s2->value(), 6);
    QTest::keyClick(s2, Qt::Key_Left);
    EXPECT_TRUE(sent(5));
    EXPECT_EQ(s1->value(), 5);
    QTest::keyClick(s1, Qt::Key_End);
    EXPECT_TRUE(sent(9));
    // At the end of the range a key changes nothing and sends nothing.
    QTest::keyClick(s1, Qt::Key_Right);
    EXPECT_EQ(gains.size(), 0);

    // The wheel, one notch down.
    const QPoint mid = s1->rect().center();
    QWheelEvent wheel(QPointF(mid), QPointF(s1->mapToGlobal(mid)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(s1, &wheel);
    EXPECT_EQ(s1->value(), 8);
    EXPECT_TRUE(sent(8));

    // A click in the groove, left of the handle: one page (one level) down.
    const QRect h = handle(s1);
    ASSERT_GT(h.left(), 8);
    QTest::mouseClick(s1, Qt::LeftButton, {}, QPoint(2, h.center().y()));
    EXPECT_EQ(s1->value(), 7);
    EXPECT_TRUE(sent(7));

    // A drag: the number follows, the cameras get the level at the release.
    const QRect h2 = handle(s1);
    QTest::mousePress(s1, Qt::LeftButton, {}, h2.center());
    ASSERT_TRUE(s1->isSliderDown());
    for (int x = h2.center().x(); x > 0; x -= 4)
        dragTo(s1, QPoint(x, h2.center().y()));
    EXPECT_EQ(s1->value(), 0);
    EXPECT_EQ(child<QLCDNumber>("numObjAlignmentViewGain1")->intValue(), 0);
    EXPECT_EQ(gains.size(), 0);
    QTest::mouseRelease(s1, Qt::LeftButton, {}, QPoint(1, h2.center().y()));
    EXPECT_TRUE(sent(0));
    EXPECT_EQ(s2->value(), 0);

    // Set by the program: no second sending.
    s1->setValue(4);
    dlg->setBrightness(3);
    EXPECT_TRUE(sent(3));
}

TEST_F(AlignmentDlgTest, StrokesRebuildFromTheRecordAndEraserAllForgetsThem)
{
    open(1);
    dlg->clickPushB();
    maskDlg *editor = dlg->maskEditor();
    QTest::mousePress(editor, Qt::LeftButton, {}, QPoint(50, 300));
    for (int i = 1; i <= 60; ++i)
        dragTo(editor, QPoint(50 + 5 * i, 300 - 4 * i + (i % 7)));
    QTest::mouseRelease(editor, Qt::LeftButton, {}, QPoint(350, 60));
    const QImage painted = editor->maskImage();
    ASSERT_EQ(editor->strokeRecord().size(), 62);
    EXPECT_EQ(editor->strokeRecord().front().kind, maskDlg::StrokeKind::Press);
    EXPECT_EQ(editor->strokeRecord().back().kind, maskDlg::StrokeKind::Release);

    // Closing and reopening the editor rebuilds the same image from the record.
    dlg->clickPushB();
    dlg->clickPushB();
    EXPECT_EQ(editor->maskImage(), painted);
    // So does closing the whole view with the strokes kept.
    dlg->clickOK();
    open(1);
    dlg->clickPushB();
    EXPECT_EQ(editor->maskImage(), painted);

    QTest::mouseClick(child<QPushButton>("pushButtonEraserAll"), Qt::LeftButton);
    EXPECT_TRUE(editor->strokeRecord().isEmpty());
    const Bytes m = bitmapAtOk();
    EXPECT_EQ(std::count(m.begin(), m.begin() + AlignmentDlg::kBitmapBytes, 0), AlignmentDlg::kBitmapBytes);
}

TEST_F(AlignmentDlgTest, SmootherTrailsAndDrawsShortPieces)
{
    MaskStrokeSmoother s;
    s.reset(QPointF(0, 0));
    // The two newest points weigh about 0.387 each.
    const QVector<QPointF> first = s.add(QPointF(100, 0));
    EXPECT_NEAR(s.lastSmoothed().x(), 38.74, 0.05);
    EXPECT_NEAR(s.lastSmoothed().y(), 0.0, 1e-9);
    // n = 39 pieces, the second half of them: samples from i = 19 to 38.
    EXPECT_EQ(first.size(), 39 - 39 / 2);
    // Next: C = 2 x 38.74; the samples run along the second half of the curve
    // through A = 0, B = 38.74 and C, up to (but not including) C.
    const QVector<QPointF> second = s.add(QPointF(100, 0));
    ASSERT_EQ(second.size(), 20);
    EXPECT_NEAR(second.back().x(), 77.48 * 38 / 39, 0.05);
    for (int i = 1; i < second.size(); ++i)
        EXPECT_NEAR(second[i].x() - second[i - 1].x(), 77.48 / 39, 0.01);
    // A still pointer still gives one sample.
    MaskStrokeSmoother still;
    still.reset(QPointF(5, 5));
    EXPECT_EQ(still.add(QPointF(5, 5)).size(), 1);
}

TEST_F(AlignmentDlgTest, BadInputIsRefused)
{
    open(1);
    dlg->SetReceiveMask(nullptr, 100);
    dlg->SetReceiveMask(reinterpret_cast<const unsigned char *>("x"), 0);
    dlg->SetReceiveMask(reinterpret_cast<const unsigned char *>("x"), -5);
    EXPECT_EQ(buffer(), Bytes(AlignmentDlg::kMaskBytes, 0));   // the empty mask of the opening
    // A longer record than the mask: only the mask is taken.
    Bytes big(40000, 0xFF);
    dlg->SetReceiveMask(big.data(), static_cast<int>(big.size()));
    EXPECT_TRUE(dlg->maskReceived());
    EXPECT_EQ(buffer(), Bytes(AlignmentDlg::kMaskBytes, 0xFF));
    // A short one (a download that broke off) is no mask: it is not taken, and
    // the one before, which may be another module's, is no longer the
    // module's: no editor opens on it and no edit is sent.
    Bytes small(10, 0x01);
    dlg->SetReceiveMask(small.data(), 10);
    EXPECT_FALSE(dlg->maskReceived());
    EXPECT_EQ(buffer(), Bytes(AlignmentDlg::kMaskBytes, 0xFF));
    dlg->clickPushB();
    EXPECT_FALSE(dlg->maskEditorOpen());
    EXPECT_FALSE(dlg->maskEditor()->isVisible());
    QSignalSpy done(dlg.get(), &AlignmentDlg::alignmentDisplayDone);
    dlg->maskEditor()->slotEraserAll();
    dlg->clickOK();
    ASSERT_EQ(done.size(), 1);
    EXPECT_FALSE(done[0][1].toBool());
    EXPECT_EQ(buffer(), Bytes(AlignmentDlg::kMaskBytes, 0xFF));
    open(1);

    QImage frame(640, 360, QImage::Format_RGB888);
    frame.fill(Qt::gray);
    dlg->setImage(frame, 2);
    dlg->setImage(frame, -1);
    dlg->setImage(QImage(), 0);
    EXPECT_TRUE(child<QLabel>("label1")->pixmap(Qt::ReturnByValue).isNull());
    dlg->imageDisplay(false, 0);
    dlg->setImage(frame, 0);   // closed: ignored
    EXPECT_TRUE(child<QLabel>("label1")->pixmap(Qt::ReturnByValue).isNull());
    dlg->setBrightness(42);
    EXPECT_EQ(child<QSlider>("hSlideAlignmentViewGain1")->value(), 9);
}

} // namespace
