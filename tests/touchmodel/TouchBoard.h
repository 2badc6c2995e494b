#pragma once

// What happens on and around the board in the touch path's model test: the
// pens and fingers (their true positions), what each module reports of them,
// how the reports reach the host (jitter, duplicates, late and missing
// reports, malformed transfers, silence), and the desktops the board is shown
// on. Every random choice comes from one seeded generator, so a seed replays.
#include "device/codec/Commands.h"
#include "device/codec/Packet.h"
#include "platform/Screens.h"
#include "sim/BoardPen.h"

#include <QList>
#include <QRect>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace touchmodel {

// Families of actions, each switched on or off as a whole (TL_TOUCHMODEL_ACTIONS).
enum Family : unsigned {
    Jitter = 1u << 0,      // the module's position noise, independent per module
    Seam = 1u << 1,        // strokes and rests across the two modules' common edge
    Reports = 1u << 2,     // duplicated, late, missing and empty reports, order of the modules
    Malformed = 1u << 3,   // bad lengths, cut transfers, unknown codes, positions off the sensor
    Layout = 1u << 4,      // display changes under a stroke (origins, scales, three monitors)
    Smoothing = 1u << 5,   // the companion switches smoothing off and on
    Mouse = 1u << 6,       // sequences on the mouse path (absolute pointer)
    Unplug = 1u << 7,      // a module is unplugged (the controller stops) and plugged again
    Silence = 1u << 8,     // a module or both stop reporting, for a while or for good
    OneMonitor = 1u << 9,  // two modules and one monitor
    PerDisplay = 1u << 10, // one touch device per board display (desktops that pin them)
    Edges = 1u << 11,      // pens on the board's last sensor column and row, and within the snap band
};

struct FamilyName
{
    const char *name;
    Family family;
};

inline const FamilyName kFamilies[] = {
    {"jitter", Jitter}, {"seam", Seam}, {"reports", Reports}, {"malformed", Malformed},
    {"layout", Layout}, {"smoothing", Smoothing}, {"mouse", Mouse}, {"unplug", Unplug},
    {"silence", Silence}, {"onemonitor", OneMonitor}, {"perdisplay", PerDisplay}, {"edges", Edges},
};

// Families that meet faults not mended yet: off unless asked for (none now).
constexpr unsigned kKnownFaultFamilies = 0;
constexpr unsigned kAllFamilies = (Edges << 1) - 1;

// "default" (everything but the known-fault families), "all", or a comma list
// of names; "+name" adds to the default, "-name" takes away from it.
inline unsigned parseFamilies(const char *text, std::string *error)
{
    const std::string s = text && *text ? text : "default";
    unsigned set = 0;
    bool relative = true;
    size_t at = 0;
    while (at <= s.size()) {
        const size_t end = std::min(s.find(',', at), s.size());
        std::string word = s.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        char sign = 0;
        if (word[0] == '+' || word[0] == '-') {
            sign = word[0];
            word.erase(0, 1);
        }
        unsigned bits = 0;
        if (word == "default")
            bits = kAllFamilies & ~kKnownFaultFamilies;
        else if (word == "all")
            bits = kAllFamilies;
        for (const FamilyName &f : kFamilies)
            if (word == f.name)
                bits = f.family;
        if (!bits) {
            *error = "unknown action family: " + word;
            return 0;
        }
        if (!sign)
            relative = false;
        if (sign == '-')
            set &= ~bits;
        else
            set |= bits;
    }
    // A list of only +/- words changes the default.
    if (relative) {
        unsigned base = kAllFamilies & ~kKnownFaultFamilies;
        for (size_t a = 0; a <= s.size();) {
            const size_t end = std::min(s.find(',', a), s.size());
            const std::string word = s.substr(a, end - a);
            a = end + 1;
            for (const FamilyName &f : kFamilies) {
                if (word == std::string("+") + f.name)
                    base |= f.family;
                if (word == std::string("-") + f.name)
                    base &= ~unsigned(f.family);
            }
        }
        set = base;
    }
    return set;
}

inline std::string familyNames(unsigned set)
{
    std::string out;
    for (const FamilyName &f : kFamilies)
        if (set & f.family)
            out += (out.empty() ? "" : ",") + std::string(f.name);
    return out.empty() ? "none" : out;
}

// The desktops a board is shown on. Monitors are listed in the window
// system's order; Qt desktop coordinates, with the native (window-system)
// rectangle where a monitor is scaled.
struct Desktop
{
    const char *name;
    QList<tl::MonitorInfo> monitors;
};

