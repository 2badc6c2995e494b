#pragma once

#include "platform/DesktopSpace.h"
#include "platform/InjectionBackend.h"
#include "platform/linux/UinputTouchBackend.h"

#include <QRect>
#include <memory>
#include <vector>

namespace tl {

// The touch path over one or two touch devices, each covering its own board
// area in window-system coordinates. Positions come in Qt desktop coordinates
// and are converted (Qt scale factors) before they reach a device. A contact
// goes down on the device whose area holds it and stays there; when it moves
// into another device's area, further than kSeamMargin past the seam, it comes
// up on the first and goes down on the second (the compositor sees two
// strokes: a contact cannot change devices).
class BoardTouchBackend : public InjectionBackend
{
public:
    // How far (window-system pixels) a contact may stray past the board's seam
    // onto the other device's display before it changes devices. A pen at rest wobbles by a sensor unit
    // from report to report (the module reports whole units, and at the seam
    // two modules' reports are blended): under a pixel on a 1920-pixel
    // display, which the rounding to pixels turns into one pixel either way.
    // Without a margin a pen resting on the seam jumps devices at every such
    // pixel, an up and a down each time. 8 pixels (20 sensor units across
    // 1920 pixels, 30 across 1280) holds eight times that wobble and a hand's
    // tremor of a few millimetres, while a stroke crossing the seam changes
    // devices within a report or two, drawn on the edge of its display
    // meanwhile (at most 8 pixels off).
    static constexpr int kSeamMargin = 8;

    struct Device
    {
        std::unique_ptr<UinputTouchBackend> backend;
        QRect area;  // window-system coordinates
        // How the desktop turns the device with its output (TouchMapping.h);
        // positions are fed in the output's unturned frame.
        int transform = 0;
    };

    BoardTouchBackend(std::vector<Device> devices, const DesktopSpace &space);

    Kind kind() const override { return Kind::Touch; }
    QString name() const override;
    bool injectTouch(const TouchRecord *records, int count) override;
    bool sendMouse(int, int, quint32) override { return false; }

    int deviceCount() const { return int(m_devices.size()); }
    UinputTouchBackend *device(int i) const { return m_devices[size_t(i)].backend.get(); }
    // True while any contact is down on any device.
    bool anyContactDown() const;

private:
    int deviceAt(const QPoint &native) const;
    // Whether a point on the neighbouring display is within the margin past
    // the board's seam, and a contact kept on its device while it is.
    bool nearTheSeam(int owner, int here, const QPoint &p) const;
    void keepOn(int owner, int here, TouchRecord &r) const;

    std::vector<Device> m_devices;
    DesktopSpace m_space;
    int m_owner[10];
    // Per-device scratch records of one frame (no allocation per cycle).
    std::vector<std::array<TouchRecord, 20>> m_frame;
    std::vector<int> m_frameCount;
};

} // namespace tl
