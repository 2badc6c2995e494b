#pragma once

#include "device/codec/ByteIO.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/linux/UinputDevice.h"

#include <linux/input-event-codes.h>

#include <QRect>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tltest {

// One tracking record as a module sends it: uint16 x, int16 y, int16 weight.
struct Rec
{
    int x;
    int y;
    int w = 100;
};

inline std::vector<uint8_t> payload(std::initializer_list<Rec> records)
{
    std::vector<uint8_t> bytes(records.size() * 6);
    tl::codec::ByteWriter w(bytes.data(), bytes.size());
    for (const Rec &r : records)
        w.u16(static_cast<uint16_t>(r.x)).i16(static_cast<int16_t>(r.y)).i16(static_cast<int16_t>(r.w));
    return bytes;
}

inline std::vector<uint8_t> payload(const std::vector<Rec> &records)
{
    std::vector<uint8_t> bytes(records.size() * 6);
    tl::codec::ByteWriter w(bytes.data(), bytes.size());
    for (const Rec &r : records)
        w.u16(static_cast<uint16_t>(r.x)).i16(static_cast<int16_t>(r.y)).i16(static_cast<int16_t>(r.w));
    return bytes;
}

// Installs a monitor layout for the duration of a test.
class ScreenLayout
{
public:
    explicit ScreenLayout(std::initializer_list<QRect> rects)
    {
        QList<tl::MonitorInfo> list;
        for (const QRect &r : rects)
            list.append({r, 96.0});
        tl::FixedScreens::install(list);
    }
    ~ScreenLayout() { tl::FixedScreens::uninstall(); }
};

struct Event
{
    unsigned type;
    unsigned code;
    int value;
    bool operator==(const Event &o) const { return type == o.type && code == o.code && value == o.value; }
};

// Stands in for the kernel's uinput device: keeps every event written.
class RecordingSink : public tl::EvdevSink
{
public:
    explicit RecordingSink(std::vector<Event> *out) : m_out(out) {}
    bool write(unsigned type, unsigned code, int value) override
    {
        m_out->push_back({type, code, value});
        return true;
    }

private:
    std::vector<Event> *m_out;
};

inline int countSyn(const std::vector<Event> &events)
{
    int n = 0;
    for (const Event &e : events)
        n += e.type == EV_SYN && e.code == SYN_REPORT;
    return n;
}

// Replays a protocol-B stream the way the kernel's slot state would see it.
struct TouchStreamCheck
{
    std::map<int, int> idOfSlot;  // slot -> tracking id down there
    std::set<int> idsSeen;
    int slot = 0;
    int downs = 0;
    int ups = 0;
    bool btnTouch = false;
    std::vector<std::string> faults;
    // Last position written per slot (device units), and which slots had one
    // written since the caller last cleared the mask.
    int posX[10] = {};
    int posY[10] = {};
    unsigned written = 0;

    void feed(const std::vector<Event> &events)
    {
        for (const Event &e : events) {
            if (e.type == EV_ABS && (e.code == ABS_MT_POSITION_X || e.code == ABS_MT_POSITION_Y)) {
                if (slot >= 0 && slot <= 9) {
                    (e.code == ABS_MT_POSITION_X ? posX : posY)[slot] = e.value;
                    written |= 1u << slot;
                }
            } else if (e.type == EV_ABS && e.code == ABS_MT_SLOT) {
                slot = e.value;
                if (slot < 0 || slot > 9)
                    faults.push_back("slot out of range");
            } else if (e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID) {
                if (e.value >= 0) {
                    if (idOfSlot.count(slot))
                        faults.push_back("new id on a slot still down");
                    if (!idsSeen.insert(e.value).second)
                        faults.push_back("tracking id reused");
                    idOfSlot[slot] = e.value;
                    ++downs;
                } else {
                    if (!idOfSlot.erase(slot))
                        faults.push_back("up of a slot that is not down");
                    ++ups;
                }
            } else if (e.type == EV_KEY && e.code == BTN_TOUCH) {
                btnTouch = e.value != 0;
            }
        }
    }
};

// The same for an absolute pointer with two buttons: where it is (absolute
// units), which buttons are down, and presses that the stream cannot have.
struct PointerStreamCheck
{
    int absX = -1;
    int absY = -1;
    bool left = false;
    bool right = false;
    int leftPresses = 0;
    int rightPresses = 0;
    std::vector<std::string> faults;

    void feed(const std::vector<Event> &events)
    {
        for (const Event &e : events) {
            if (e.type == EV_ABS && e.code == ABS_X) {
                absX = e.value;
            } else if (e.type == EV_ABS && e.code == ABS_Y) {
                absY = e.value;
            } else if (e.type == EV_KEY && (e.code == BTN_LEFT || e.code == BTN_RIGHT)) {
                bool &down = e.code == BTN_LEFT ? left : right;
                if (e.value != 0 && down)
                    faults.push_back(e.code == BTN_LEFT ? "left press while pressed" : "right press while pressed");
                if (e.value != 0)
                    ++(e.code == BTN_LEFT ? leftPresses : rightPresses);
                down = e.value != 0;
            }
        }
    }
};

} // namespace tltest
