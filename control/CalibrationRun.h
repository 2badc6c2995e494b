#pragma once

// What one calibration run keeps between its steps, besides the calibration
// machine's state: which image was asked for last, which images are stored,
// the cancel request and the modules' results.

#include "calibration/CalibrationFit.h"
#include "control/StateMachines.h"

#include <QDateTime>

struct CalibrationRun
{
    // Bits of `storedImages`: the images of this module's auto run.
    static constexpr int kBlackStored = 1;
    static constexpr int kWhiteStored = 2;
    static constexpr int kPatternStored = 4;
    static constexpr int kAllImages = kBlackStored | kWhiteStored | kPatternStored;

    tl::machines::CaptureKind capture = tl::machines::CaptureKind::None;  // the image asked for last
    QDateTime captureTimer;  // start of the current capture
    int storedImages = 0;    // kBlackStored | kWhiteStored | kPatternStored
    // Escape or a close of the window during an auto step: the run ends at its
    // next step, or at the deadline when the module brings none.
    bool cancelRequested = false;
    qint64 cancelDeadlineMs = -1;
    int result[2] = {0, 0};  // per module: 0 failed, 1 calibrated
    // The fit of the module being calibrated, kept from its evaluation until
    // the module says it stored the uploaded parameters.
    tl::FitResult fit;

    // The slot of the black, white and pattern image (0, 1, 2) for a capture.
    static int imageSlot(tl::machines::CaptureKind kind)
    {
        return kind == tl::machines::CaptureKind::Black ? 0 : kind == tl::machines::CaptureKind::White ? 1 : 2;
    }
};

// The lens code of the calibration model and the camera's "reverse image"
// flag both follow the projector lens choice of the settings: the three throw
// distances mount the camera upside down.
inline int lensCodeForLens(int lensSelect)
{
    return (lensSelect >= 0 && lensSelect <= 2) ? lensSelect + 1 : 0;
}

inline int reverseForLens(int lensSelect)
{
    return (lensSelect >= 0 && lensSelect <= 2) ? 1 : 0;
}
