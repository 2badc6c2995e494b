#pragma once

#include <QString>
#include <QStringList>

namespace tl {

// Why /dev/uinput cannot be opened, found out from the machine: the kernel
// module, the node, the udev rule that gives the seat's user access, and
// whether udev has applied that rule to the node.
struct UinputFacts
{
    bool nodeExists = false;
    bool nodeWritable = false;    // access(W_OK): permissions and ACLs
    bool moduleLoaded = false;    // /sys/module/uinput or /sys/class/misc/uinput
    bool moduleBuiltIn = false;   // listed in the kernel's modules.builtin
    bool moduleAvailable = false; // listed in the kernel's modules.dep (loadable)
    bool loadEntry = false;       // a modules-load.d entry names uinput
    bool ruleInstalled = false;   // 60-tesselink-uinput.rules in a udev rules folder
    bool nodeTagged = false;      // udev's database gives the node the uaccess tag
};

// Where the facts are read; tests point them at a tree of their own.
struct UinputPlaces
{
    QString sysRoot = QStringLiteral("/sys");
    QString modulesDir;   // empty: /lib/modules/<running kernel's release>
    QStringList loadDirs{QStringLiteral("/etc/modules-load.d"), QStringLiteral("/run/modules-load.d"),
                         QStringLiteral("/usr/lib/modules-load.d"), QStringLiteral("/lib/modules-load.d")};
    QStringList ruleDirs{QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
                         QStringLiteral("/usr/lib/udev/rules.d"), QStringLiteral("/lib/udev/rules.d")};
    QString udevData = QStringLiteral("/run/udev/data");
};

UinputFacts gatherUinputFacts(const QString &node, const UinputPlaces &places = UinputPlaces());

// The advice for the user when the node cannot be opened: what is wrong on
// this machine and the one step that mends it. Empty when nothing is wrong.
QString uinputAdvice(const QString &node, const UinputFacts &facts);

} // namespace tl
