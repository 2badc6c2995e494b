// A module with a camera, seen only through its packets: it photographs the
// display it watches, its person touches the targets of manual calibration, and
// after an upload it reports pens through the parameters it was given.

#include "ExactFit.h"
#include "RawHost.h"

#include "calibration/CalibModel.h"
#include "device/codec/ByteIO.h"
#include "device/codec/Records.h"

#include <opencv2/imgproc.hpp>

#include <QPainter>

#include <cmath>
#include <memory>
#include <mutex>

namespace tl::sim::test {
namespace {

using namespace tl::codec;

constexpr int kW = 1920;
constexpr int kH = 1080;

// What the display shows; the test changes it between packets. Like a screen
// that is lit all the time, every look at it is a new view of the board.
struct Screen
{
    std::mutex mutex;
    QImage image;
    void show(const QImage &img)
    {
        std::lock_guard<std::mutex> lk(mutex);
        image = img;
    }
    DisplaySource source()
    {
        return [this] {
            std::lock_guard<std::mutex> lk(mutex);
            return image.copy();
        };
    }
};

QImage filled(QColor c, int w = kW, int h = kH)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

// The calibration window of manual calibration: black, with the target mark (a
// grey disc with a red dot, 113 px across) centred on the target.
QImage markAt(cv::Point2d target)
{
    QImage img = filled(Qt::black);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Where the instructions stand (letters need a GUI application; bars will do).
    p.fillRect(QRectF(kW / 2 - 300, kH / 2 + 40, 600, 4), Qt::white);
    p.fillRect(QRectF(kW / 2 - 200, kH / 2 + 60, 400, 4), Qt::white);
    const QPointF c(target.x + 0.5, target.y + 0.5);
    p.setPen(QPen(QColor(60, 60, 60), 4));
    p.setBrush(QColor(210, 210, 210));
    p.drawEllipse(c, 50.0, 50.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 40, 40));
    p.drawEllipse(c, 9.0, 9.0);
    return img;
}

std::shared_ptr<SyntheticCamera> makeCamera(int lens = 1, bool ceiling = false, bool rear = false,
                                            uint64_t seed = 3, double noise = 1.0)
{
    CameraSetup s;
    s.displayWidth = kW;
    s.displayHeight = kH;
    s.lens = lens;
    s.ceiling = ceiling;
    s.rear = rear;
    s.seed = seed;
    s.noise = noise;
    return std::make_shared<SyntheticCamera>(s);
}

// A module built with `lens`; the short-throw ones (1 to 3) have their sensor built in turned.
ModuleVariant moduleWithLens(int lens)
{
    ModuleVariant v = ModuleVariant::blank("A");
    v.lens = static_cast<uint8_t>(lens);
    return v;
}

// Opens the module and asks for its pictures turned back upright, as the
// driver does for a short-throw module.
bool openUpright(RawHost &host)
{
    return host.open() && host.sendI32(CMD_SET_IMAGE_REVERSE, 1) == kPacketSize;
}

cv::Mat fetchImage(RawHost &host, uint8_t kind)
{
    std::vector<uint8_t> img(kAcImageBytes, 0);
    for (int g = 0; g <= kAcGroups; ++g) {
        const auto req = encodeAcSendImg(kind, static_cast<uint8_t>(g));
        host.send(CMD_AC_SENDIMG, req.data(), 2);
        for (;;) {
            const Rx rx = host.read();
            if (rx.rc != 0)
                return {};
            if (rx.code() == DAT_AC_IMGEND)
                break;
            ImagePiece piece;
            if (rx.code() != DAT_AC_IMAGE || parseImagePiece(rx.view(), piece) != PieceError::None ||
                !placePiece(piece, img.data(), img.size()))
                return {};
        }
    }
    return cv::Mat(kAcImageHeight, kAcImageWidth, CV_8UC1, img.data()).clone();
}

cv::Mat fetchFrame(RawHost &host)
{
    std::vector<uint8_t> img(kFrameBytes, 0);
    host.send(CMD_SENDFRM_MONO);
    for (;;) {
        const Rx rx = host.read(0x84);
        if (rx.rc != 0)
            return {};
        if (rx.code() == DAT_IMGEND)
            break;
        ImagePiece piece;
        if (rx.code() != DAT_IMG || parseImagePiece(rx.view(), piece) != PieceError::None ||
            !placePiece(piece, img.data(), img.size()))
            return {};
    }
    return cv::Mat(kFrameHeight, kFrameWidth, CV_8UC1, img.data()).clone();
}

double meanAround(const cv::Mat &img, cv::Point2d c, int half)
{
    const cv::Rect r(int(std::lround(c.x)) - half, int(std::lround(c.y)) - half, 2 * half + 1, 2 * half + 1);
    return cv::mean(img(r & cv::Rect(0, 0, img.cols, img.rows)))[0];
}

// Centre of the darkness of `shot` against `white` around a camera point.
cv::Point2d darkCentre(const cv::Mat &shot, const cv::Mat &white, cv::Point2d near, int half)
{
    const cv::Rect r(int(near.x) - half, int(near.y) - half, 2 * half + 1, 2 * half + 1);
    cv::Mat a, b;
    white(r).convertTo(a, CV_64F);
    shot(r).convertTo(b, CV_64F);
    cv::Mat d = cv::max(a - b - 8.0, 0.0);
    const cv::Moments m = cv::moments(d);
    return { r.x + m.m10 / m.m00, r.y + m.m01 / m.m00 };
}

void uploadCalibration(RawHost &host, const double tp[13], int w = kW, int h = kH, int lens = 1, int ceiling = 0,
                       int rear = 0)
{
    CalibParamInput in;
    in.tp = tp;
    in.windowWidth = w;
    in.windowHeight = h;
    in.ceiling = ceiling;
    in.rear = rear;
    in.lensType = lens;
    in.imageReverse = 0;
    in.fwMinor = 15;
    const auto bytes = encodeCalibParam(makeCalibParam(in));
    host.send(CMD_SET_CALIB_PARAMETER, bytes.data(), kCalibParamSize);
    ASSERT_EQ(host.readUntil(RES_AC_READY_END).code(), RES_AC_READY_END);
}

void uploadMask(RawHost &host, const std::vector<uint8_t> &mask)
{
    for (const PacketBuffer &f : buildFragments(CMD_SET_MASK, mask.data(), kMaskSize))
        host.write(f);
}

std::vector<TrackingRecord> nextReport(RawHost &host)
{
    const Rx rx = host.readUntil(DAT_TC_DUAL_MODE);
    if (rx.rc != 0)
        return {};
    return decodeTracking(rx.payload(), rx.length());
}

class CameraModuleTest : public SimTest
{
};

TEST_F(CameraModuleTest, AutoCapturesPhotographTheDisplayAtEachCommand)
{
    EmulatedBus bus;
    auto m = bus.plug(moduleWithLens(1));
    auto cam = makeCamera(1);
    Screen screen;
    m->setCamera(cam, screen.source());
    RawHost host(bus);
    ASSERT_TRUE(openUpright(host));

    // The pattern: black discs on white at known window points.
    const std::vector<cv::Point2d> dots = { { 400, 300 }, { 1500, 250 }, { 960, 540 }, { 300, 900 }, { 1650, 850 } };
    QImage pattern = filled(Qt::white);
    {
        QPainter p(&pattern);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        for (const cv::Point2d &d : dots)
            p.drawEllipse(QPointF(d.x + 0.5, d.y + 0.5), 30.0, 30.0);
    }
    const auto black = blackStartPayload(1, 15);
    screen.show(filled(Qt::black));
    host.send(CMD_AC_BLACK_START, black.data(), 3);
    ASSERT_EQ(host.read().code(), RES_AC_BLACK_END);
    screen.show(filled(Qt::white));
    host.sendI32(CMD_AC_WHITE_START, 420);
    ASSERT_EQ(host.read().code(), RES_AC_WHITE_END);
    screen.show(pattern);
    host.sendI32(CMD_AC_PATTERN_START, 380);
    ASSERT_EQ(host.read().code(), RES_AC_PATTERN_END);
    screen.show(filled(Qt::black));   // what shows after the command is not in the picture

    const cv::Mat b = fetchImage(host, kImageBlack);
    const cv::Mat w = fetchImage(host, kImageWhite);
    const cv::Mat pat = fetchImage(host, kImagePattern);
    ASSERT_FALSE(b.empty());
    ASSERT_FALSE(w.empty());
    ASSERT_FALSE(pat.empty());
    const cv::Point2d centre = cam->windowToCamera({ 959.5, 539.5 });
    EXPECT_NEAR(meanAround(b, centre, 8), cam->expectedLevel(centre, 0.0), 1.5);
    EXPECT_NEAR(meanAround(w, centre, 8), cam->expectedLevel(centre, 1.0), 2.0);
    // Each dot is seen where the ground truth puts its centre.
    for (const cv::Point2d &d : dots) {
        const cv::Point2d expect = cam->windowToCamera(d);
        const cv::Point2d found = darkCentre(pat, w, expect, 20);
        EXPECT_NEAR(found.x, expect.x, 0.3) << d;
        EXPECT_NEAR(found.y, expect.y, 0.3) << d;
    }

    // Not reversed: the sensor's own view of the board, turned by 180 degrees.
    host.sendI32(CMD_SET_IMAGE_REVERSE, 0);
    screen.show(pattern);
    host.sendI32(CMD_AC_PATTERN_START, 380);
    ASSERT_EQ(host.read().code(), RES_AC_PATTERN_END);
    const cv::Mat rev = fetchImage(host, kImagePattern);
    ASSERT_FALSE(rev.empty());
    cv::Mat wRev;
    cv::flip(w, wRev, -1);
    const cv::Point2d expect = cam->windowToCamera(dots[0]);
    const cv::Point2d found = darkCentre(rev, wRev, { 1279 - expect.x, 719 - expect.y }, 20);
    EXPECT_NEAR(found.x, 1279 - expect.x, 0.3);
    EXPECT_NEAR(found.y, 719 - expect.y, 0.3);
}

TEST_F(CameraModuleTest, AlignmentFramesFollowTheGainAndTheMask)
{
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::calibrated("A", 15, kW, kH, 2));
    auto cam = makeCamera(2);
    Screen screen;
    screen.show(filled(Qt::white));
    m->setCamera(cam, screen.source());
    RawHost host(bus);
    ASSERT_TRUE(openUpright(host));

