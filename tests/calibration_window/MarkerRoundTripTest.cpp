#include "WindowSupport.h"

#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognition.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

struct Mounting
{
    bool ceiling;
    bool rear;
};

class MarkerRoundTrip : public ::testing::TestWithParam<std::tuple<QSize, Mounting>>
{
};

// The painted pattern, seen as the camera sees it for its mounting, holds the
// nine markers with their element numbers as IDs, each at the camera position
// of that element: the window point of element k's screen position.
TEST_P(MarkerRoundTrip, NineMarkersAtTheirPositions)
{
    const QSize size = std::get<0>(GetParam());
    const Mounting mount = std::get<1>(GetParam());
    WindowRig rig(size.width(), size.height(), mount.ceiling, mount.rear);
    const cv::Mat window = toGrey(rig.showPattern());
    ASSERT_EQ(window.cols, size.width());
    const cv::Mat seen = cameraView(window, mount.ceiling, mount.rear);

    cv::Mat small;
    cv::resize(seen, small, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
    // The family's reference detector reads what the window drew from its own
    // table of cells.
    const std::vector<tl::MarkerDetection> found = tl::PatternFinder::detectMarkers(small, -1);
    std::vector<int> ids;
    std::vector<std::vector<cv::Point2f>> corners;
    for (const tl::MarkerDetection &d : found) {
        ids.push_back(d.id);
        corners.push_back(d.corners);
    }

    std::vector<int> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{ 6, 7, 8, 11, 12, 13, 16, 17, 18 }));

    const cv::Point2f *points = rig.dlg->getPoints();
    for (size_t i = 0; i < ids.size(); ++i) {
        const int k = ids[i];
        if (!tl::isMarkerIndex(k))
            continue;
        cv::Point2f c(0, 0);
        for (const cv::Point2f &q : corners[i])
            c += q * 2.0f; // back to window pixels
        c *= 0.25f;
        // Element k is seen at camera row k / 5, column k % 5: the window point
        // of that position after the camera's view of the screen.
        const int row = k / 5, col = k % 5;
        // Which screen position shows element k?
        int sa = -1, sb = -1;
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 5; ++b)
                if (tl::patternElement(a, b, mount.ceiling, mount.rear) == k) {
                    sa = a;
                    sb = b;
                }
        ASSERT_GE(sa, 0);
        const cv::Point2f expected = cameraViewPoint(points[5 * sa + sb], size.width(), size.height(),
                                                     mount.ceiling, mount.rear);
        EXPECT_LT(cv::norm(c - expected), 2.0) << "id " << k;
        // Whatever the mounting, the camera finds element k at the k-th point
        // of the layout (row k / 5, column k % 5); the layout is symmetric up
        // to a pixel of rounding.
        EXPECT_LT(cv::norm(c - points[5 * row + col]), 3.0) << "id " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllMountings, MarkerRoundTrip,
    ::testing::Combine(::testing::Values(QSize(1280, 800), QSize(1920, 1080)),
                       ::testing::Values(Mounting{ false, false }, Mounting{ false, true }, Mounting{ true, false },
                                         Mounting{ true, true })));

} // namespace
