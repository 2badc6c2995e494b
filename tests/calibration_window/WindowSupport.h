#pragma once

#include "calibration/CalibDlg.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QImage>
#include <memory>
#include <opencv2/core.hpp>

// A calibration window on a one-monitor desktop of the given size, with the
// mounting flags set, the English texts and the point counts of lens code 2.
struct WindowRig
{
    WindowRig(int width, int height, bool ceiling = false, bool rear = false, int monitors = 1);
    ~WindowRig();

    std::unique_ptr<ConfigFileRW> settings;
    LanguageTable language;
    std::unique_ptr<CalibDlg> dlg;

    // Shows the auto pattern (mode 3) and returns the window's pixels.
    QImage showPattern();
};

// 8-bit grey copy of a widget grab.
cv::Mat toGrey(const QImage &image);

// What a camera in front of (or, for rear projection, behind) the screen sees
// of the window, turned upright for ceiling mounting: rear flips left-right,
// ceiling turns by 180 degrees. Also maps a window point the same way.
cv::Mat cameraView(const cv::Mat &window, bool ceiling, bool rear);
cv::Point2f cameraViewPoint(const cv::Point2f &p, int width, int height, bool ceiling, bool rear);