    const cv::Point2d c = cam->windowToCamera({ 1400, 540 });   // right half of the camera image
    const cv::Point2d l = cam->windowToCamera({ 400, 540 });    // left half
    ASSERT_GT(c.x, 700);
    ASSERT_LT(l.x, 580);
    const double level = cam->expectedLevel(c, 1.0);
    cv::Mat f = fetchFrame(host);
    ASSERT_FALSE(f.empty());
    EXPECT_NEAR(meanAround(f, c / 2, 4), level, 3.0);

    // A quarter of the unity gain: a quarter of the signal above black.
    for (const RegisterWrite &r : gainRegisters(SyntheticCamera::kUnityGain / 4)) {
        const auto bytes = encodeRegisterWrite(r);
        host.send(CMD_IIC_WR, bytes.data(), kRegisterWriteSize);
    }
    f = fetchFrame(host);
    ASSERT_FALSE(f.empty());
    EXPECT_NEAR(meanAround(f, c / 2, 4), cam->blackLevel() + (level - cam->blackLevel()) / 4, 2.0);

    // Mask the left half of the frame: its pixels go dark, the right half stays.
    std::vector<uint8_t> mask(kMaskSize, 0);
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < 320; ++x)
            mask[static_cast<size_t>((y * kFrameWidth + x) / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    mask[kMaskEnableOffset] = 1;
    uploadMask(host, mask);
    f = fetchFrame(host);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(cv::countNonZero(f(cv::Rect(0, 0, 320, 360))), 0);
    EXPECT_GT(meanAround(f, c / 2, 4), cam->blackLevel() + 5);

    // A pen under the mask is not reported; one outside it is.
    const double tp[13] = { 1, 0, 0, 0, 1, 0, 0, 0, 640, 360, 0, 0, 0 };
    uploadCalibration(host, tp);
    m->setWindowPen([&](uint64_t cycle) -> std::vector<cv::Point2d> {
        return { cycle % 2 == 0 ? cv::Point2d(400, 540) : cv::Point2d(1400, 540) };
    });
    host.sendI32(CMD_SET_TRANSFER_MODE, 2);
    host.send(CMD_START_TRACKING);
    int masked = 0, seen = 0;
    for (int i = 0; i < 10; ++i) {
        const auto recs = nextReport(host);
        if (recs.empty())
            ++masked;
        else
            ++seen;
        for (const TrackingRecord &r : recs)
            EXPECT_GT(r.x, 4800 * 580 / kW);   // only the pen on the right is seen
    }
    EXPECT_GE(masked, 4);
    EXPECT_GE(seen, 4);

    // Switched off (enable byte 0): the whole frame is seen again.
    mask[kMaskEnableOffset] = 0;
    uploadMask(host, mask);
    host.send(CMD_STOP_TRACKING);
    f = fetchFrame(host);
    ASSERT_FALSE(f.empty());
    EXPECT_GT(meanAround(f, l / 2, 4), cam->blackLevel() + 5);
}

// What the board shows reaches the host upright when the host's reversal
// matches the mounting: a short-throw module (hung turned) told to reverse, any
// other told not to. The desktop has one bright block near its top-left corner
// and nothing at the opposite corner, so a turned frame cannot pass for upright.
TEST_F(CameraModuleTest, FramesShowTheDesktopUprightWhenReversalMatchesTheMounting)
{
    QImage desktop = filled(QColor(30, 30, 30));
    {
        QPainter p(&desktop);
        p.fillRect(QRect(300, 200, 240, 160), Qt::white);
    }
    const cv::Point2d block(419.5, 279.5);
    const cv::Point2d opposite(kW - 1 - block.x, kH - 1 - block.y);
    struct Case
    {
        int lens;
        int reverse;
        bool upright;
    };
    for (const Case &k : { Case{ 1, 1, true }, Case{ 2, 1, true }, Case{ 3, 1, true }, Case{ 0, 0, true },
                           Case{ 4, 0, true }, Case{ 1, 0, false }, Case{ 0, 1, false } }) {
        SCOPED_TRACE("lens " + std::to_string(k.lens) + " reverse " + std::to_string(k.reverse));
        EmulatedBus bus;
        auto m = bus.plug(moduleWithLens(k.lens));
        auto cam = makeCamera(k.lens >= 1 && k.lens <= 3 ? k.lens : 1);
        Screen screen;
        screen.show(desktop);
        m->setCamera(cam, screen.source());
        RawHost host(bus);
        ASSERT_TRUE(host.open());
        host.sendI32(CMD_SET_IMAGE_REVERSE, k.reverse);
        const cv::Mat f = fetchFrame(host);
        ASSERT_FALSE(f.empty());
        // Frame pixel of a camera point, as the module sends it.
        const auto at = [&](cv::Point2d window) {
            cv::Point2d c = cam->windowToCamera(window);
            if (!k.upright)
                c = { kAcImageWidth - 1 - c.x, kAcImageHeight - 1 - c.y };
            return c / 2;
        };
        const double bright = cam->blackLevel() + 0.5 * (cam->expectedLevel(cam->windowToCamera(block), 1.0) -
                                                         cam->blackLevel());
        EXPECT_GT(meanAround(f, at(block), 3), bright);
        EXPECT_LT(meanAround(f, at(opposite), 3), bright);
        EXPECT_EQ(m->servesTurned(), !k.upright);
    }
}

struct ManualRun
{
    std::vector<cv::Point2d> targets;
    std::vector<cv::Point2d> seen;   // camera points the module reported, per target
    bool ok = false;
};

// The host's side of manual calibration against the person at the board: the
// mark is shown on target k, the module asked for target k; when the module
// reports the pen, the mark moves on (or goes away after the last).
ManualRun runManual(EmulatedBus &bus, Screen &screen)
{
    ManualRun run;
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            run.targets.emplace_back((i * 1709.0 + 1) / 3 + 105, (k * 869.0 + 1) / 3 + 105);
    RawHost host(bus);
    if (!openUpright(host))
        return run;
    host.send(CMD_MC_START);
    for (size_t k = 0; k < run.targets.size(); ++k) {
        screen.show(markAt(run.targets[k]));
        host.sendI32(CMD_MC_PATTERN_START, static_cast<int32_t>(k));
        const Rx done = host.readUntil(RES_MC_PATTERN_DONE, 0x83, 30000);
        if (done.rc != 0) {
            ADD_FAILURE() << "no touch on target " << k << ": rc " << done.rc;
            return run;
        }
        screen.show(k + 1 < run.targets.size() ? markAt(run.targets[k + 1]) : filled(Qt::black));
        const Rx end = host.readUntil(RES_MC_PATTERN_END, 0x83, 60000);
        if (end.rc != 0 || end.payloadI32(0) != static_cast<int32_t>(k)) {
            ADD_FAILURE() << "target " << k << " not ended: rc " << end.rc << " index " << end.payloadI32(0);
            return run;
        }
    }
    host.send(CMD_MC_GET_INPUT_POINT);
    const Rx pts = host.readUntil(DAT_MC_INPUT_POINT);
    if (pts.rc != 0 || pts.length() != kMcPointBytes)
        return run;
    ByteReader r(pts.payload(), kMcPointBytes);
    for (size_t k = 0; k < run.targets.size(); ++k) {
        const double x = r.f32();
        const double y = r.f32();
        run.seen.emplace_back(x, y);
    }
    run.ok = true;
    return run;
}

TEST_F(CameraModuleTest, ManualCalibrationPersonTouchesEachMarkWithAHumanError)
{
    std::vector<cv::Point2d> firstSigma2;
    for (const double sigma : { 0.0, 2.0, 2.0 }) {
        EmulatedBus bus;
        auto m = bus.plug(moduleWithLens(3));
        auto cam = makeCamera(3, true, false);
        Screen screen;
        m->setCamera(cam, screen.source());
        UserSetup user;
        user.sigma = sigma;
        user.seed = 9;
        m->setUser(user);
        const ManualRun run = runManual(bus, screen);
        ASSERT_TRUE(run.ok) << "sigma " << sigma;
        double sum = 0, worst = 0;
        for (size_t k = 0; k < run.targets.size(); ++k) {
            // Where the pen's tip was: the camera sees its light, off the tip
            // by the pen's offset there.
            const cv::Point2d lift = cam->penToCamera(run.targets[k], 0) - cam->windowToCamera(run.targets[k]);
            const cv::Point2d w = cam->cameraToWindow(run.seen[k] - lift);
            const double e = cv::norm(w - run.targets[k]);
            sum += e * e;
            worst = std::max(worst, e);
        }
        const double rms = std::sqrt(sum / run.targets.size());
        if (sigma == 0.0) {
            EXPECT_LT(worst, 0.2);   // the mark is found to a fraction of a pixel
        } else if (!firstSigma2.empty()) {
            // The same seed, the same person: the same touches.
            EXPECT_EQ(run.seen, firstSigma2);
        } else {
            firstSigma2 = run.seen;
            // Two axes of sigma 2: about 2.8 px RMS over 16 touches.
            EXPECT_GT(rms, 1.2);
            EXPECT_LT(rms, 5.0);
            EXPECT_LT(worst, 10.0);
        }
    }
}

TEST_F(CameraModuleTest, PersonWaitsForAMarkThatIsShownAndStill)
{
    EmulatedBus bus;
    auto m = bus.plug(moduleWithLens(1));
    auto cam = makeCamera(1);
    Screen screen;
    screen.show(filled(Qt::black));
    m->setCamera(cam, screen.source());
    RawHost host(bus);
    ASSERT_TRUE(openUpright(host));
    host.send(CMD_MC_START);
    host.sendI32(CMD_MC_PATTERN_START, 4);
    // No mark: nobody touches anything.
    EXPECT_EQ(host.read(0x83, 1000).rc, LIBUSB_ERROR_TIMEOUT);
    // Cancelled: the person leaves, a mark shown afterwards is not touched.
    host.send(CMD_MC_CANCEL);
    screen.show(markAt({ 500, 400 }));
    EXPECT_EQ(host.read(0x83, 1000).rc, LIBUSB_ERROR_TIMEOUT);
    // Restarted with the mark up: touched, and the pen stays until the mark goes.
    host.send(CMD_MC_START);
    host.sendI32(CMD_MC_PATTERN_START, 4);
    ASSERT_EQ(host.readUntil(RES_MC_PATTERN_DONE, 0x83, 30000).rc, 0);
    EXPECT_EQ(host.read(0x83, 1000).rc, LIBUSB_ERROR_TIMEOUT);
    screen.show(filled(Qt::black));
    const Rx end = host.readUntil(RES_MC_PATTERN_END, 0x83, 30000);
    ASSERT_EQ(end.rc, 0);
    EXPECT_EQ(end.payloadI32(0), 4);
}

// The picture of a busy window lags: a mark on its way to the target may show
// in one place in two pictures running (its animation steps less often than
// the window is grabbed), or in one picture that is not replaced for a while
// (the window does not repaint at all). The person touches the mark only where
// it comes to rest.
TEST_F(CameraModuleTest, PersonIsNotFooledByAMarkThatStallsOnItsWay)
{
    const cv::Point2d onTheWay(900, 520);
    const cv::Point2d target(1400, 800);
    const QImage stalled = markAt(onTheWay);
    const QImage atRest = markAt(target);
    // Looks 1 and 2: two pictures of the mark on its way; looks 3 to 12: the
    // second one again (no repaint); from look 13: the mark at rest, seen anew
    // each time.
    std::mutex mutex;
    int looks = 0;
    QImage last;
    const DisplaySource display = [&]() -> QImage {
        std::lock_guard<std::mutex> lk(mutex);
        ++looks;
        if (looks <= 2)
            last = stalled.copy();
        else if (looks > 12)
            last = atRest.copy();
        return last;
    };
    EmulatedBus bus;
    auto m = bus.plug(moduleWithLens(1));
    auto cam = makeCamera(1);
    m->setCamera(cam, display);
    UserSetup user;
    user.sigma = 0;
    user.maxHoldMs = 2000;
    m->setUser(user);
    RawHost host(bus);
    ASSERT_TRUE(openUpright(host));
    host.send(CMD_MC_START);
    host.sendI32(CMD_MC_PATTERN_START, 6);
    ASSERT_EQ(host.readUntil(RES_MC_PATTERN_DONE, 0x83, 30000).rc, 0);
    // Nobody answers: the person lifts after their patience.
    const Rx end = host.readUntil(RES_MC_PATTERN_END, 0x83, 30000);
    ASSERT_EQ(end.rc, 0);
    EXPECT_EQ(end.payloadI32(0), 6);
    host.send(CMD_MC_GET_INPUT_POINT);
    const Rx pts = host.readUntil(DAT_MC_INPUT_POINT);
    ASSERT_EQ(pts.rc, 0);
    ASSERT_EQ(pts.length(), kMcPointBytes);
    ByteReader r(pts.payload(), kMcPointBytes);
    r.skip(6 * 8);   // targets 0 to 5
    const double x = r.f32();
    const double y = r.f32();
    // The camera sees the pen's light, off its tip by the pen's offset there.
    const cv::Point2d lift = cam->penToCamera(target, 0) - cam->windowToCamera(target);
    const cv::Point2d touched = cam->cameraToWindow(cv::Point2d(x, y) - lift);
    EXPECT_LT(cv::norm(touched - target), 1.0) << touched;
}

// The window answers a touch by drawing a ring round the mark; on a busy
// machine that can take long. The person keeps the pen down, whatever it takes,
// until the ring has come and gone; a window that never answers is given up
// after the person's patience.
TEST_F(CameraModuleTest, PersonHoldsUntilTheRingRoundTheMarkHasComeAndGone)
{
    const cv::Point2d target(700, 400);
    QImage ringed = markAt(target);
    {
        QPainter p(&ringed);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 0, 0), 7));
        p.drawArc(QRectF(target.x + 0.5 - 37.25, target.y + 0.5 - 37.25, 74.5, 74.5), 0, 90 * 16);
        p.drawArc(QRectF(target.x + 0.5 - 25.5, target.y + 0.5 - 25.5, 51, 51), 0, 90 * 16);
    }
    EmulatedBus bus;
    auto m = bus.plug(moduleWithLens(1));
    auto cam = makeCamera(1);
    Screen screen;
    screen.show(markAt(target));
    m->setCamera(cam, screen.source());
    UserSetup user;
    user.maxHoldMs = 20000;
    m->setUser(user);
    RawHost host(bus);
    ASSERT_TRUE(openUpright(host));
    host.send(CMD_MC_START);
    host.sendI32(CMD_MC_PATTERN_START, 2);
    ASSERT_EQ(host.readUntil(RES_MC_PATTERN_DONE, 0x83, 30000).rc, 0);
    // The ring is slow to come and slower to finish: far longer than the
    // mark may be out of sight before the person takes it for gone.
    EXPECT_EQ(host.read(0x83, 1500).rc, LIBUSB_ERROR_TIMEOUT);
    screen.show(ringed);
    EXPECT_EQ(host.read(0x83, 6000).rc, LIBUSB_ERROR_TIMEOUT);
    // The ring is gone and the mark stands where it was: answered, the pen lifts.
    screen.show(markAt(target));
    Rx end = host.readUntil(RES_MC_PATTERN_END, 0x83, 30000);
    ASSERT_EQ(end.rc, 0);
    EXPECT_EQ(end.payloadI32(0), 2);

    // No answer at all: the person gives up only after the patience runs out.
    host.sendI32(CMD_MC_PATTERN_START, 3);
    ASSERT_EQ(host.readUntil(RES_MC_PATTERN_DONE, 0x83, 30000).rc, 0);
    EXPECT_EQ(host.read(0x83, 8000).rc, LIBUSB_ERROR_TIMEOUT);
    end = host.readUntil(RES_MC_PATTERN_END, 0x83, 60000);
    ASSERT_EQ(end.rc, 0);
    EXPECT_EQ(end.payloadI32(0), 3);
}

