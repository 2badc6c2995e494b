#include "input/MousePath.h"

namespace tl::input {

namespace {

// The pointer (contact 0) and then the contact's message.
void pointerAndMessage(int i, const QPoint &pos, int code, MouseOutput &out)
{
    if (i == 0)
        out.pointer(pos.x(), pos.y(), code);
    out.message(i, MousePath::pack(pos.x(), pos.y()), code);
}


// A second tap counts as a double tap closer than this to the first press
// (sensor units), within this many lifts of the first; not after a first tap
// that changed position more often than kMovedAfter (a drag).
constexpr int kDoubleTapDistance = 20;
constexpr int kDoubleTapReports = 25;
constexpr int kMovedAfter = 3;

} // namespace

void MousePath::report(int i, quint32 raw, const QPoint &pos, bool targetShown, MouseOutput &out)
{
    if (i < 0 || i >= kContactSlots)
        return;
    Contact &c = m_contacts[i];
    c.raw = raw;
    c.current = pos;

    ++c.reportCount;
    // A right click ends the count: holding on does not press again.
    if (c.reportCount == 1 && c.state != State::RightClicked)
        firstReport(i, c, pos, targetShown, out);

    if (c.state == State::Pressed && c.pressCount == 1) {
        if (pos != c.moveCheck) {
            ++c.moveCount;
            c.moveCheck = pos;
        }
        if (c.moveCount > kMovedAfter)
            c.moved = true;
    }

    holdStep(i, c, pos, out);

    if (i == 0)
        out.pointer(pos.x(), pos.y(), MouseMoveCode);
    out.message(i, c.raw, MouseMoveCode);
}

void MousePath::firstReport(int i, Contact &c, const QPoint &pos, bool targetShown, MouseOutput &out)
{
    ++c.pressCount;
    if (c.pressCount == 2 && sensorDistance(c.press.x(), c.press.y(), pos.x(), pos.y()) < kDoubleTapDistance &&
        !c.moved && !targetShown) {
        // Second tap near the first: one click at the first press point.
        if (i == 0)
            out.pointer(pos.x(), pos.y(), MouseDoubleTap);
        else
            out.message(i, pack(pos.x(), pos.y()), MouseDoubleTap);
        c.state = State::DoubleTapped;
        c.pressCount = 0;
        c.doubleTapWait = 0;
        c.buttonDown = true;
        c.doubleTapPending = false;
        return;
    }
    pointerAndMessage(i, pos, MousePress, out);
    c.state = State::Pressed;
    c.buttonDown = true;
    c.doubleTapPending = true;
    if (c.pressCount == 1) {
        c.press = pos;
        c.moveCheck = pos;
        // A new tap sequence: a drag of an earlier sequence must not keep
        // double taps from working for good.
        c.moved = false;
        c.moveCount = 0;
    }
    c.pressRef = pos;
}

namespace {

// A hold stays closer than this to where it pressed (sensor units), from its
// first to its last report; the window under the cursor is asked at this
// many still reports, and the right click comes one later.
constexpr int kHoldDistance = 10;
constexpr int kHoldFirstReport = 3;
constexpr int kHoldLastReport = 64;
constexpr int kHoldCheck = 60;

} // namespace

void MousePath::holdStep(int i, Contact &c, const QPoint &pos, MouseOutput &out)
{
    // Press and hold: a still contact from its third to its 64th report turns
    // into a right click, unless the window under the cursor opted out.
    const bool still = sensorDistance(c.pressRef.x(), c.pressRef.y(), pos.x(), pos.y()) < kHoldDistance;
    if (!still || c.reportCount < kHoldFirstReport || c.reportCount > kHoldLastReport) {
        c.hold = 0;
        return;
    }
    if (c.hold == kHoldCheck)
        m_windowCheck.check();
    if (c.hold > kHoldCheck && c.state != State::RightClicked && !m_windowCheck.pressAndHoldDisabled()) {
        pointerAndMessage(i, pos, MouseRelease, out);
        pointerAndMessage(i, pos, MouseRightClick, out);
        c.hold = 0;
        c.reportCount = 0;
        c.pressCount = 0;
        c.doubleTapWait = 0;
        c.doubleTapPending = false;
        c.state = State::RightClicked;
    }
    ++c.hold;
}

void MousePath::lift(int i, bool smoothing, MouseOutput &out)
{
    if (i < 0 || i >= kContactSlots)
        return;
    Contact &c = m_contacts[i];
    c.moveCount = 0;
    c.reportCount = 0;
    c.hold = 0;
    if (c.buttonDown) {
        if (!smoothing) {
            pointerAndMessage(i, c.current, MouseRelease, out);
        } else {
            const QPoint raw = unpack(c.raw);
            if (i == 0) {
                out.pointer(raw.x(), raw.y(), MouseMoveCode);
                out.pointer(raw.x(), raw.y(), MouseRelease);
            }
            out.message(i, c.raw, MouseMoveCode);
            out.message(i, c.raw, MouseRelease);
        }
        c.buttonDown = false;
    }
    if (c.doubleTapPending) {
        ++c.doubleTapWait;
        if (c.doubleTapWait > kDoubleTapReports) {
            c.pressCount = 0;
            c.doubleTapPending = false;
            c.doubleTapWait = 0;
        }
    }
    if (c.state == State::RightClicked)
        c.pressRef = QPoint(0, 0);
    c.state = State::Released;
}

} // namespace tl::input
