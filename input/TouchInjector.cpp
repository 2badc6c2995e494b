#include "input/TouchInjector.h"

#include "input/NqUtils.h"
#include "input/TrackingPath.h"

#include <algorithm>

namespace tl::input {

namespace {

bool inMask(unsigned mask, int i)
{
    return (mask >> i) & 1u;
}

} // namespace

TouchInjector::TouchInjector(InjectionBackend *backend, CompanionLink *link)
    : m_backend(backend), m_link(link), m_mouse(link)
{
    QRect primary;
    NqUtils::getMonitorRect(primary, -1);
    setScreenSize(primary.width(), primary.height());
    for (int i = 0; i < kContactSlots; ++i) {
        m_records[i].pointerId = i;
        m_records[i].flags = kTouchFlagsHover;
        m_touchState[i] = TouchUp;
    }
    NqUtils::getWindowRect(m_map.rect);
    m_space = DesktopSpace::current();
    updatePointerSpace();
}

void TouchInjector::setDesktopSpace(const DesktopSpace &space)
{
    m_space = space;
    updatePointerSpace();
}

void TouchInjector::setBackend(InjectionBackend *backend)
{
    m_backend = backend;
    updatePointerSpace();
}

void TouchInjector::updatePointerSpace()
{
    const DesktopSpace &space = m_space.isEmpty() ? m_screenSpace : m_space;
    m_pointerSpace = space.withBox(m_backend ? m_backend->absoluteArea() : QRect());
}

void TouchInjector::configure(int smoothingMode, double t, int historyMode)
{
    // Raw positions do not feed the smoothers: one switched on again during a
    // stroke would still hold where the stroke was when it was switched off,
    // and pull the contact back there. Smoothing starts afresh.
    if ((smoothingMode != Raw) != smoothing())
        for (BezierSmoother &s : m_smoother)
            s.clear();
    m_nSmoothingMode = smoothingMode;
    m_dT = t;
    m_nHistoryMode = historyMode;
}

void TouchInjector::setScreenSize(int width, int height)
{
    m_nScreenWidth = width;
    m_nScreenHeight = height;
    // Without any monitor list the screen is the whole desktop, from (0, 0).
    m_screenSpace = DesktopSpace::fromMonitors({MonitorInfo(QRect(0, 0, width, height))});
    updatePointerSpace();
}

bool TouchInjector::touchPath() const
{
    return m_backend && m_backend->kind() == InjectionBackend::Kind::Touch;
}

void TouchInjector::injectCycle(const ContactSlotTable &table, WindowHandle controllerTarget, int factor)
{
    Q_UNUSED(factor);
    // The cycle's own copy: a contact left out below is left out of this
    // cycle only, the tracking path's slots stay as it found them.
    TrackedContact cs[kContactSlots];
    std::copy(table.slot, table.slot + kContactSlots, cs);

    // The companion window decides between smoothing and raw positions; a
    // companion that is not on screen gets the default smoothing.
    const bool visible = controllerTarget && m_link && m_link->isVisible(controllerTarget);
    if (visible)
        m_target = controllerTarget;
    m_bTargetShown = visible && !m_link->isMinimised(controllerTarget);
    if (!m_bTargetShown)
        configure(Smoothed, 0.8, 1);

    // A contact on a module whose display is missing (its rectangle is empty)
    // lands nowhere: it is not injected at all, on either path, and one that
    // was down comes up.
    hideContactsWithoutDisplay(cs);

    int at[kContactSlots] = {};
    bindSlots(cs, at);
    if (touchPath())
        touchCycle(cs, at);
    else
        mouseCycle(cs, at);
}

void TouchInjector::forgetSlots()
{
    for (SlotBinding &b : m_bindings)
        b = SlotBinding();
}

void TouchInjector::bindSlots(const TrackedContact *cs, int at[kContactSlots])
{
    // A contact keeps its index for its whole life; a new contact takes the
    // lowest free one; an empty slot borrows the highest free one for this
    // cycle only, so that every index maps to one slot.
    bool taken[kContactSlots] = {};
    for (SlotBinding &b : m_bindings) {
        if (b.index >= 0 && b.index < kContactSlots && !taken[b.index])
            taken[b.index] = true;
        else
            b.index = -1;
    }
    for (int s = 0; s < kContactSlots; ++s) {
        int &index = m_bindings[s].index;
        if (index >= 0)
            continue;
        if (cs[s].present()) {
            for (int i = 0; i < kContactSlots; ++i)
                if (!taken[i]) { index = i; taken[i] = true; break; }
        } else {
            for (int i = kContactSlots - 1; i >= 0; --i)
                if (!taken[i]) { index = i; taken[i] = true; break; }
        }
    }
    for (int s = 0; s < kContactSlots; ++s)
        at[m_bindings[s].index] = s;
    for (int s = 0; s < kContactSlots; ++s) {
        if (!cs[s].present()) {
            m_bindings[s].index = -1;
            m_bindings[s].reports = 0;
        }
    }
}

void TouchInjector::touchCycle(const TrackedContact *cs, const int at[kContactSlots])
{
    unsigned present = 0;
    unsigned lift = 0;
    QPoint positions[kContactSlots];
    for (int i = 0; i < kContactSlots; ++i) {
        const TrackedContact &c = cs[at[i]];
        positions[i] = QPoint(c.x, c.y);
        if (c.presence == Presence::Present) {
            present |= 1u << i;
        } else if (c.presence == Presence::Replaced) {
            present |= 1u << i;
            lift |= 1u << i;
        } else {
            m_bindings[at[i]].reports = 0;
        }
    }
    if (!present && !lift) {
        if (anyTouchDown()) {
            touchReleaseAll();
            if (smoothing())
                touchReleaseAll();
        }
        return;
    }
    if (lift) {
        touchLift(lift);
        if (smoothing())
            touchLift(lift);
    }
    // A new contact that got the index of one still lifting (smoothing lifts
    // over two cycles) must not continue that contact's stroke: finish the
    // lift first, the new contact goes down in the update.
    unsigned stale = 0;
    for (int i = 0; i < kContactSlots; ++i)
        if (inMask(present & ~lift, i) && m_touchState[i] == TouchLifting)
            stale |= 1u << i;
    if (stale)
        touchLift(stale);
    if (present)
        touchUpdate(positions, present);
}

void TouchInjector::mouseCycle(const TrackedContact *cs, const int at[kContactSlots])
{
    // The first two reports of a contact are held back, the third presses at
    // the held-back position and moves on.
    bool pressedNow[kContactSlots] = {};
    bool presentNow[kContactSlots] = {};
    for (int i = 0; i < kContactSlots; ++i) {
        const TrackedContact &c = cs[at[i]];
        SlotBinding &b = m_bindings[at[i]];
        if (c.presence == Presence::None) {
            b.reports = 0;
        } else if (c.presence == Presence::Replaced) {
            b.heldBack = QPoint(c.x, c.y);
            b.reports = 1;
        } else if (b.reports < 2) {
            b.heldBack = QPoint(c.x, c.y);
            ++b.reports;
        } else if (b.reports == 2) {
            b.reports = 3;
            pressedNow[i] = true;
            presentNow[i] = true;
        } else {
            presentNow[i] = true;
        }
    }
    for (int i = 0; i < kContactSlots; ++i) {
        const TrackedContact &c = cs[at[i]];
        if (pressedNow[i])
            mouseContactUpdate(i, m_bindings[at[i]].heldBack.x(), m_bindings[at[i]].heldBack.y());
        if (presentNow[i])
            mouseContactUpdate(i, c.x, c.y);
        else
            mouseContactUp(i);
    }
}

void TouchInjector::hideContactsWithoutDisplay(TrackedContact *cs)
{
    QPoint hidden[kContactSlots];
    int nHidden = 0;
    for (int s = 0; s < kContactSlots; ++s) {
        if (!cs[s].present()) {
            m_slotShown[s] = false;
            continue;
        }
        const int x = cs[s].x;
        // How far the contact is inside the half whose display is missing
        // (negative: on the shown half, that far from the edge).
        int past = 0;
        if (m_map.rect[0].isEmpty() == m_map.rect[1].isEmpty())
            past = m_map.shows(x) ? -kSensorWidth : kSensorWidth;  // both shown, or neither
        else if (m_map.rect[1].isEmpty())
            past = x - (kSensorWidth - 1);
        else
            past = kSensorWidth - x;
        bool shown = past <= 0;
        // The same contact as last cycle (shown then) keeps its display within
        // the margin; it lands on the display's edge (DisplayMap::toScreen).
        if (!shown && m_slotShown[s] && cs[s].presence == Presence::Present && past <= kShowMargin)
            shown = true;
        // A contact left out last cycle is a new contact to the tracking path
        // now: near where it was left out and within the margin, it stays out.
        if (shown && past > -kShowMargin && !m_slotShown[s]) {
            for (int h = 0; h < m_nHidden; ++h)
                if (sensorDistance(x, cs[s].y, m_hiddenAt[h].x(), m_hiddenAt[h].y()) <=
                    TrackingPath::kSameContactDistance)
                    shown = false;
        }
        m_slotShown[s] = shown;
        if (!shown) {
            hidden[nHidden++] = QPoint(x, cs[s].y);
            cs[s].presence = Presence::None;
        }
    }
    std::copy(hidden, hidden + nHidden, m_hiddenAt);
    m_nHidden = nHidden;
}

void TouchInjector::releaseAll()
{
    if (touchPath()) {
        // Smoothing lifts in two steps (in contact -> lifting -> up); the
        // third round is only a guard and never injects.
        for (int round = 0; round < 3; ++round) {
            if (!anyTouchDown())
                break;
            touchReleaseAll();
        }
        return;
    }
    for (int i = 0; i < kContactSlots; ++i)
        mouseContactUp(i);
}

bool TouchInjector::anyTouchDown() const
{
    for (int i = 0; i < kContactSlots; ++i)
        if (m_touchState[i] != TouchUp)
            return true;
    return false;
}

void TouchInjector::injectRecords(unsigned mask)
{
    if (!m_backend)
        return;
    if (mask == 1u && !m_bTenContacts) {
        m_backend->injectTouch(m_records, 1);
    } else {
        m_backend->injectTouch(m_records, kContactSlots);
        m_bTenContacts = true;
    }
}

void TouchInjector::touchUpdate(const QPoint positions[kContactSlots], unsigned mask)
{
    for (int i = 0; i < kContactSlots; ++i) {
        TouchRecord &r = m_records[i];
        int &state = m_touchState[i];
        if (inMask(mask, i)) {
            m_lastRaw[i] = positions[i];
            QPoint p = positions[i];
            if (smoothing()) {
                m_smoother[i].addSample(p.x(), p.y(), m_nHistoryMode);
                const BezierSmoother::Pos e = m_smoother[i].evaluate(m_dT);
                p = QPoint(e.x, e.y);
            }
            m_lastPos[i] = p;
            const QPoint s = m_map.toScreen(p.x(), p.y());
            r.x = s.x();
            r.y = s.y();
            if (state == TouchUp) {
                r.flags = kTouchFlagsDown;
                state = TouchInContact;
            } else {
                r.flags = kTouchFlagsMove;
            }
        } else {
            liftStep(i);
        }
    }
    injectRecords(mask);
}

void TouchInjector::liftStep(int i)
{
    TouchRecord &r = m_records[i];
    int &state = m_touchState[i];
    // Without smoothing a contact goes up at once where it was last injected;
    // with smoothing it lifts over two cycles at its last raw position.
    const QPoint &last = smoothing() ? m_lastRaw[i] : m_lastPos[i];
    const QPoint s = m_map.toScreen(last.x(), last.y());
    r.x = s.x();
    r.y = s.y();
    if (state == TouchInContact && smoothing()) {
        r.flags = kTouchFlagsMove;
        state = TouchLifting;
    } else if (state != TouchUp) {
        r.flags = kTouchFlagsUp;
        state = TouchUp;
        m_smoother[i].clear();
    } else {
        r.flags = kTouchFlagsHover;
    }
}

void TouchInjector::touchLift(unsigned mask)
{
    for (int i = 0; i < kContactSlots; ++i) {
        if (inMask(mask, i)) {
            liftStep(i);
            continue;
        }
        TouchRecord &r = m_records[i];
        const QPoint s = m_map.toScreen(m_lastPos[i].x(), m_lastPos[i].y());
        r.x = s.x();
        r.y = s.y();
        r.flags = m_touchState[i] == TouchUp ? kTouchFlagsHover : kTouchFlagsMove;
    }
    injectRecords(mask);
}

void TouchInjector::touchReleaseAll()
{
    unsigned changed = 0;
    for (int i = 0; i < kContactSlots; ++i) {
        TouchRecord &r = m_records[i];
        int &state = m_touchState[i];
        if (!smoothing()) {
            const QPoint s = m_map.toScreen(m_lastPos[i].x(), m_lastPos[i].y());
            r.x = s.x();
            r.y = s.y();
            r.flags = kTouchFlagsUp;
            if (state != TouchUp) {
                state = TouchUp;
                changed |= 1u << i;
            }
        } else {
            const QPoint s = m_map.toScreen(m_lastRaw[i].x(), m_lastRaw[i].y());
            r.x = s.x();
            r.y = s.y();
            if (state == TouchInContact) {
                r.flags = kTouchFlagsMove;
                state = TouchLifting;
                changed |= 1u << i;
            } else {
                r.flags = kTouchFlagsUp;
                if (state == TouchLifting) {
                    state = TouchUp;
                    changed |= 1u << i;
                }
            }
        }
    }
    if (m_backend) {
        if (changed == 1u && !m_bTenContacts) {
            m_backend->injectTouch(m_records, 1);
        } else {
            m_backend->injectTouch(m_records, kContactSlots);
            m_bTenContacts = false;
        }
    }
    for (int i = 0; i < kContactSlots; ++i) {
        m_lastPos[i] = QPoint();
        m_lastRaw[i] = QPoint();
        m_smoother[i].clear();
    }
}

void TouchInjector::mouseContactUpdate(int i, int x, int y)
{
    if (i < 0 || i >= kContactSlots)
        return;
    const quint32 raw = MousePath::pack(x, y);
    if (smoothing()) {
        m_smoother[i].addSample(x, y, m_nHistoryMode);
        const BezierSmoother::Pos e = m_smoother[i].evaluate(m_dT);
        x = e.x;
        y = e.y;
    }
    m_mouse.report(i, raw, QPoint(x, y), m_bTargetShown, *this);
}

void TouchInjector::mouseContactUp(int i)
{
    if (i < 0 || i >= kContactSlots)
        return;
    m_smoother[i].clear();
    m_mouse.lift(i, smoothing(), *this);
}

void TouchInjector::sendMouse(int x, int y, int code)
{
    quint32 flags = 0;
    switch (code) {
    case MouseMoveCode: flags = MouseAbsolute | MouseMove; break;
    case MouseRightClick: flags = MouseAbsolute | MouseRightDown | MouseRightUp | MouseMove; break;
    case MousePress: flags = MouseAbsolute | MouseLeftDown | MouseMove; break;
    case MouseRelease: flags = MouseAbsolute | MouseLeftUp; break;
    case MouseDoubleTap: flags = MouseAbsolute | MouseLeftDown | MouseLeftUp | MouseMove; break;
    default: return;
    }
    // A screen size of zero (no monitor known yet) has no absolute units.
    if (m_nScreenWidth <= 0 || m_nScreenHeight <= 0 || !m_backend)
        return;
    const DesktopSpace &space = m_pointerSpace;
    // Absolute units of our pointer devices cover the whole desktop, not the
    // primary monitor: the desktop pixel is converted to the window system's
    // coordinates and then to units over the box the backend's units span
    // (the bounding box of all monitors, or the X screen for XTest), so that
    // the pointer lands on that pixel on any monitor, at any origin.
    // The double tap clicks where the last press was on the board, mapped
    // now: the desktop may have changed since (a press point kept in absolute
    // units would land wherever those units now are).
    if (code == MousePress)
        m_lastPressPoint = QPoint(x, y);
    const QPoint board = code == MouseDoubleTap ? m_lastPressPoint : QPoint(x, y);
    const QPoint s = m_map.toScreen(board.x(), board.y());
    const QPoint abs = space.toAbsolute(space.toNative(s));
    m_backend->sendMouse(abs.x(), abs.y(), flags);
}

void TouchInjector::postContactMessage(quint32 message, quint32 packedPosition, int code)
{
    // Nobody to tell before a companion window was ever shown.
    if (!m_link || !m_target)
        return;
    const QPoint sensor = MousePath::unpack(packedPosition);
    const QPoint s = m_map.toScreen(sensor.x(), sensor.y());
    const quint32 first = (quint32(s.x()) << 16) | (quint32(s.y()) & 0xFFFFu);
    m_link->postMessage(m_target, message, first, code);
}

} // namespace tl::input