inline tl::MonitorInfo monitor(QRect logical, double dpi = 96.0, QRect native = QRect())
{
    tl::MonitorInfo m(logical, dpi);
    m.native = native;
    return m;
}

inline const std::vector<Desktop> &desktops()
{
    static const std::vector<Desktop> list = {
        {"side by side", {monitor(QRect(0, 0, 1920, 1080)), monitor(QRect(1920, 0, 1920, 1080))}},
        {"second left of the origin", {monitor(QRect(0, 0, 1920, 1080)), monitor(QRect(-1920, 0, 1920, 1080))}},
        {"second above the origin", {monitor(QRect(0, 0, 1920, 1080)), monitor(QRect(0, -1080, 1920, 1080))}},
        {"second scaled by 2",
         {monitor(QRect(0, 0, 1920, 1080)), monitor(QRect(1920, 0, 1280, 720), 192, QRect(1920, 0, 2560, 1440))}},
        {"three, lower right",
         {monitor(QRect(0, 0, 1280, 800)), monitor(QRect(1280, 200, 1920, 1080)), monitor(QRect(3200, 0, 1920, 1080))}},
        {"one monitor", {monitor(QRect(0, 0, 1920, 1080))}},
    };
    return list;
}

// Monitor rectangles left to right (equal left edges keep their order).
inline QList<QRect> leftToRight(const QList<tl::MonitorInfo> &monitors)
{
    QList<QRect> rects;
    for (const tl::MonitorInfo &m : monitors)
        rects << m.geometry;
    std::stable_sort(rects.begin(), rects.end(), [](const QRect &a, const QRect &b) { return a.left() < b.left(); });
    return rects;
}

// A pen or finger on the board, in the joined sensor space.
struct Contact
{
    int id = 0;
    double x = 0, y = 0;
    double vx = 0, vy = 0;
    int restLeft = 0;  // steps it stays still (0: moving)
    int restAge = 0;   // steps it has rested so far
    int lifeLeft = 0;  // steps until it lifts
};

// Where a contact truly was at a step.
struct TrailPoint
{
    int step;
    int contact;
    double x, y;
};

// One transfer as the receive loop reads it from module `module`.
struct Transfer
{
    int module = 0;
    tl::codec::PacketBuffer bytes{};
    int transferred = 0;
    std::string what;
    bool wellFormed = true;
};

inline Transfer trackingTransfer(int module, const std::vector<tl::sim::TrackPoint> &points, std::string what)
{
    std::vector<uint8_t> payload(points.size() * 6);
    for (size_t i = 0; i < points.size(); ++i) {
        const uint16_t x = static_cast<uint16_t>(points[i].x);
        const int16_t y = static_cast<int16_t>(points[i].y);
        const int16_t w = static_cast<int16_t>(points[i].weight);
        uint8_t *p = payload.data() + 6 * i;
        p[0] = uint8_t(x);
        p[1] = uint8_t(x >> 8);
        p[2] = uint8_t(uint16_t(y));
        p[3] = uint8_t(uint16_t(y) >> 8);
        p[4] = uint8_t(uint16_t(w));
        p[5] = uint8_t(uint16_t(w) >> 8);
    }
    Transfer t;
    t.module = module;
    t.bytes = tl::codec::makePacket(tl::codec::DAT_TC_DUAL_MODE, payload.data(), int(payload.size()));
    t.transferred = tl::codec::kHeaderSize + int(payload.size());
    t.what = std::move(what);
    return t;
}

// The pens and fingers: they go down, move in straight lines, rest, and lift.
// Contacts keep 400 sensor units apart (closer ones are one contact to the
// tracking path by design) and move less than the tracking path's contact
// distance per report.
class Board
{
public:
    static constexpr double kMaxSpeed = 70;   // sensor units per report
    static constexpr double kApart = 400;

    Board(std::mt19937_64 &rng, unsigned families) : m_rng(rng), m_families(families) {}

    // The board shrinks when a module goes: pens beyond what is left are off it.
    void setWidth(int modules)
    {
        m_width = 4800.0 * modules;
        m_contacts.erase(std::remove_if(m_contacts.begin(), m_contacts.end(),
                                        [this](const Contact &c) { return c.x > m_width - 1 - margin(); }),
                         m_contacts.end());
    }
    void setMaxContacts(int n) { m_maxContacts = n; }
    int maxContacts() const { return m_maxContacts; }
    const std::vector<Contact> &contacts() const { return m_contacts; }
    bool changedRecently(int step) const { return step - m_lastChange < 4; }
    // How long a lift keeps new pens away: 20 reports, or while a module is
    // quiet as long as it may still hold the lifted contact down (a pen that
    // lands near it then is that contact moving, to the tracking path).
    void setLiftMemory(int steps) { m_liftMemory = std::max(20, steps); }

