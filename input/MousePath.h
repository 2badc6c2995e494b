#pragma once

#include "input/ContactSlots.h"
#include "input/MousePointWindowCheck.h"

#include <QPoint>
#include <QtGlobal>

namespace tl::input {

// What the mouse does, also the second parameter of a contact message.
enum MouseCode { MouseMoveCode = 10, MouseRightClick = 30, MousePress = 50, MouseRelease = 60, MouseDoubleTap = 70 };

// Where the mouse path's events go, positions in sensor units: the pointer,
// which only contact 0 drives, and the contact messages of every contact.
class MouseOutput
{
public:
    virtual void pointer(int x, int y, int code) = 0;
    virtual void message(int i, quint32 packedPosition, int code) = 0;

protected:
    ~MouseOutput() = default;
};

// The mouse path of the ten contacts: one small machine per contact, driven by
// the injector with a report for every cycle the contact is there (after the
// reports it holds back) and a lift for every cycle it is not.
//
//   Released --first report--------------------------------> Pressed      (left down)
//   Released --first report, second tap near the first-----> DoubleTapped (click at the first press)
//   Pressed, DoubleTapped --still from report 3 to 64------> RightClicked (left up, right click)
//   any --lift---------------------------------------------> Released     (left up if down)
//
// Besides its state a contact counts its reports since it went down (the hold
// window), the taps of a sequence (a second tap counts as a double tap within
// 25 lifts of the first, near its press and without a drag in between) and
// the still reports of a hold.
class MousePath
{
public:
    // The values are the codes that enter each state.
    enum class State {
        RightClicked = MouseRightClick,
        Pressed = MousePress,
        Released = MouseRelease,
        DoubleTapped = MouseDoubleTap,
    };

    // `link` answers the window check of a hold.
    explicit MousePath(CompanionLink *link) : m_windowCheck(link) {}

    // One report of contact i (0..9): `raw` is its input packed, `pos` its
    // position after smoothing. A companion window on screen (`targetShown`)
    // takes no double tap.
    void report(int i, quint32 raw, const QPoint &pos, bool targetShown, MouseOutput &out);
    // Contact i is not there this cycle. A button that is down goes up: with
    // smoothing at the raw input after a move there, else where it is.
    void lift(int i, bool smoothing, MouseOutput &out);

    State state(int i) const { return m_contacts[i].state; }
    bool buttonDown(int i) const { return m_contacts[i].buttonDown; }

    // Sensor positions travel packed as (x << 16) | (y & 0xFFFF), both halves
    // signed 16-bit values.
    static quint32 pack(int x, int y) { return (quint32(x) << 16) | (quint32(y) & 0xFFFFu); }
    static QPoint unpack(quint32 packed)
    {
        return QPoint(static_cast<qint16>(packed >> 16), static_cast<qint16>(packed & 0xFFFFu));
    }

private:
    struct Contact
    {
        State state = State::Released;
        bool buttonDown = false;
        quint32 raw = 0;      // last raw input, packed
        QPoint current;       // current (smoothed) position
        int reportCount = 0;  // reports since the contact went down
        // The tap sequence.
        QPoint press;         // where its first tap pressed
        int pressCount = 0;
        bool doubleTapPending = false;
        int doubleTapWait = 0;  // lifts since, while a double tap is pending
        QPoint moveCheck;     // last position seen by the movement check
        int moveCount = 0;
        bool moved = false;   // the first tap dragged
        // Press and hold.
        QPoint pressRef;
        int hold = 0;
    };

    void firstReport(int i, Contact &c, const QPoint &pos, bool targetShown, MouseOutput &out);
    void holdStep(int i, Contact &c, const QPoint &pos, MouseOutput &out);

    Contact m_contacts[kContactSlots];
    MousePointWindowCheck m_windowCheck;
};

} // namespace tl::input
