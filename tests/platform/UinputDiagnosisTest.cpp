// The advice given when /dev/uinput cannot be opened names what this machine
// lacks: the facts are read from a tree of the test's own.
#include "platform/linux/UinputDiagnosis.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using tl::UinputFacts;
using tl::UinputPlaces;

namespace {

void write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(path.section('/', 0, -2));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

UinputPlaces placesIn(const QString &root)
{
    UinputPlaces p;
    p.sysRoot = root + "/sys";
    p.modulesDir = root + "/lib/modules/6.1.0-test";
    p.loadDirs = QStringList{root + "/etc/modules-load.d", root + "/usr/lib/modules-load.d"};
    p.ruleDirs = QStringList{root + "/etc/udev/rules.d", root + "/usr/lib/udev/rules.d"};
    p.udevData = root + "/run/udev/data";
    return p;
}

} // namespace

TEST(UinputDiagnosis, FactsAreReadFromTheMachine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path();
    const UinputPlaces places = placesIn(root);

    // A bare machine: no node, no module, nothing installed.
    UinputFacts f = tl::gatherUinputFacts(root + "/dev/uinput", places);
    EXPECT_FALSE(f.nodeExists);
    EXPECT_FALSE(f.moduleLoaded);
    EXPECT_FALSE(f.moduleAvailable);
    EXPECT_FALSE(f.moduleBuiltIn);
    EXPECT_FALSE(f.loadEntry);
    EXPECT_FALSE(f.ruleInstalled);

    // What the package and a Debian kernel put there. Another module of the
    // same folder and a file that only mentions uinput do not count.
    write(places.modulesDir + "/modules.dep",
          "kernel/drivers/input/misc/uinput2.ko.xz:\nkernel/drivers/input/misc/uinput.ko.xz:\n");
    write(places.modulesDir + "/modules.builtin", "kernel/drivers/input/evdev.ko\n");
    write(root + "/etc/modules-load.d/other.conf", "# uinput\nloop\n");
    write(root + "/usr/lib/udev/rules.d/60-tesselink-uinput.rules", "KERNEL==\"uinput\"\n");
    f = tl::gatherUinputFacts(root + "/dev/uinput", places);
    EXPECT_TRUE(f.moduleAvailable);
    EXPECT_FALSE(f.moduleBuiltIn);
    EXPECT_FALSE(f.loadEntry);
    EXPECT_TRUE(f.ruleInstalled);
    write(root + "/usr/lib/modules-load.d/tesselink-driver.conf", "# touch injection\nuinput\n");
    QDir().mkpath(places.sysRoot + "/module/uinput");
    f = tl::gatherUinputFacts(root + "/dev/uinput", places);
    EXPECT_TRUE(f.loadEntry);
    EXPECT_TRUE(f.moduleLoaded);

    // udev's record of a character node: the uaccess tag. /dev/null stands in
    // for the node (the test cannot rely on creating device nodes).
    struct stat st = {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    const QString record = QString::asprintf("%s/c%u:%u", qPrintable(places.udevData), major(st.st_rdev),
                                             minor(st.st_rdev));
    write(record, "I:123\nG:seat\nE:ID_SEAT=seat0\n");
    f = tl::gatherUinputFacts("/dev/null", places);
    EXPECT_TRUE(f.nodeExists);
    EXPECT_TRUE(f.nodeWritable);
    EXPECT_FALSE(f.nodeTagged);
    write(record, "I:123\nG:seat\nG:uaccess\nQ:uaccess\n");
    EXPECT_TRUE(tl::gatherUinputFacts("/dev/null", places).nodeTagged);
}

TEST(UinputDiagnosis, EachSituationGetsItsOwnAdvice)
{
    const QString node = "/dev/uinput";
    UinputFacts f;
    f.moduleAvailable = true;
    const QString notLoaded = tl::uinputAdvice(node, f);
    EXPECT_TRUE(notLoaded.contains("the uinput kernel module is not loaded")) << qPrintable(notLoaded);
    EXPECT_TRUE(notLoaded.contains("sudo modprobe uinput"));
    EXPECT_TRUE(notLoaded.contains("install the tesselink-driver package again"));
    f.loadEntry = true;
    EXPECT_TRUE(tl::uinputAdvice(node, f).contains("it is loaded at every start from then on"));

    f = {};
    EXPECT_TRUE(tl::uinputAdvice(node, f).contains("this kernel has no uinput module"));
    f.moduleBuiltIn = true;
    EXPECT_TRUE(tl::uinputAdvice(node, f).contains("udev did not create it"));

    // The node is there but the user may not write it.
    f = {};
    f.nodeExists = true;
    f.moduleLoaded = true;
    const QString noRule = tl::uinputAdvice(node, f);
    EXPECT_TRUE(noRule.contains("60-tesselink-uinput.rules that gives the logged-in user access to it is not "
                                "installed")) << qPrintable(noRule);
    f.ruleInstalled = true;
    const QString notApplied = tl::uinputAdvice(node, f);
    EXPECT_TRUE(notApplied.contains("udev has not applied it to /dev/uinput")) << qPrintable(notApplied);
    EXPECT_TRUE(notApplied.contains("udevadm trigger"));
    f.nodeTagged = true;
    const QString oldSession = tl::uinputAdvice(node, f);
    EXPECT_TRUE(oldSession.contains("this session started before that")) << qPrintable(oldSession);
    EXPECT_TRUE(oldSession.contains("Log out and in again"));

    // Different situations, different texts; nothing to say when it works.
    const QStringList all{notLoaded, noRule, notApplied, oldSession};
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), 4);
    f.nodeWritable = true;
    EXPECT_TRUE(tl::uinputAdvice(node, f).isEmpty());
}

