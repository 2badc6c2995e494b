#pragma once

#include "device/codec/ByteIO.h"
#include "platform/Screens.h"
#include "platform/linux/UinputDevice.h"

#include <linux/input-event-codes.h>

#include <QRect>
#include <cstdint>
#include <initializer_list>
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
        tl::ScreenSource::setOverride(list);
    }
    ~ScreenLayout() { tl::ScreenSource::clearOverride(); }
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

} // namespace tltest
