#include "sim/ImageSource.h"

namespace tl::sim {

using codec::kAcImageBytes;
using codec::kAcImageHeight;
using codec::kAcImageWidth;
using codec::kFrameBytes;
using codec::kFrameHeight;
using codec::kFrameWidth;

std::vector<uint8_t> TestPatternSource::capture(const CaptureContext &ctx)
{
    return captureFor(ctx.kind);
}

std::vector<uint8_t> TestPatternSource::alignmentFrame(const CaptureContext &ctx)
{
    return frameFor(ctx.frameNumber);
}

std::vector<uint8_t> TestPatternSource::captureFor(int kind)
{
    std::vector<uint8_t> img(kAcImageBytes);
    for (int y = 0; y < kAcImageHeight; ++y)
        for (int x = 0; x < kAcImageWidth; ++x)
            img[y * kAcImageWidth + x] = static_cast<uint8_t>(x * 7 + y * 13 + (x >> 8) + kind * 31);
    return img;
}

std::vector<uint8_t> TestPatternSource::frameFor(uint64_t frameNumber)
{
    std::vector<uint8_t> img(kFrameBytes);
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x)
            img[y * kFrameWidth + x] = static_cast<uint8_t>(x * 3 + y * 5 + (y >> 8) + frameNumber * 17);
    return img;
}

} // namespace tl::sim
