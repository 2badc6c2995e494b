#include "DescribedDevice.h"

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <cstring>
#include <vector>

namespace {

QByteArray hex(const void *data, size_t size)
{
    return QByteArray(static_cast<const char *>(data), int(size)).toHex().toUpper();
}

template <typename T> QByteArray hexOf(const T &value)
{
    return hex(&value, sizeof value);
}

// The bitmask of the codes of one event type, as EVIOCGBIT fills it.
std::vector<unsigned char> bits(const libevdev *d, unsigned type, unsigned max, size_t bytes)
{
    std::vector<unsigned char> out(bytes, 0);
    for (unsigned code = 0; code <= max && code / 8 < bytes; ++code) {
        const bool set = type == 0 ? libevdev_has_event_type(d, code) : libevdev_has_event_code(d, type, code);
        if (set)
            out[code / 8] |= (unsigned char)(1u << (code % 8));
    }
    return out;
}

// The kernel's hex words of a bitmask, as udev's capabilities/* show them.
QByteArray sysfsBits(const std::vector<unsigned char> &mask)
{
    std::vector<unsigned long> words((mask.size() + sizeof(long) - 1) / sizeof(long), 0);
    std::memcpy(words.data(), mask.data(), mask.size());
    while (words.size() > 1 && words.back() == 0)
        words.pop_back();
    QByteArray out;
    for (size_t i = words.size(); i-- > 0;)
        out += QByteArray::number(qulonglong(words[i]), 16) + (i ? " " : "");
    return out;
}

} // namespace

QByteArray evemuLine(double seconds, unsigned type, unsigned code, int value)
{
    const long sec = long(seconds);
    const long usec = long((seconds - sec) * 1e6);
    return QByteArray("E: ") + QByteArray::number(qlonglong(sec)) + '.' +
           QByteArray::number(qlonglong(usec)).rightJustified(6, '0') + ' ' +
           QByteArray::number(type, 16).rightJustified(4, '0') + ' ' +
           QByteArray::number(code, 16).rightJustified(4, '0') + ' ' + QByteArray::number(value) + '\n';
}

