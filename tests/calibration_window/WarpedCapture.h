#pragma once

#include <opencv2/core.hpp>

// Camera captures made from a window image for the recognition tests: a
// camera that sees the window through the driver's own model (a keystoned
// projective view plus the radial distortion of a lens preset), with a black
// level, a white gain with vignetting, a blur of about one camera pixel,
// seeded noise and 8-bit quantisation.
struct WarpedCapture
{
    // tp: camera -> window. The window fills about `fill` of the camera width.
    // Ceiling: the camera sees the window turned by 180 degrees; rear: mirrored
    // left to right.
    WarpedCapture(int windowWidth, int windowHeight, int lens, double fill = 0.7, double noiseSigma = 2.0,
                  unsigned seed = 1, bool ceiling = false, bool rear = false);

    double tp[13];
    double noiseSigma;
    unsigned seed;

    // 1280 x 720 capture of a window image (8-bit grey, window size).
    cv::Mat capture(const cv::Mat &window, int salt) const;
    cv::Mat black() const;
    cv::Mat white() const;

    // The camera point that sees window point (X, Y).
    cv::Point2d cameraOf(double X, double Y) const;

private:
    cv::Point2d mount(double X, double Y) const;
    bool m_ceiling;
    bool m_rear;
    int m_width;
    int m_height;
    cv::Mat m_mapX;
    cv::Mat m_mapY;
    cv::Mat m_gain;
};
