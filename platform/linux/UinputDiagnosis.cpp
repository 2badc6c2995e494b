#include "platform/linux/UinputDiagnosis.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTextStream>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tl {

namespace {

const char kRuleFile[] = "60-tesselink-uinput.rules";

// True when a line of the text file satisfies `match`.
template<typename Match>
bool anyLine(const QString &path, Match match)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&f);
    QString line;
    while (in.readLineInto(&line))
        if (match(line.trimmed()))
            return true;
    return false;
}

// modules.dep and modules.builtin name modules by path, compressed or not:
// "kernel/drivers/input/misc/uinput.ko.xz: ..." or "kernel/drivers/input/misc/uinput.ko".
bool namesUinput(const QString &line)
{
    const QString path = line.section(QLatin1Char(':'), 0, 0);
    const QString file = path.section(QLatin1Char('/'), -1);
    return file == QLatin1String("uinput.ko") || file.startsWith(QLatin1String("uinput.ko."));
}

} // namespace

UinputFacts gatherUinputFacts(const QString &node, const UinputPlaces &places)
{
    UinputFacts f;
    const QByteArray nodePath = QFile::encodeName(node);
    struct stat st = {};
    f.nodeExists = ::stat(nodePath.constData(), &st) == 0;
    f.nodeWritable = f.nodeExists && ::access(nodePath.constData(), W_OK) == 0;

    f.moduleLoaded = QFileInfo::exists(places.sysRoot + "/module/uinput")
        || QFileInfo::exists(places.sysRoot + "/class/misc/uinput");
    const QString modules = places.modulesDir.isEmpty() ? "/lib/modules/" + QSysInfo::kernelVersion()
                                                        : places.modulesDir;
    f.moduleBuiltIn = anyLine(modules + "/modules.builtin", namesUinput);
    f.moduleAvailable = anyLine(modules + "/modules.dep", namesUinput);
    for (const QString &dir : places.loadDirs) {
        for (const QFileInfo &conf : QDir(dir).entryInfoList({"*.conf"}, QDir::Files))
            if (anyLine(conf.filePath(), [](const QString &l) { return l == QLatin1String("uinput"); }))
                f.loadEntry = true;
    }
    for (const QString &dir : places.ruleDirs)
        if (QFileInfo::exists(dir + "/" + kRuleFile))
            f.ruleInstalled = true;
    if (f.nodeExists && S_ISCHR(st.st_mode)) {
        // udev keeps a record per device node: "c<major>:<minor>", one line per
        // tag ("G:uaccess"; newer udev adds "Q:" for the current tags).
        const QString record = QString::asprintf("%s/c%u:%u", QFile::encodeName(places.udevData).constData(),
                                                 major(st.st_rdev), minor(st.st_rdev));
        f.nodeTagged = anyLine(record, [](const QString &l) {
            return l == QLatin1String("G:uaccess") || l == QLatin1String("Q:uaccess");
        });
    }
    return f;
}

QString uinputAdvice(const QString &node, const UinputFacts &f)
{
    if (f.nodeExists && f.nodeWritable)
        return {};
    // The kernel first: the node may exist without the module (Debian creates
    // /dev/uinput at boot as a static node, root's only, that loads the module
    // when root opens it), and udev applies the rule only to a loaded module's
    // device, so without the module neither a trigger nor a new login helps.
    if (!f.moduleLoaded && !f.moduleBuiltIn) {
        if (!f.moduleAvailable)
            return QStringLiteral("Touch input is off: this kernel has no uinput module, so %1 %2. "
                                  "Touch input needs a kernel built with uinput (CONFIG_INPUT_UINPUT).")
                .arg(node, f.nodeExists ? QStringLiteral("cannot work") : QStringLiteral("cannot exist"));
        return QStringLiteral("Touch input is off: the uinput kernel module is not loaded, so %1 %2. "
                              "Load it with \"sudo modprobe uinput\"; %3")
            .arg(node,
                 f.nodeExists ? QStringLiteral("is only a placeholder that the user may not open")
                              : QStringLiteral("does not exist"),
                 f.loadEntry ? QStringLiteral("it is loaded at every start from then on.")
                             : QStringLiteral("to have it loaded at every start, install the tesselink-driver "
                                              "package again (it adds /usr/lib/modules-load.d/"
                                              "tesselink-driver.conf)."));
    }
    if (!f.nodeExists)
        return QStringLiteral("Touch input is off: the kernel has uinput, but %1 does not exist (udev did not "
                              "create it). Run \"sudo udevadm trigger --action=add --subsystem-match=misc "
                              "--sysname-match=uinput\" or restart the computer.")
            .arg(node);
    if (!f.ruleInstalled)
        return QStringLiteral("Touch input is off: the driver is not allowed to open %1, and the udev rule %2 that gives the "
                              "logged-in user access to it is not installed. Install the tesselink-driver package "
                              "(or copy the rule to /etc/udev/rules.d/), then log out and in again.")
            .arg(node, QString::fromLatin1(kRuleFile));
    if (!f.nodeTagged)
        return QStringLiteral("Touch input is off: the udev rule %1 is installed but udev has not applied it to %2 "
                              "yet. Run \"sudo udevadm trigger --action=add --subsystem-match=misc "
                              "--sysname-match=uinput\" or restart the computer.")
            .arg(QString::fromLatin1(kRuleFile), node);
    return QStringLiteral("Touch input is off: %1 is set up for the user at the seat, but this session started "
                          "before that (or is not the seat's active local session, such as a remote one). Log out "
                          "and in again.")
        .arg(node);
}

} // namespace tl
