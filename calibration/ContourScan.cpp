#include "calibration/ContourScan.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>

namespace tl {

void boxedContours(const cv::Mat &image, cv::Size minBox, cv::Size maxBox,
                   std::vector<std::vector<cv::Point>> &contours)
{
    contours.clear();
    CV_Assert(image.type() == CV_8UC1);
    if (image.empty())
        return;
    // The scan works in place and needs a frame of background around the
    // image; the points are shifted back by the frame.
    cv::Mat framed;
    cv::copyMakeBorder(image, framed, 1, 1, 1, 1, cv::BORDER_CONSTANT | cv::BORDER_ISOLATED, cv::Scalar(0));
    CvMat header = cvMat(framed);
    // Released however the scan ends (a throw from the scan or the copies).
    const cv::Ptr<CvMemStorage> storage(cvCreateMemStorage(0));
    CvSeq *first = nullptr;
    cvFindContours(&header, storage.get(), &first, sizeof(CvContour), CV_RETR_LIST, CV_CHAIN_APPROX_SIMPLE,
                   cvPoint(-1, -1));
    // Without a hierarchy every contour is a sibling of the first, in the
    // order of the full list.
    for (CvSeq *seq = first; seq; seq = seq->h_next) {
        const CvRect box = reinterpret_cast<CvContour *>(seq)->rect;
        if (box.width < minBox.width || box.width > maxBox.width || box.height < minBox.height
            || box.height > maxBox.height)
            continue;
        contours.emplace_back(static_cast<size_t>(seq->total));
        cvCvtSeqToArray(seq, contours.back().data(), CV_WHOLE_SEQ);
    }
}

} // namespace tl