// A touch the test supplies is held the same way while the module watches the
// window: at least the hold time, then until the window answers (here the mark
// moves on). Without a display it ends after the hold time.
TEST_F(CameraModuleTest, SuppliedTouchIsHeldUntilTheWindowAnswers)
{
    for (const bool watching : { true, false }) {
        SCOPED_TRACE(watching ? "watching" : "not watching");
        EmulatedBus bus;
        auto m = bus.plug(moduleWithLens(1));
        Screen screen;
        screen.show(markAt({ 700, 400 }));
        if (watching)
            m->setCamera(makeCamera(1), screen.source());
        m->setManualTouch([](int) { return std::optional<CameraPoint>(CameraPoint{ 600.0f, 300.0f }); });
        RawHost host(bus);
        ASSERT_TRUE(openUpright(host));
        host.send(CMD_MC_START);
        host.sendI32(CMD_MC_PATTERN_START, 5);
        ASSERT_EQ(host.readUntil(RES_MC_PATTERN_DONE, 0x83, 30000).rc, 0);
        if (watching) {
            // Long past the hold time the window has not answered: the pen stays.
            EXPECT_EQ(host.read(0x83, 4000).rc, LIBUSB_ERROR_TIMEOUT);
            screen.show(markAt({ 1200, 700 }));
        }
        const Rx end = host.readUntil(RES_MC_PATTERN_END, 0x83, 30000);
        ASSERT_EQ(end.rc, 0);
        EXPECT_EQ(end.payloadI32(0), 5);
    }
}