    // One report cycle of the board: lifts, moves, new contacts.
    void step(int stepNo, std::vector<TrailPoint> &trail, std::string &log)
    {
        for (size_t i = 0; i < m_contacts.size();) {
            Contact &c = m_contacts[i];
            if (--c.lifeLeft <= 0 || int(i) >= m_maxContacts) {
                log += " lift#" + std::to_string(c.id);
                m_lifted.push_back({stepNo, c.id, c.x, c.y});
                m_contacts.erase(m_contacts.begin() + long(i));
                m_lastChange = stepNo;
                continue;
            }
            move(c);
            ++i;
        }
        while (!m_lifted.empty() && m_lifted.front().step < stepNo - m_liftMemory)
            m_lifted.pop_front();
        if (int(m_contacts.size()) < m_maxContacts && chance(m_contacts.empty() ? 0.08 : 0.03))
            place(stepNo, log);
        for (const Contact &c : m_contacts)
            trail.push_back({stepNo, c.id, c.x, c.y});
    }

    bool allResting() const
    {
        for (const Contact &c : m_contacts)
            if (c.restLeft <= 0 || c.restAge < 3)
                return false;
        return !m_contacts.empty();
    }

    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

private:
    void place(int stepNo, std::string &log)
    {
        const bool seam = (m_families & Seam) && m_width > 4800 && chance(0.5);
        for (int attempt = 0; attempt < 20; ++attempt) {
            Contact c;
            c.x = seam ? uniform(4300, 5300) : uniform(lo(), int(hiX()));
            c.y = uniform(lo(), int(hiY()));
            // Now and then exactly on an edge of the board.
            if (chance(0.1))
                c.x = chance(0.5) ? lo() : hiX();
            if (chance(0.1))
                c.y = chance(0.5) ? lo() : hiY();
            // Or held still right on the common edge, where the module's
            // jitter crosses it back and forth.
            const bool onEdge = seam && chance(0.2);
            if (onEdge)
                c.x = uniform(4797, 4802);
            if (!farFromOthers(c, -1))
                continue;
            c.id = m_nextId++;
            c.lifeLeft = uniform(5, 400);
            aim(c, seam);
            if (onEdge || chance(0.3))
                rest(c);
            m_contacts.push_back(c);
            m_lastChange = stepNo;
            log += " down#" + std::to_string(c.id) + "(" + std::to_string(int(c.x)) + "," + std::to_string(int(c.y)) +
                   ")";
            return;
        }
    }

    void aim(Contact &c, bool acrossSeam)
    {
        const double speed = std::uniform_real_distribution<double>(0, kMaxSpeed)(m_rng);
        double angle = std::uniform_real_distribution<double>(0, 2 * M_PI)(m_rng);
        if (acrossSeam)
            angle = (c.x < 4800 ? 0 : M_PI) + std::uniform_real_distribution<double>(-0.5, 0.5)(m_rng);
        c.vx = speed * std::cos(angle);
        c.vy = speed * std::sin(angle);
    }

    void rest(Contact &c)
    {
        c.restLeft = uniform(10, 150);
        c.restAge = 0;
    }

    // A pen that lands where another lifted a moment ago is that one moving,
    // to the tracking path (it cannot tell): new pens keep away from both.
    bool farFromOthers(const Contact &c, int self) const
    {
        for (const Contact &o : m_contacts)
            if (o.id != self && std::hypot(o.x - c.x, o.y - c.y) < kApart)
                return false;
        for (const TrailPoint &o : m_lifted)
            if (self < 0 && std::hypot(o.x - c.x, o.y - c.y) < kApart)
                return false;
        return true;
    }

    void move(Contact &c)
    {
        if (c.restLeft > 0) {
            --c.restLeft;
            ++c.restAge;
            return;
        }
        if (chance(0.02)) {
            rest(c);
            return;
        }
        if (chance(0.05))
            aim(c, (m_families & Seam) && m_width > 4800 && std::abs(c.x - 4800) < 600);
        Contact next = c;
        next.x += c.vx;
        next.y += c.vy;
        if (next.x < lo() || next.x > hiX()) {
            next.x = std::clamp(next.x, double(lo()), hiX());
            c.vx = -c.vx;
        }
        if (next.y < lo() || next.y > hiY()) {
            next.y = std::clamp(next.y, double(lo()), hiY());
            c.vy = -c.vy;
        }
        if (!farFromOthers(next, c.id)) {
            c.vx = -c.vx;
            c.vy = -c.vy;
            return;
        }
        c.x = next.x;
        c.y = next.y;
    }

