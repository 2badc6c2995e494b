#pragma once

#include "platform/InjectionBackend.h"
#include "platform/linux/UinputDevice.h"

#include <QRect>
#include <memory>

namespace tl {

// The desktop a touch device covers: the bounding box of all monitors in
// desktop pixels, and how many pixels make a millimetre.
struct TouchDeviceGeometry
{
    QRect desktop;
    double unitsPerMm = 96.0 / 25.4;
    // The device's identity: one board display may get a device of its own,
    // told apart by the compositor through its name and product id.
    QByteArray name = "Tesselink Driver touch";
    quint16 product = 0x0F8C;
};

// The touch path's backend: a direct-touch multi-touch device (protocol B,
// ten slots) whose coordinates are desktop pixels over the bounding box. One
// injectTouch call is written as one frame (one SYN_REPORT). Contacts get
// tracking ids from one counter, so ids never repeat while they are in use.
class UinputTouchBackend : public InjectionBackend
{
public:
    static constexpr int kSlots = 10;

    // The device as uinput gets it: INPUT_PROP_DIRECT, BTN_TOUCH (no
    // BTN_LEFT), ABS_X/ABS_Y and the ABS_MT_* axes with a real resolution.
    static EvdevDescription describe(const TouchDeviceGeometry &geometry);

    // Null (with the reason) when the device cannot be created.
    static std::unique_ptr<UinputTouchBackend> create(const QString &uinputPath, const TouchDeviceGeometry &geometry,
                                                      QString *error);

    UinputTouchBackend(std::unique_ptr<EvdevSink> sink, const TouchDeviceGeometry &geometry);

    Kind kind() const override { return Kind::Touch; }
    QString name() const override { return QStringLiteral("uinput multi-touch"); }
    // /dev/input/eventN of the created device; empty for a test sink.
    QString devnode() const;
    const TouchDeviceGeometry &geometry() const { return m_geometry; }
    bool injectTouch(const TouchRecord *records, int count) override;
    bool sendMouse(int, int, quint32) override { return false; }

private:
    void emitEvent(unsigned type, unsigned code, int value);
    void selectSlot(int slot);
    int toDeviceX(int x) const;
    int toDeviceY(int y) const;

    std::unique_ptr<EvdevSink> m_sink;
    TouchDeviceGeometry m_geometry;
    int m_trackingId[kSlots];
    // Order in which the contacts went down; the oldest one drives the
    // single-touch axes, as the kernel's pointer emulation does.
    quint64 m_downOrder[kSlots] = {};
    quint64 m_downCounter = 0;
    int m_x[kSlots] = {};
    int m_y[kSlots] = {};
    int m_nextTrackingId = 0;
    int m_currentSlot = -1;
    bool m_touching = false;
    int m_emulatedX = -1;
    int m_emulatedY = -1;
    bool m_ok = true;
};

} // namespace tl