TEST_F(CameraModuleTest, PenIsReportedThroughTheUploadedParameters)
{
    for (const bool ceiling : { false, true }) {
        EmulatedBus bus;
        auto m = bus.plug(moduleWithLens(1));
        auto cam = makeCamera(1, ceiling, false, 5);
        Screen screen;
        m->setCamera(cam, screen.source());
        const std::vector<cv::Point2d> pens = { { 300, 200 }, { 960, 540 }, { 1700, 900 }, { 1200, 300 } };
        m->setWindowPen(windowTaps(pens, 1, 0));
        RawHost host(bus);
        ASSERT_TRUE(openUpright(host));

        // Blank: the module cannot place a pen, it reports nothing.
        host.sendI32(CMD_SET_TRANSFER_MODE, 2);
        host.send(CMD_START_TRACKING);
        EXPECT_TRUE(nextReport(host).empty());
        host.send(CMD_STOP_TRACKING);
        host.drain();

        // A good calibration, fitted as the product pairs the elements (the
        // window's drawn points, in the camera's turned frame when it hangs
        // from the ceiling, with the tweak table of pen type 0) and uploaded
        // with its mounting: pens land where they are.
        double tp[13];
        ASSERT_TRUE(fitExactAuto(*cam, tp, true, 0));
        uploadCalibration(host, tp, kW, kH, 1, ceiling ? 1 : 0);
        // The window point the module makes of a camera point: the model's,
        // turned back for a ceiling mounting.
        auto windowOf = [&tp, ceiling](double cx, double cy) {
            ModelPoint w = tl::cameraToWindow(tp, cx, cy);
            if (ceiling)
                w = { (kW - 1.0) - w.x, (kH - 1.0) - w.y };
            return w;
        };
        host.send(CMD_GET_EEPROM);
        const Rx e = host.readUntil(DAT_EEPROM);
        ASSERT_EQ(e.rc, 0);
        EXPECT_TRUE(decodeEeprom(e.payload(), e.length())->calibrated());
        host.send(CMD_START_TRACKING);
        std::vector<TrackingRecord> got;
        for (int i = 0; i < 4; ++i) {
            const auto recs = nextReport(host);
            ASSERT_EQ(recs.size(), 1u);
            got.push_back(recs[0]);
        }
        for (size_t i = 0; i < pens.size(); ++i) {
            // Within what the pen's light leaves of the tweak table (up to
            // 1.5 camera px, about 3 window px here) and the model's floor.
            EXPECT_NEAR(got[i].x * double(kW) / 4800, pens[i].x, 5.0) << i;
            EXPECT_NEAR(got[i].y * double(kH) / 3000, pens[i].y, 5.0) << i;
            // Exactly the module's use of the model on what its camera sees:
            // the light of its pen (type 0), not the pen's tip.
            const cv::Point2d c = cam->penToCamera(pens[i], 0);
            const ModelPoint w = windowOf(c.x, c.y);
            EXPECT_EQ(got[i].x, std::lround(w.x * 4800 / kW));
            EXPECT_EQ(got[i].y, std::lround(w.y * 3000 / kH));
        }
        host.send(CMD_STOP_TRACKING);
        host.drain();

        // Not reversed: the module feeds the turned camera point to the same
        // parameters, so a calibration made on upright pictures now points wrong.
        host.sendI32(CMD_SET_IMAGE_REVERSE, 0);
        m->setWindowPen(windowTaps(pens, 1, 0));
        host.send(CMD_START_TRACKING);
        const auto recs = nextReport(host);
        const cv::Point2d c = cam->penToCamera(pens[0], 0);
        const ModelPoint w = windowOf(1279 - c.x, 719 - c.y);
        const bool representable = w.x >= 0 && w.x * 4800 / kW <= 65535 && std::fabs(w.y * 3000 / kH) < 32767;
        if (representable) {
            ASSERT_EQ(recs.size(), 1u);
            EXPECT_EQ(recs[0].x, std::lround(w.x * 4800 / kW));
            EXPECT_EQ(recs[0].y, std::lround(w.y * 3000 / kH));
        } else {
            EXPECT_TRUE(recs.empty());
        }
        host.send(CMD_STOP_TRACKING);
    }
}