// Whole machines as a user meets them, from the files the diagnosis reads to
// the advice: each gets the step that mends it. The node's access is the
// user's, not the test's (root may write any node), so where the user may not
// open it the facts say so.
TEST(UinputDiagnosis, PreparedMachinesGetTheAdviceThatMendsThem)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path();
    const UinputPlaces places = placesIn(root);
    // /dev/null stands in for a node that exists; udev's record is keyed by its numbers.
    struct stat st = {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    const QString record = QString::asprintf("%s/c%u:%u", qPrintable(places.udevData), major(st.st_rdev),
                                             minor(st.st_rdev));
    auto adviceFor = [&](const QString &node) {
        UinputFacts f = tl::gatherUinputFacts(node, places);
        f.nodeWritable = false;
        return tl::uinputAdvice("/dev/uinput", f);
    };
    const QString missing = root + "/dev/uinput";

    // A Debian kernel before the package: the module is loadable, nothing loads it.
    write(places.modulesDir + "/modules.dep", "kernel/drivers/input/misc/uinput.ko.xz:\n");
    QString advice = adviceFor(missing);
    EXPECT_TRUE(advice.contains("the uinput kernel module is not loaded, so /dev/uinput does not exist"))
        << qPrintable(advice);
    EXPECT_TRUE(advice.contains("install the tesselink-driver package again")) << qPrintable(advice);

    // The package installed where its postinst could not load the module (a
    // chroot, an image build): the entry is there, and the boot's static node
    // exists without the module. udev has nothing to apply the rule to, so only
    // loading the module mends it, not a trigger or a new login.
    write(root + "/usr/lib/modules-load.d/tesselink-driver.conf", "uinput\n");
    write(root + "/usr/lib/udev/rules.d/60-tesselink-uinput.rules", "KERNEL==\"uinput\"\n");
    advice = adviceFor("/dev/null");
    EXPECT_TRUE(advice.contains("the uinput kernel module is not loaded")) << qPrintable(advice);
    EXPECT_TRUE(advice.contains("sudo modprobe uinput"));
    EXPECT_TRUE(advice.contains("it is loaded at every start from then on"));
    EXPECT_FALSE(advice.contains("udevadm trigger")) << qPrintable(advice);
    EXPECT_FALSE(advice.contains("Log out")) << qPrintable(advice);

    // The module loaded, the node root's, the rule not installed (removed, or
    // the driver built from source).
    QDir().mkpath(places.sysRoot + "/module/uinput");
    QFile::remove(root + "/usr/lib/udev/rules.d/60-tesselink-uinput.rules");
    advice = adviceFor("/dev/null");
    EXPECT_TRUE(advice.contains("is not installed. Install the tesselink-driver package")) << qPrintable(advice);

    // The rule installed, udev has not run it on the node yet.
    write(root + "/etc/udev/rules.d/60-tesselink-uinput.rules", "KERNEL==\"uinput\"\n");
    write(record, "I:1\nG:seat\n");
    advice = adviceFor("/dev/null");
    EXPECT_TRUE(advice.contains("udev has not applied it to /dev/uinput yet")) << qPrintable(advice);

    // udev has tagged the node, but this session's access was given out at its
    // login, before the installation.
    write(record, "I:1\nG:seat\nG:uaccess\nQ:uaccess\n");
    advice = adviceFor("/dev/null");
    EXPECT_TRUE(advice.contains("this session started before that")) << qPrintable(advice);

    // A kernel without uinput: only another kernel mends it.
    QDir(places.sysRoot).removeRecursively();
    QFile::remove(places.modulesDir + "/modules.dep");
    advice = adviceFor(missing);
    EXPECT_TRUE(advice.contains("this kernel has no uinput module, so /dev/uinput cannot exist")) << qPrintable(advice);
    EXPECT_TRUE(advice.contains("CONFIG_INPUT_UINPUT"));
}
