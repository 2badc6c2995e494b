#pragma once

#include "device/codec/Image.h"

#include <cstdint>
#include <map>
#include <vector>

namespace tl::sim {

// What the module knows when it captures: its exposure and sensor registers as
// the host last set them. A synthetic camera may use them; a test image ignores them.
struct CaptureContext
{
    int kind = 0;               // 101, 102, 103 for captures; 0 for alignment frames
    uint8_t exposure = 0;       // third byte of the last CMD_AC_BLACK_START
    int32_t argument = 0;       // int32 of the last CMD_AC_WHITE_START / CMD_AC_PATTERN_START
    uint64_t frameNumber = 0;   // alignment frames served so far
    std::map<uint16_t, uint8_t> registers;  // sensor registers written with CMD_IIC_WR
};

// The module's camera. Called with the module's lock held: it must not call back
// into the module. Images are 8-bit grey, row by row, x to the right, y down; an
// image of another size is cut or padded with zeros to the expected size.
class ImageSource
{
public:
    virtual ~ImageSource() = default;
    // A 1280 x 720 capture for an auto-calibration kind.
    virtual std::vector<uint8_t> capture(const CaptureContext &ctx) = 0;
    // A 640 x 360 frame for the alignment view.
    virtual std::vector<uint8_t> alignmentFrame(const CaptureContext &ctx) = 0;
};

// A deterministic test image: every byte depends on its position and on the
// kind (or frame number), so a misplaced or lost piece shows in a byte compare.
class TestPatternSource : public ImageSource
{
public:
    std::vector<uint8_t> capture(const CaptureContext &ctx) override;
    std::vector<uint8_t> alignmentFrame(const CaptureContext &ctx) override;

    static std::vector<uint8_t> captureFor(int kind);
    static std::vector<uint8_t> frameFor(uint64_t frameNumber);
};

} // namespace tl::sim