// A mounted camera sees the pattern turned or mirrored, and the fit pairs what
// it finds with the screen positions of the elements' numbers: the uploaded
// parameters map into that turned or mirrored frame, and the module must undo
// it with the mounting flags of the upload, for every lens.
TEST_F(CameraModuleTest, PenOfAMountedCameraIsReportedWhereItIs)
{
    const std::vector<cv::Point2d> pens = { { 300, 200 }, { 960, 540 }, { 1700, 900 }, { 1200, 300 }, { 400, 850 } };
    for (const int lens : { 1, 2 }) {
        for (const auto &[ceiling, rear] : { std::pair(0, 0), std::pair(0, 1), std::pair(1, 0), std::pair(1, 1) }) {
            SCOPED_TRACE("lens " + std::to_string(lens) + " ceiling " + std::to_string(ceiling) + " rear " +
                         std::to_string(rear));
            EmulatedBus bus;
            auto m = bus.plug(moduleWithLens(lens));
            auto cam = makeCamera(lens, ceiling != 0, rear != 0, 7);
            Screen screen;
            m->setCamera(cam, screen.source());
            m->setWindowPen(windowTaps(pens, 1, 0));
            RawHost host(bus);
            ASSERT_TRUE(openUpright(host));
            double tp[13];
            ASSERT_TRUE(fitExactAuto(*cam, tp, true, 0));
            uploadCalibration(host, tp, kW, kH, lens, ceiling, rear);
            host.sendI32(CMD_SET_TRANSFER_MODE, 2);
            host.send(CMD_START_TRACKING);
            for (size_t i = 0; i < pens.size(); ++i) {
                const auto recs = nextReport(host);
                ASSERT_EQ(recs.size(), 1u) << i;
                EXPECT_NEAR(recs[0].x * double(kW) / 4800, pens[i].x, 3.0) << i;
                EXPECT_NEAR(recs[0].y * double(kH) / 3000, pens[i].y, 3.0) << i;
            }
            host.send(CMD_STOP_TRACKING);
        }
    }
}