DescribedDevice describeToUmockdev(const libevdev *d, int n)
{
    DescribedDevice out;
    out.node = QStringLiteral("/dev/input/event%1").arg(n);
    const QByteArray name = libevdev_get_name(d);
    const QByteArray num = QByteArray::number(n);
    const std::vector<unsigned char> ev = bits(d, 0, EV_MAX, 8), key = bits(d, EV_KEY, KEY_MAX, 96),
                                     abs = bits(d, EV_ABS, ABS_MAX, 8), rel = bits(d, EV_REL, REL_MAX, 8),
                                     msc = bits(d, EV_MSC, MSC_MAX, 8);
    std::vector<unsigned char> prop(8, 0);
    for (unsigned p = 0; p < 64; ++p)
        if (libevdev_has_property(d, p))
            prop[p / 8] |= (unsigned char)(1u << (p % 8));
    const QByteArray product = QByteArray::number(libevdev_get_id_bustype(d), 16) + '/' +
                               QByteArray::number(libevdev_get_id_vendor(d), 16) + '/' +
                               QByteArray::number(libevdev_get_id_product(d), 16) + '/' +
                               QByteArray::number(libevdev_get_id_version(d), 16);

    // udev's record: the event node and its input parent, as udev's input_id
    // classes a direct-touch device.
    QByteArray &u = out.umockdev;
    u += "P: /devices/virtual/input/input" + num + "/event" + num + "\n";
    u += "N: input/event" + num + "\n";
    u += "E: DEVNAME=/dev/input/event" + num + "\n";
    u += "E: ID_INPUT=1\nE: ID_INPUT_TOUCHSCREEN=1\n";
    u += "E: MAJOR=13\nE: MINOR=" + QByteArray::number(64 + n) + "\nE: SUBSYSTEM=input\n";
    u += "A: dev=13:" + QByteArray::number(64 + n) + "\n\n";
    u += "P: /devices/virtual/input/input" + num + "\n";
    u += "E: ID_INPUT=1\nE: ID_INPUT_TOUCHSCREEN=1\n";
    u += "E: NAME=\"" + name + "\"\nE: PRODUCT=" + product + "\nE: SUBSYSTEM=input\n";
    u += "E: EV=" + sysfsBits(ev) + "\nE: ABS=" + sysfsBits(abs) + "\nE: KEY=" + sysfsBits(key) + "\n";
    u += "E: PROP=" + sysfsBits(prop) + "\n";
    u += "A: name=" + name + "\nA: phys=\nA: uniq=\nA: properties=" + sysfsBits(prop) + "\n";
    u += "A: capabilities/ev=" + sysfsBits(ev) + "\nA: capabilities/abs=" + sysfsBits(abs) + "\n";
    u += "A: capabilities/key=" + sysfsBits(key) + "\nA: capabilities/rel=" + sysfsBits(rel) + "\n";
    u += "A: capabilities/msc=" + sysfsBits(msc) + "\nA: capabilities/sw=0\nA: capabilities/led=0\n";
    u += "A: capabilities/ff=0\nA: capabilities/snd=0\n";
    u += "A: id/bustype=" + QByteArray::number(libevdev_get_id_bustype(d), 16).rightJustified(4, '0') + "\n";
    u += "A: id/vendor=" + QByteArray::number(libevdev_get_id_vendor(d), 16).rightJustified(4, '0') + "\n";
    u += "A: id/product=" + QByteArray::number(libevdev_get_id_product(d), 16).rightJustified(4, '0') + "\n";
    u += "A: id/version=" + QByteArray::number(libevdev_get_id_version(d), 16).rightJustified(4, '0') + "\n\n";

    // The answers to the ioctls libevdev asks when a driver opens the node.
    QByteArray &io = out.ioctl;
    io += "@DEV " + out.node.toLatin1() + "\n";
    const int version = 0x010001;
    io += "EVIOCGVERSION 0 " + hexOf(version) + "\n";
    struct input_id id = {quint16(libevdev_get_id_bustype(d)), quint16(libevdev_get_id_vendor(d)),
                          quint16(libevdev_get_id_product(d)), quint16(libevdev_get_id_version(d))};
    io += "EVIOCGID 0 " + hexOf(id) + "\n";
    // libevdev asks with a buffer of 255 bytes (and umockdev needs the size).
    QByteArray nameBuf = name;
    nameBuf.append('\0');
    const int nameLength = nameBuf.size();
    nameBuf = nameBuf.leftJustified(255, '\0');
    io += "EVIOCGNAME(0) " + QByteArray::number(nameLength) + ' ' + hex(nameBuf.constData(), 255) + "\n";
    const QByteArray empty(255, '\0');
    io += "EVIOCGPHYS(0) 1 " + hex(empty.constData(), 255) + "\n";
    io += "EVIOCGUNIQ(0) 1 " + hex(empty.constData(), 255) + "\n";
    io += "EVIOCGPROP(0) 8 " + hex(prop.data(), 8) + "\n";
    io += "EVIOCGBIT(0) 8 " + hex(ev.data(), 8) + "\n";
    io += "EVIOCGBIT(1) 96 " + hex(key.data(), 96) + "\n";
    io += "EVIOCGBIT(2) 8 " + hex(rel.data(), 8) + "\n";
    io += "EVIOCGBIT(3) 8 " + hex(abs.data(), 8) + "\n";
    io += "EVIOCGBIT(4) 8 " + hex(msc.data(), 8) + "\n";
    const std::vector<unsigned char> none(16, 0);
    for (int type : {5, 17, 18})
        io += "EVIOCGBIT(" + QByteArray::number(type) + ") 8 " + hex(none.data(), 8) + "\n";
    io += "EVIOCGBIT(21) 16 " + hex(none.data(), 16) + "\n";
    const QByteArray zeros(96, '\0');
    io += "EVIOCGKEY(0) 96 " + hex(zeros.constData(), 96) + "\n";
    io += "EVIOCGLED(0) 8 " + hex(zeros.constData(), 8) + "\n";
    io += "EVIOCGSW(0) 8 " + hex(zeros.constData(), 8) + "\n";
    for (unsigned code = 0; code <= ABS_MAX; ++code) {
        const input_absinfo *a = libevdev_get_abs_info(d, code);
        if (!a || !libevdev_has_event_code(d, EV_ABS, code))
            continue;
        io += (code == 0 ? QByteArray("EVIOCGABS") : "EVIOCGABS(" + QByteArray::number(code) + ")") + " 0 " +
              hexOf(*a) + "\n";
    }
    const int slots = libevdev_get_num_slots(d);
    for (unsigned code = ABS_MT_SLOT + 1; code <= ABS_MAX; ++code) {
        if (!libevdev_has_event_code(d, EV_ABS, code) || slots <= 0)
            continue;
        // libevdev asks for 256 slots whatever the device has; umockdev
        // answers a recorded ioctl of the very size asked.
        std::vector<int32_t> values(257, code == ABS_MT_TRACKING_ID ? -1 : 0);
        values[0] = int32_t(code);
        io += "EVIOCGMTSLOTS(0) 0 " + hex(values.data(), values.size() * 4) + "\n";
    }
    return out;
}
