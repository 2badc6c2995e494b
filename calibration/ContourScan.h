#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace tl {

// The contours of a binary image (every outer boundary and every hole, end
// points of straight runs only) whose bounding box is at least `minBox` and at
// most `maxBox` in both directions, in the order in which a full contour list
// of the image gives them, each with exactly its points.
//
// A thresholded camera image holds tens of thousands of noise specks per
// level. Their contours are traced as usual, but only the ones of a wanted
// size become point lists; the rest are dropped where they are found, without
// a list, an allocation or a size computation of their own.
//
// `image`: 8-bit one-channel, non-zero pixels are foreground.
void boxedContours(const cv::Mat &image, cv::Size minBox, cv::Size maxBox,
                   std::vector<std::vector<cv::Point>> &contours);

} // namespace tl