// A pen touching the display near its edge that the calibration places a
// little past the edge (it extrapolates beyond its points) is a touch on the
// edge: the module reports it on the edge of its sensor space, whichever edge,
// also the left one, which the record's unsigned x cannot pass. A pen placed
// well past the edge is not on the display; the record cannot carry it past
// the left edge.
TEST_F(CameraModuleTest, PenJustPastTheDisplaysEdgeIsReportedOnTheEdge)
{
    auto cam = makeCamera(1, false, false, 5);
    double exact[13];
    ASSERT_TRUE(fitExactAuto(*cam, exact, true));
    struct Side
    {
        cv::Point2d pen;    // the touch, window px
        cv::Point2d shift;  // how far the calibration places it off, window px
        int x, y;           // the edge it is reported on (-1: where the calibration places it)
    };
    // 8 window px are 20 sensor units across and 22 down; 24 are 60 and 67.
    const Side sides[] = {
        { { 4, 540 }, { -8, 0 }, 0, -1 },       { { 1915, 540 }, { 8, 0 }, 4799, -1 },
        { { 960, 4 }, { 0, -8 }, -1, 0 },       { { 960, 1075 }, { 0, 8 }, -1, 2999 },
        { { 6, 1073 }, { -8, 8 }, 0, 2999 },
    };
    for (const Side &s : sides) {
        SCOPED_TRACE("pen " + std::to_string(s.pen.x) + ", " + std::to_string(s.pen.y));
        EmulatedBus bus;
        ModuleVariant v = moduleWithLens(1);
        v.penType = 7;   // a light on the screen plane: the calibration alone decides
        auto m = bus.plug(v);
        Screen screen;
        m->setCamera(cam, screen.source());
        RawHost host(bus);
        ASSERT_TRUE(openUpright(host));
        for (const double scale : { 1.0, 3.0 }) {
            // The exact calibration, its window point moved by the shift.
            const cv::Point2d d = scale * s.shift;
            double tp[13];
            std::copy(exact, exact + 13, tp);
            tp[0] += d.x * tp[6];
            tp[1] += d.x * tp[7];
            tp[2] += d.x;
            tp[3] += d.y * tp[6];
            tp[4] += d.y * tp[7];
            tp[5] += d.y;
            uploadCalibration(host, tp);
            m->setWindowPen(windowTaps({ s.pen }, 1, 0));
            host.sendI32(CMD_SET_TRANSFER_MODE, 2);
            host.send(CMD_START_TRACKING);
            const auto recs = nextReport(host);
            host.send(CMD_STOP_TRACKING);
            host.drain();
            const cv::Point2d placed = s.pen + d;
            if (scale == 1.0) {
                ASSERT_EQ(recs.size(), 1u);
                if (s.x >= 0)
                    EXPECT_EQ(recs[0].x, s.x);
                else
                    EXPECT_NEAR(recs[0].x * double(kW) / 4800, placed.x, 1.0);
                if (s.y >= 0)
                    EXPECT_EQ(recs[0].y, s.y);
                else
                    EXPECT_NEAR(recs[0].y * double(kH) / 3000, placed.y, 1.0);
            } else if (placed.x < 0) {
                EXPECT_TRUE(recs.empty());
            } else {
                // Past the other edges it is carried as it is, for the host to leave.
                ASSERT_EQ(recs.size(), 1u);
                EXPECT_NEAR(recs[0].x * double(kW) / 4800, placed.x, 1.0);
                EXPECT_NEAR(recs[0].y * double(kH) / 3000, placed.y, 1.0);
            }
        }
    }
}