    // Without the Edges family pens keep clear of the board's outer edges by
    // more than the jitter and the snap band.
    int margin() const { return (m_families & Edges) ? 0 : 40; }
    int lo() const { return margin(); }
    double hiX() const { return m_width - 1 - margin(); }
    double hiY() const { return 2999 - margin(); }

    std::mt19937_64 &m_rng;
    unsigned m_families;
    double m_width = 4800;
    int m_maxContacts = 1;
    int m_nextId = 1;
    int m_lastChange = -100;
    std::vector<Contact> m_contacts;
    std::deque<TrailPoint> m_lifted;  // where pens lifted in the last m_liftMemory reports
    int m_liftMemory = 20;
};

// What module `module` of `modules` reports of the board this cycle: the
// emulator's view of the board (two modules both see the band 150 units
// either side of their common edge), with the module's jitter.
inline std::vector<tl::sim::TrackPoint> moduleReport(const std::vector<Contact> &contacts, int module, int modules,
                                                     bool jitter, std::mt19937_64 &rng)
{
    std::vector<tl::sim::BoardPoint> points;
    for (const Contact &c : contacts)
        points.push_back({c.x, c.y});
    const tl::sim::BoardScript now = [&points](uint64_t) { return points; };
    std::vector<tl::sim::TrackPoint> seen = tl::sim::moduleView(now, module, modules)(0);
    if (jitter) {
        std::uniform_int_distribution<int> noise(-3, 3);
        for (tl::sim::TrackPoint &p : seen) {
            p.x += noise(rng);
            p.y += noise(rng);
        }
    }
    return seen;
}

// A transfer a module should never send, or a tracking report with records off
// the sensor space (then also carrying the true points).
inline Transfer malformedTransfer(int module, const std::vector<tl::sim::TrackPoint> &truth, std::mt19937_64 &rng)
{
    using namespace tl::codec;
    const int kind = std::uniform_int_distribution<int>(0, 6)(rng);
    Transfer t = trackingTransfer(module, truth, "");
    auto setLength = [&t](int32_t len) {
        std::memcpy(t.bytes.data() + 4, &len, 4);
    };
    switch (kind) {
    case 0:  // a length that is no whole number of records
        setLength(int32_t(truth.size() * 6 + 1 + std::uniform_int_distribution<int>(0, 4)(rng)));
        t.transferred = kPacketSize;
        t.what = "length not a multiple of 6";
        break;
    case 1:  // a length beyond the packet
        setLength(std::uniform_int_distribution<int>(0, 1) (rng) ? 600 : -6);
        t.transferred = kPacketSize;
        t.what = "length outside the packet";
        break;
    case 2: {  // the transfer ends inside the payload its length announces
        std::vector<tl::sim::TrackPoint> more = truth;
        more.push_back({1000, 1000, 100});
        more.push_back({2000, 2000, 100});
        t = trackingTransfer(module, more, "");
        t.transferred = kHeaderSize + std::uniform_int_distribution<int>(0, int(more.size() * 6) - 1)(rng);
        std::fill(t.bytes.begin() + t.transferred, t.bytes.end(), 0);
        t.what = "cut after " + std::to_string(t.transferred) + " bytes";
        break;
    }
    case 3:  // fewer bytes than a header
        t.transferred = std::uniform_int_distribution<int>(0, kHeaderSize - 1)(rng);
        std::fill(t.bytes.begin() + t.transferred, t.bytes.end(), 0);
        t.what = "cut inside the header";
        break;
    case 4: {  // a code the host does not know, with a tracking payload
        const int32_t code = 0x7777;
        std::memcpy(t.bytes.data(), &code, 4);
        t.what = "unknown code";
        break;
    }
    default: {  // a tracking report with spots off the sensor space
        std::vector<tl::sim::TrackPoint> more = truth;
        const tl::sim::TrackPoint wild[] = {{30000, 1500, 100}, {2000, -2000, 100}, {2000, 3031, 100},
                                            {4900, 3100, 100},  {65000, 0, 100},    {100, -40, 0},
                                            {3000, 32767, -5}};
        const tl::sim::TrackPoint spot = wild[std::uniform_int_distribution<int>(0, 6)(rng)];
        more.push_back(spot);
        t = trackingTransfer(module, more,
                             "spot off the sensor space (" + std::to_string(spot.x) + "," + std::to_string(spot.y) + ")");
        break;
    }
    }
    t.module = module;
    t.wellFormed = false;
    return t;
}

} // namespace touchmodel
