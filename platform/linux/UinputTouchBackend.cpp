#include "platform/linux/UinputTouchBackend.h"

#include <libevdev/libevdev.h>

#include <QDebug>
#include <algorithm>
#include <cmath>

namespace tl {

namespace {

constexpr int kMaxTrackingId = 65535;

} // namespace

EvdevDescription UinputTouchBackend::describe(const TouchDeviceGeometry &geometry)
{
    EvdevDescription dev = newDriverDevice(geometry.name.constData());
    if (!dev)
        return dev;
    libevdev_set_id_product(dev.get(), geometry.product);
    libevdev_enable_property(dev.get(), INPUT_PROP_DIRECT);

    libevdev_enable_event_type(dev.get(), EV_SYN);
    libevdev_enable_event_type(dev.get(), EV_KEY);
    libevdev_enable_event_code(dev.get(), EV_KEY, BTN_TOUCH, nullptr);

    const int width = std::max(1, geometry.desktop.width());
    const int height = std::max(1, geometry.desktop.height());
    const int resolution = std::max(1, static_cast<int>(std::lround(geometry.unitsPerMm)));
    input_absinfo ax{};
    ax.minimum = 0;
    ax.maximum = width - 1;
    ax.resolution = resolution;
    input_absinfo ay{};
    ay.minimum = 0;
    ay.maximum = height - 1;
    ay.resolution = resolution;
    input_absinfo slot{};
    slot.minimum = 0;
    slot.maximum = kSlots - 1;
    input_absinfo id{};
    id.minimum = 0;
    id.maximum = kMaxTrackingId;

    libevdev_enable_event_type(dev.get(), EV_ABS);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_X, &ax);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_Y, &ay);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_MT_SLOT, &slot);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_MT_TRACKING_ID, &id);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_MT_POSITION_X, &ax);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_MT_POSITION_Y, &ay);
    return dev;
}

std::unique_ptr<UinputTouchBackend> UinputTouchBackend::create(const QString &uinputPath,
                                                               const TouchDeviceGeometry &geometry, QString *error)
{
    std::unique_ptr<UinputDevice> device = UinputDevice::create(describe(geometry), uinputPath, error);
    if (!device)
        return nullptr;
    return std::make_unique<UinputTouchBackend>(std::move(device), geometry);
}

UinputTouchBackend::UinputTouchBackend(std::unique_ptr<EvdevSink> sink, const TouchDeviceGeometry &geometry)
    : m_sink(std::move(sink)), m_geometry(geometry)
{
    std::fill(std::begin(m_trackingId), std::end(m_trackingId), -1);
}

QString UinputTouchBackend::devnode() const
{
    auto *device = dynamic_cast<UinputDevice *>(m_sink.get());
    return device ? device->devnode() : QString();
}

void UinputTouchBackend::emitEvent(unsigned type, unsigned code, int value)
{
    if (!m_sink->write(type, code, value))
        m_ok = false;
}

void UinputTouchBackend::selectSlot(int slot)
{
    if (slot != m_currentSlot) {
        emitEvent(EV_ABS, ABS_MT_SLOT, slot);
        m_currentSlot = slot;
    }
}

int UinputTouchBackend::toDeviceX(int x) const
{
    return std::clamp(x - m_geometry.desktop.left(), 0, std::max(0, m_geometry.desktop.width() - 1));
}

int UinputTouchBackend::toDeviceY(int y) const
{
    return std::clamp(y - m_geometry.desktop.top(), 0, std::max(0, m_geometry.desktop.height() - 1));
}

bool UinputTouchBackend::injectTouch(const TouchRecord *records, int count)
{
    if (!records || count < 0)
        return false;
    m_ok = true;
    for (int n = 0; n < count; ++n) {
        const TouchRecord &r = records[n];
        const int s = r.pointerId;
        if (s < 0 || s >= kSlots)
            continue;
        const bool inContact = (r.flags & TouchInContact) != 0;
        const bool down = (r.flags & TouchDown) != 0;
        const bool up = (r.flags & TouchUp) != 0;
        const int x = toDeviceX(r.x);
        const int y = toDeviceY(r.y);

        if (down && inContact) {
            // A new contact on this slot; a contact still down there ends with it.
            selectSlot(s);
            m_trackingId[s] = m_nextTrackingId;
            m_nextTrackingId = m_nextTrackingId == kMaxTrackingId ? 0 : m_nextTrackingId + 1;
            m_downOrder[s] = ++m_downCounter;
            emitEvent(EV_ABS, ABS_MT_TRACKING_ID, m_trackingId[s]);
            emitEvent(EV_ABS, ABS_MT_POSITION_X, x);
            emitEvent(EV_ABS, ABS_MT_POSITION_Y, y);
            m_x[s] = x;
            m_y[s] = y;
        } else if (m_trackingId[s] >= 0 && (up || !inContact)) {
            // Up, or an update that says the contact left the surface.
            selectSlot(s);
            emitEvent(EV_ABS, ABS_MT_TRACKING_ID, -1);
            m_trackingId[s] = -1;
        } else if (m_trackingId[s] >= 0 && inContact) {
            if (x != m_x[s] || y != m_y[s])
                selectSlot(s);
            if (x != m_x[s])
                emitEvent(EV_ABS, ABS_MT_POSITION_X, x);
            if (y != m_y[s])
                emitEvent(EV_ABS, ABS_MT_POSITION_Y, y);
            m_x[s] = x;
            m_y[s] = y;
        }
        // An update of a contact that is not down (hovering, or an up for a
        // slot already up) has nothing to say to a direct-touch device.
    }

    int oldest = -1;
    for (int s = 0; s < kSlots; ++s)
        if (m_trackingId[s] >= 0 && (oldest < 0 || m_downOrder[s] < m_downOrder[oldest]))
            oldest = s;
    const bool touching = oldest >= 0;
    if (touching != m_touching) {
        emitEvent(EV_KEY, BTN_TOUCH, touching ? 1 : 0);
        m_touching = touching;
    }
    if (touching) {
        if (m_x[oldest] != m_emulatedX) {
            emitEvent(EV_ABS, ABS_X, m_x[oldest]);
            m_emulatedX = m_x[oldest];
        }
        if (m_y[oldest] != m_emulatedY) {
            emitEvent(EV_ABS, ABS_Y, m_y[oldest]);
            m_emulatedY = m_y[oldest];
        }
    }
    emitEvent(EV_SYN, SYN_REPORT, 0);
    return m_ok;
}

} // namespace tl