// The module sees its pen where the pen's light is, for the pen type it is
// set up with: the same calibration reports the pen types apart, and a pen
// type outside 0..1 as a light on the screen plane. Pens at the very edge of
// the camera's view, or beyond it, are reported or left out, never read
// outside the image (the mask is read at the pen's pixel).
TEST_F(CameraModuleTest, PenTypeDecidesWhereTheModuleSeesThePen)
{
    auto cam = makeCamera(2, false, false, 4);
    const std::vector<cv::Point2d> pens = { { 300, 200 }, { 960, 540 }, { 1700, 900 } };
    double tp[13];
    ASSERT_TRUE(fitExactAuto(*cam, tp, false, 0));
    std::vector<std::vector<TrackingRecord>> byType;
    for (const int pen : { 0, 1, 7, -3 }) {
        SCOPED_TRACE("pen type " + std::to_string(pen));
        EmulatedBus bus;
        ModuleVariant v = moduleWithLens(2);
        v.penType = pen;
        auto m = bus.plug(v);
        EXPECT_EQ(m->penType(), pen);
        Screen screen;
        m->setCamera(cam, screen.source());
        m->setWindowPen(windowTaps(pens, 1, 0));
        RawHost host(bus);
        ASSERT_TRUE(openUpright(host));
        uploadCalibration(host, tp, kW, kH, 2);
        // A mask that is enabled and covers nothing: it is read at the pen.
        std::vector<uint8_t> mask(kMaskSize, 0);
        mask[kMaskEnableOffset] = 1;
        uploadMask(host, mask);
        host.sendI32(CMD_SET_TRANSFER_MODE, 2);
        host.send(CMD_START_TRACKING);
        std::vector<TrackingRecord> got;
        for (size_t i = 0; i < pens.size(); ++i) {
            const auto recs = nextReport(host);
            ASSERT_EQ(recs.size(), 1u) << i;
            got.push_back(recs[0]);
            const cv::Point2d c = (pen == 0 || pen == 1) ? cam->penToCamera(pens[i], pen) : cam->windowToCamera(pens[i]);
            const ModelPoint w = tl::cameraToWindow(tp, c.x, c.y);
            EXPECT_EQ(recs[0].x, std::lround(w.x * 4800 / kW)) << i;
            EXPECT_EQ(recs[0].y, std::lround(w.y * 3000 / kH)) << i;
        }
        host.send(CMD_STOP_TRACKING);
        host.drain();
        byType.push_back(got);

        // The very edge of the camera's view and just beyond it.
        std::vector<cv::Point2d> edge;
        for (const cv::Point2d c : { cv::Point2d(-0.49, 360), cv::Point2d(1279.49, 360), cv::Point2d(640, -0.49),
                                     cv::Point2d(640, 719.49), cv::Point2d(-3, -3), cv::Point2d(1290, 730) }) {
            const cv::Point2d w = cam->cameraToWindow(c);
            if (std::isfinite(w.x) && std::isfinite(w.y))
                edge.push_back(w);
        }
        ASSERT_FALSE(edge.empty());
        m->setPenType(pen);
        m->setWindowPen(windowTaps(edge, 1, 0));
        host.send(CMD_START_TRACKING);
        for (size_t i = 0; i < edge.size(); ++i) {
            const auto recs = nextReport(host);
            EXPECT_LE(recs.size(), 1u);
        }
        host.send(CMD_STOP_TRACKING);
    }
    // Pen types 0 and 1 of lens 2 have lights of their own; the two bad types
    // are the same light on the plane.
    ASSERT_EQ(byType.size(), 4u);
    bool differ = false;
    for (size_t i = 0; i < pens.size(); ++i)
        differ = differ || byType[0][i].x != byType[1][i].x || byType[0][i].y != byType[1][i].y;
    EXPECT_TRUE(differ);
    for (size_t i = 0; i < pens.size(); ++i) {
        EXPECT_EQ(byType[2][i].x, byType[3][i].x);
        EXPECT_EQ(byType[2][i].y, byType[3][i].y);
    }
}

} // namespace
} // namespace tl::sim::test
