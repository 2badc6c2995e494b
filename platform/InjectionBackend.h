#pragma once

#include <QRect>
#include <QString>
#include <QtGlobal>

namespace tl {

// Pointer flags of one touch record. The injector speaks the touch-pointer
// vocabulary it was designed around (down / update / up, in range, in contact);
// each backend turns a record into its own events.
enum TouchFlag : quint32 {
    TouchInRange = 0x00000002,
    TouchInContact = 0x00000004,
    TouchDown = 0x00010000,
    TouchUpdate = 0x00020000,
    TouchUp = 0x00040000,
};

// The flag words the injector actually sends.
constexpr quint32 kTouchFlagsDown = TouchDown | TouchInRange | TouchInContact;       // 0x10006
constexpr quint32 kTouchFlagsMove = TouchUpdate | TouchInRange | TouchInContact;     // 0x20006
constexpr quint32 kTouchFlagsUp = TouchUp | TouchInRange;                            // 0x40002
constexpr quint32 kTouchFlagsHover = TouchUpdate | TouchInRange;                     // 0x20002

// One contact of a touch injection: pointer id 0..9 (the injection index) and
// its position in desktop pixels.
struct TouchRecord
{
    int pointerId = 0;
    int x = 0;
    int y = 0;
    quint32 flags = kTouchFlagsHover;
};

// Mouse flags of one absolute mouse input. Positions are normalised to 0..65535.
enum MouseFlag : quint32 {
    MouseMove = 0x0001,
    MouseLeftDown = 0x0002,
    MouseLeftUp = 0x0004,
    MouseRightDown = 0x0008,
    MouseRightUp = 0x0010,
    MouseAbsolute = 0x8000,
};

// Where injected input goes. A backend is either a touch device (the touch path
// runs), a pointer (the mouse path runs) or nothing at all (the mouse path runs
// and only the companion window gets contact messages).
//
// Calls come from the receive thread that completed a tracking cycle, always
// under the tracking mutex, so a backend never sees two calls at once. The
// per-cycle calls must not allocate.
class InjectionBackend
{
public:
    enum class Kind { None, Touch, Mouse };

    virtual ~InjectionBackend() = default;

    virtual Kind kind() const = 0;
    // Short human-readable name for the log ("uinput multi-touch", ...).
    virtual QString name() const = 0;

    // One touch injection: `count` records (1 or 10), delivered as one frame.
    // False when the backend cannot take touch input.
    virtual bool injectTouch(const TouchRecord *records, int count) = 0;

    // One absolute mouse input: position in 0..65535 on both axes and the
    // MouseFlag bits. Buttons are pressed and released in the flag order
    // (move, left down, left up, right down, right up).
    virtual bool sendMouse(int absX, int absY, quint32 flags) = 0;

    // The window-system rectangle the 0..65535 of sendMouse spans. Null: the
    // bounding box of the monitors, which is what a compositor scales an
    // absolute pointer to. A backend that turns the units into pixels itself
    // says over which box it does (XTest: the X screen, which may reach past
    // its monitors).
    virtual QRect absoluteArea() const { return QRect(); }
};

// A backend that takes nothing. Used where no injection is possible (Wayland
// without uinput) and as the cheapest sink for measurements.
class NullInjectionBackend : public InjectionBackend
{
public:
    explicit NullInjectionBackend(Kind kind = Kind::None) : m_kind(kind) {}
    Kind kind() const override { return m_kind; }
    QString name() const override { return QStringLiteral("none"); }
    bool injectTouch(const TouchRecord *, int) override { return m_kind == Kind::Touch; }
    bool sendMouse(int, int, quint32) override { return m_kind == Kind::Mouse; }

private:
    Kind m_kind;
};

// What the user should be told about injection, once.
enum class InjectionNotice {
    None,
    NoUinput,        // nothing can inject: the uinput rule is missing
    MappingFallback, // touch devices could not be pinned: the pointer stands in
};

} // namespace tl
