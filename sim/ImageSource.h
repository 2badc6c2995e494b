#pragma once

#include "device/codec/Image.h"

#include <QImage>
#include <QRect>
#include <QString>

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

// What one output of a live window session shows: the pixels the window system
// composed there, whatever window put them there (or none). This is the
// projector's light in a window session: a camera watching the output sees a
// misplaced or partly covered window as a person in the room would.
//   X11 (also Xvfb and XWayland clients): the root window's pixels inside the
//     output's rectangle, read through Qt's screen grab.
//   wlroots compositors (sway): the output through the screencopy protocol,
//     by running `grim -o OUTPUT -`.
// Elsewhere (offscreen, other Wayland compositors) there is nothing to grab.
class OutputGrab
{
public:
    enum class Method { None, RootWindow, Screencopy };

    // `name`: the output as the window system names it (RandR output,
    // wl_output name); `area`: its rectangle in the window system's own
    // coordinates (X11 root pixels; Wayland layout).
    OutputGrab(const QString &name, const QRect &area, Method method);

    // The method for Qt's platform plugin ("xcb", "wayland", "offscreen").
    static Method methodFor(const QString &platformName);

    const QString &name() const { return m_name; }
    const QRect &area() const { return m_area; }
    Method method() const { return m_method; }

    // The output's current picture at its size; a null image when it cannot
    // be read (see lastError()). The root window read needs the GUI thread.
    QImage grab();
    QString lastError() const { return m_error; }

private:
    QString m_name;
    QRect m_area;
    Method m_method = Method::None;
    QString m_error;
};

} // namespace tl::sim
