#include "platform/linux/BoardTouchBackend.h"

#include "platform/linux/TouchMapping.h"

#include <algorithm>

namespace tl {

BoardTouchBackend::BoardTouchBackend(std::vector<Device> devices, const DesktopSpace &space)
    : m_devices(std::move(devices)), m_space(space), m_frame(m_devices.size()), m_frameCount(m_devices.size(), 0)
{
    std::fill(std::begin(m_owner), std::end(m_owner), -1);
}

QString BoardTouchBackend::name() const
{
    return m_devices.size() == 1 ? QStringLiteral("uinput multi-touch")
                                 : QStringLiteral("uinput multi-touch x%1").arg(m_devices.size());
}

bool BoardTouchBackend::anyContactDown() const
{
    return std::any_of(std::begin(m_owner), std::end(m_owner), [](int o) { return o >= 0; });
}

int BoardTouchBackend::deviceAt(const QPoint &p) const
{
    int best = 0;
    long long bestDistance = -1;
    for (size_t i = 0; i < m_devices.size(); ++i) {
        const QRect &r = m_devices[i].area;
        const long long dx = p.x() < r.left() ? r.left() - p.x() : p.x() > r.right() ? p.x() - r.right() : 0;
        const long long dy = p.y() < r.top() ? r.top() - p.y() : p.y() > r.bottom() ? p.y() - r.bottom() : 0;
        const long long d = dx * dx + dy * dy;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return best;
}

bool BoardTouchBackend::nearTheSeam(int owner, int here, const QPoint &p) const
{
    // Devices come in the board's order: the first display's, then the second's.
    const QRect &other = m_devices[size_t(here)].area;
    // (The neighbour's first column is one pixel past the seam.)
    if (owner < here)
        return p.x() - other.left() + 1 <= kSeamMargin;
    return other.right() - p.x() + 1 <= kSeamMargin;
}

void BoardTouchBackend::keepOn(int owner, int here, TouchRecord &r) const
{
    // The point lies on the neighbouring display, within the margin past the
    // seam: it is put on the kept display's seam edge, at the same height on
    // the board, which is the same share of each display's height (both
    // displays show the board's full height), not at the same desktop row:
    // the displays may sit at other heights or scales on the desktop.
    const QRect &own = m_devices[size_t(owner)].area;
    const QRect &other = m_devices[size_t(here)].area;
    int y = r.y;
    if (other.contains(QPoint(r.x, r.y)) && other.height() > 0)
        y = own.top() + int((double(r.y - other.top()) + 0.5) * own.height() / other.height());
    r.x = owner < here ? own.right() : own.left();
    r.y = std::clamp(y, own.top(), own.bottom());
}

bool BoardTouchBackend::injectTouch(const TouchRecord *records, int count)
{
    if (!records || count < 0 || m_devices.empty())
        return false;
    std::fill(m_frameCount.begin(), m_frameCount.end(), 0);
    auto add = [this](int d, const TouchRecord &r) {
        int &n = m_frameCount[size_t(d)];
        if (n < int(m_frame[size_t(d)].size()))
            m_frame[size_t(d)][size_t(n++)] = r;
    };
    for (int k = 0; k < count; ++k) {
        TouchRecord r = records[k];
        if (r.pointerId < 0 || r.pointerId >= 10)
            continue;
        const QPoint native = m_space.isEmpty() ? QPoint(r.x, r.y) : m_space.toNative(QPoint(r.x, r.y));
        r.x = native.x();
        r.y = native.y();
        int &owner = m_owner[r.pointerId];
        const bool inContact = (r.flags & TouchInContact) != 0;
        const bool down = (r.flags & TouchDown) != 0 && inContact;
        if (down) {
            if (owner >= 0 && owner != deviceAt(native)) {
                // A new contact on the slot ends the old one on its device.
                TouchRecord up = r;
                up.flags = kTouchFlagsUp;
                add(owner, up);
            }
            owner = deviceAt(native);
            add(owner, r);
        } else if (owner >= 0) {
            const int here = deviceAt(native);
            // Only a contact that went further than the margin past the seam
            // changes devices: one at rest on the seam stays where it went
            // down (its device puts it on the display's edge). The seam is
            // where the board's two displays meet on the board: the right
            // edge of the first and the left edge of the second, wherever the
            // desktop puts the two (side by side, one above the other).
            const bool crossed = here != owner && !nearTheSeam(owner, here, native);
            if (inContact && (r.flags & TouchUp) == 0 && crossed) {
                TouchRecord up = r;
                up.flags = kTouchFlagsUp;
                add(owner, up);
                TouchRecord again = r;
                again.flags = kTouchFlagsDown;
                owner = here;
                add(owner, again);
            } else {
                if (here != owner)
                    keepOn(owner, here, r);
                add(owner, r);
                if (!inContact || (r.flags & TouchUp))
                    owner = -1;
            }
        }
    }
    bool ok = true;
    for (size_t d = 0; d < m_devices.size(); ++d)
        if (m_devices[d].transform != 0)
            for (int k = 0; k < m_frameCount[d]; ++k) {
                TouchRecord &r = m_frame[d][size_t(k)];
                const QPoint p = toDeviceFrame(QPoint(r.x, r.y), m_devices[d].area, m_devices[d].transform);
                r.x = p.x();
                r.y = p.y();
            }
    for (size_t d = 0; d < m_devices.size(); ++d)
        if (m_frameCount[d] > 0)
            ok = m_devices[d].backend->injectTouch(m_frame[d].data(), m_frameCount[d]) && ok;
    return ok;
}

} // namespace tl
