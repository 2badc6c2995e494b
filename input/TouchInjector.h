#pragma once

#include "input/BezierSmoother.h"
#include "input/ContactSlots.h"
#include "input/MousePath.h"
#include "platform/CompanionLink.h"
#include "platform/DesktopSpace.h"
#include "platform/InjectionBackend.h"

#include <QPoint>

namespace tl::input {

// Turns the ten contact slots into desktop input once per tracking cycle: real
// touch contacts when the backend is a touch device, otherwise the mouse driven
// by the first contact plus one contact message per contact for a companion
// window (MousePath). The logic is platform-free; the backend and the companion
// link do the talking to the system. The tracking path's slots are read, never
// written: what the injector keeps per slot is its own (SlotBinding).
//
// Not thread-safe by itself: every call happens under the tracking mutex.
// Nothing here allocates.
class TouchInjector : private MouseOutput
{
public:
    // Touch states per injection index.
    enum TouchState { TouchInContact = 100, TouchLifting = 102, TouchUp = 103 };
    enum SmoothingMode { Smoothed = 1, Raw = 2 };

    // Contact message of index 0, and the base of indices 1 to 9.
    static constexpr quint32 kContactMessage0 = 0x47E;
    static constexpr quint32 kContactMessageBase = 0x472;

    // What the injector keeps for one contact slot from cycle to cycle.
    struct SlotBinding
    {
        int index = -1;   // injection index of the slot's contact, -1 when it has none
        QPoint heldBack;  // mouse path: the last report held back (sensor units)
        int reports = 0;  // mouse path: reports of the contact so far, 3 from its press on
    };

    TouchInjector(InjectionBackend *backend, CompanionLink *link);

    // (1, 0.8, 1) smooths, (2, 0.8, 1) passes raw positions.
    void configure(int smoothingMode, double t, int historyMode);
    int smoothingMode() const { return m_nSmoothingMode; }
    double smoothingT() const { return m_dT; }

    // The screen size the controller chose; zero disables the mouse path (no
    // monitor known yet).
    void setScreenSize(int width, int height);
    // Where absolute mouse units land: the whole desktop in the window system's
    // coordinates (taken from the monitors at construction).
    void setDesktopSpace(const DesktopSpace &space);
    const DesktopSpace &desktopSpace() const { return m_space; }
    void setDisplayMap(const DisplayMap &map)
    {
        m_map = map;
        m_nHidden = 0;
    }
    const DisplayMap &displayMap() const { return m_map; }

    void setTargetWindow(WindowHandle window) { m_target = window; }
    void setTargetWindowShown(bool shown) { m_bTargetShown = shown; }
    WindowHandle targetWindow() const { return m_target; }
    bool targetWindowShown() const { return m_bTargetShown; }

    // The touch path runs when the backend injects touch contacts.
    bool touchPath() const;
    // A new backend (after releaseAll() on the old one).
    void setBackend(InjectionBackend *backend);

    // One cycle after the tracking path has filled the slots. `controllerTarget`
    // is the window the controller was given (0 = none). `factor` is the
    // module-count argument of the cycle, always 2, and has no effect.
    void injectCycle(const ContactSlotTable &slots, WindowHandle controllerTarget, int factor = 2);
    // Every slot loses its injection index and its held-back report (with the
    // tracking reset, which empties the slots).
    void forgetSlots();

    // Brings every contact up: on the touch path until no index is in contact
    // or lifting (smoothing lifts in two steps), on the mouse path a release of
    // each of the ten contacts.
    void releaseAll();

    // Touch path.
    void touchUpdate(const QPoint positions[kContactSlots], unsigned mask);
    void touchLift(unsigned mask);
    void touchReleaseAll();

    // Mouse path (sensor units).
    void mouseContactUpdate(int i, int x, int y);
    void mouseContactUp(int i);
    void sendMouse(int x, int y, int code);
    void postContactMessage(quint32 message, quint32 packedPosition, int code);

    static quint32 contactMessage(int i) { return i == 0 ? kContactMessage0 : kContactMessageBase + quint32(i); }

    // State for tests and diagnostics.
    int touchState(int i) const { return m_touchState[i]; }
    bool tenContactFlag() const { return m_bTenContacts; }
    int mouseState(int i) const { return static_cast<int>(m_mouse.state(i)); }
    bool mouseButtonDown(int i) const { return m_mouse.buttonDown(i); }
    const SlotBinding &slotBinding(int s) const { return m_bindings[s]; }

private:

    bool smoothing() const { return m_nSmoothingMode != Raw; }
    bool anyTouchDown() const;
    // One lift step of touch index i: fills its record and advances its state.
    void liftStep(int i);
    void injectRecords(unsigned mask);
    // Gives every slot its injection index for this cycle; at[i] is the slot
    // at index i.
    void bindSlots(const TrackedContact *cs, int at[kContactSlots]);
    void touchCycle(const TrackedContact *cs, const int at[kContactSlots]);
    void mouseCycle(const TrackedContact *cs, const int at[kContactSlots]);
    // MouseOutput: the mouse path's events.
    void pointer(int x, int y, int code) override { sendMouse(x, y, code); }
    void message(int i, quint32 packedPosition, int code) override
    {
        postContactMessage(contactMessage(i), packedPosition, code);
    }

    InjectionBackend *m_backend;
    CompanionLink *m_link;

    double m_dT = 0.8;
    int m_nSmoothingMode = Smoothed;
    int m_nHistoryMode = 1;
    int m_nScreenWidth = 0;
    int m_nScreenHeight = 0;
    bool m_bTargetShown = false;
    WindowHandle m_target = 0;

    SlotBinding m_bindings[kContactSlots];
    MousePath m_mouse;
    QPoint m_lastPressPoint;  // sensor position of the last code 50
    BezierSmoother m_smoother[kContactSlots];

    TouchRecord m_records[kContactSlots];
    int m_touchState[kContactSlots];
    QPoint m_lastPos[kContactSlots];  // last filtered position (sensor units)
    QPoint m_lastRaw[kContactSlots];  // last raw position (sensor units)
    bool m_bTenContacts = false;

    // Where absolute units land: m_space (or m_screenSpace while no monitor
    // is known) over the box the backend's units span.
    void updatePointerSpace();

    // A contact on the edge of a module whose display is missing (two
    // modules, one monitor) wobbles across it from report to report. It keeps
    // the side it was on until it is more than kShowMargin sensor units past
    // the edge: a shown contact stays on the shown display's edge, a hidden
    // one stays hidden. 20 units is 8 pixels of a 1920-pixel display: several
    // times a module's jitter, a few millimetres of the board.
    static constexpr int kShowMargin = 20;
    void hideContactsWithoutDisplay(TrackedContact *cs);
    bool m_slotShown[kContactSlots] = {};  // the slot's contact was injected last cycle
    QPoint m_hiddenAt[kContactSlots];      // contacts left out last cycle (sensor units)
    int m_nHidden = 0;

    DisplayMap m_map;
    DesktopSpace m_space;
    DesktopSpace m_screenSpace;
    DesktopSpace m_pointerSpace;
};

} // namespace tl::input
