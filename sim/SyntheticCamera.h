#pragma once

#include "sim/PenLight.h"

#include <opencv2/core.hpp>

#include <QImage>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace tl::sim {

// What a synthetic camera is built from: the display it watches, its lens and
// its mounting, and the seed of everything random about it.
struct CameraSetup
{
    int displayWidth = 1920;   // the display (window) the module watches, pixels
    int displayHeight = 1080;
    int lens = 1;              // lens code 1, 2 or 3 (any other: as 1)
    bool ceiling = false;      // the camera hangs upside down: it sees the display turned by 180 degrees
    bool rear = false;         // it watches from behind the screen: it sees the display mirrored left to right
    uint64_t seed = 1;         // pose, lens and noise all follow from it
    double noise = 1.0;        // scale of the image noise (0: none)
};

// The camera of an emulated module: a pinhole view of the screen plane through
// a real lens (radial distortion in a rational form, slight tangential
// distortion, a principal point off the image centre), the camera tilted and
// turned as a camera on a projector is. This is the ground truth of every
// module: for each window point the camera point that sees it. It is a
// different family from the driver's calibration model (radial polynomial of
// the distorted radius followed by a plane homography), so a fit can only come
// close to it.
//
// Window coordinates: pixels of the displayed image, pixel (i, j) centred at
// (i, j). Camera coordinates: pixels of the 1280 x 720 image, pixel (u, v)
// centred at (u, v).
//
// Photographs are rendered from what the display shows: the projector's light
// through the lens, plus black level, ambient light with a gradient,
// vignetting, blur, shot and read noise and 8-bit quantisation. Noise is drawn
// from a generator seeded with the camera's seed and the number of the shot,
// so two cameras built alike take the same pictures in the same order.
class SyntheticCamera
{
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
    static constexpr int kFrameWidth = 640;
    static constexpr int kFrameHeight = 360;
    // Sensor gain that gives the nominal levels (the alignment view's default).
    static constexpr int kUnityGain = 256;

    explicit SyntheticCamera(const CameraSetup &setup);

    const CameraSetup &setup() const { return m_setup; }

    // Ground truth. windowToCamera is closed form; cameraToWindow inverts the
    // lens by iteration and returns NaN for a ray that never meets the screen plane.
    cv::Point2d windowToCamera(cv::Point2d window) const;
    cv::Point2d cameraToWindow(cv::Point2d camera) const;

    // Where the camera sees the light of a pen whose tip touches the screen at
    // `window`: the light's place in space (PenLight) through the same pose
    // and lens as the screen. NaN where it is behind the camera.
    cv::Point2d lightToCamera(cv::Point2d window, const PenLight &light) const;
    // The same for the pen type the module is set up with (its light for this
    // camera's lens family).
    cv::Point2d penToCamera(cv::Point2d window, int penType) const;

    // A 1280 x 720 CV_8UC1 photograph of the display (any size; it is scaled to
    // the display size the camera was built for). A null image is a dark display.
    cv::Mat capture(const QImage &projectedDisplay);
    // A 640 x 360 CV_8UC1 frame of the alignment view at the given sensor gain
    // (kUnityGain = the nominal levels; the signal above black scales with it).
    cv::Mat frame(const QImage &projectedDisplay, int gain);

    // The noise-free level (8-bit units, before blur) at a camera point of the
    // screen showing the grey value `display` (0 = black, 1 = white), at unity gain.
    double expectedLevel(cv::Point2d camera, double display) const;
    double blackLevel() const { return m_black; }
    // Level of full white at the principal point, ambient light excluded: below full scale.
    double whiteLevel() const { return m_black + m_white; }

    // Share of the camera image the screen covers (0..1).
    double screenFill() const { return m_fill; }
    // Whether a camera point lies on the screen (inside the window's edges).
    bool seesScreen(cv::Point2d camera) const;

    // The lens as OpenCV writes it: camera matrix and the coefficients
    // (k1, k2, p1, p2, k3, k4, k5, k6) of the rational model.
    cv::Matx33d cameraMatrix() const;
    cv::Mat distCoeffs() const;

private:
    cv::Point2d viewToWindow(cv::Point2d view) const;   // its own inverse
    cv::Point2d distort(cv::Point2d normalized) const;
    bool undistort(cv::Point2d distorted, cv::Point2d *normalized) const;
    // A point of the screen's space through the pose and the lens. `irScale`
    // and `irRadial` are the lens at the pen light's wavelength (PenLight);
    // 0 for the visible light of the screen.
    cv::Point2d project(const cv::Vec3d &world, double irScale = 0, double irRadial = 0) const;
    void placeCamera(double targetFill, cv::Point2d targetCentre);
    double measureFill(cv::Rect2d *box) const;
    void buildMaps();
    cv::Mat render(const QImage &display, double gainFactor);

    CameraSetup m_setup;

    // Lens.
    double m_fx = 1000, m_fy = 1000, m_cx = 640, m_cy = 360;
    double m_k[6] = { 0, 0, 0, 0, 0, 0 };   // rational radial: (1 + k0 s + k1 s^2 + k2 s^3) / (1 + k3 s + k4 s^2 + k5 s^3)
    double m_p1 = 0, m_p2 = 0;

    // Pose: world x right and y down on the screen plane z = 0 (units of window
    // pixels, origin at the window's centre), the camera at m_centre in front of
    // it (z < 0); camera coordinates = m_rot * (world - m_centre).
    cv::Matx33d m_rot = cv::Matx33d::eye();
    cv::Vec3d m_centre{ 0, 0, -1000 };

    // Photometry (8-bit units).
    double m_black = 14;
    double m_white = 180;
    double m_ambient = 14;
    double m_ambientSlopeX = 0, m_ambientSlopeY = 0;
    double m_vignette = 0.25;
    double m_blurSigma = 0.8;
    double m_readNoise = 1.2;
    double m_shotNoise = 0.12;   // variance per unit of signal

    double m_fill = 0;

    // Render state, built on first use.
    std::mutex m_mapMutex;
    bool m_mapsBuilt = false;
    cv::Mat m_map1, m_map2;        // supersampled camera -> window (fixed point)
    cv::Mat m_coverage;            // 1280 x 720, share of each pixel on the screen
    cv::Mat m_gainMap;             // white gain times vignetting, per camera pixel
    cv::Mat m_ambientMap;          // ambient light per camera pixel
    double m_prefilterSigma = 0;   // window pixels
    std::atomic<uint64_t> m_shots{ 0 };
};

} // namespace tl::sim
