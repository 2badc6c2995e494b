#include "XorgDummy.h"

#include "platform/Clock.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <X11/Xlib.h>

namespace xorgdummy {

bool run(const QString &program, const QStringList &args, const QByteArray &display, QString *out)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    env.remove(QStringLiteral("LD_PRELOAD"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool ok = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    return ok;
}

QByteArray config(const char *virtualSize, const char *sections)
{
    QByteArray conf = R"(Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual @
  EndSubSection
EndSection
)";
    return conf.replace("@", virtualSize) + sections;
}

QByteArray freeDisplay(int first)
{
    int number = first;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
        ++number;
    return ":" + QByteArray::number(number);
}

Display *waitForDisplay(Compositor &x, const QByteArray &display)
{
    Display *dpy = nullptr;
    for (int i = 0; i < 100 && !dpy && x.running(); ++i) {
        tl::Clock::sleepMs(100);
        dpy = XOpenDisplay(display.constData());
    }
    return dpy;
}

bool setTwoOutputs(const QString &xrandr, const QByteArray &display, const QString &fb, const QString &mode0,
                   const QString &mode1, bool primary, QString *out)
{
    // The modelines of the two monitor sizes the tests use.
    run(xrandr, {"--newmode", "1920x1080", "173.00", "1920", "2048", "2248", "2576", "1080", "1083", "1088", "1120",
                 "-hsync", "+vsync"},
        display);
    run(xrandr, {"--newmode", "1280x800", "83.50", "1280", "1352", "1480", "1680", "800", "803", "809", "831",
                 "-hsync", "+vsync"},
        display);
    run(xrandr, {"--addmode", "DUMMY0", mode0}, display);
    run(xrandr, {"--addmode", "DUMMY1", mode1}, display);
    QStringList args = {"--fb", fb, "--output", "DUMMY0", "--mode", mode0, "--pos", "0x0"};
    if (primary)
        args << "--primary";
    args << "--output" << "DUMMY1" << "--mode" << mode1 << "--pos" << mode0.section('x', 0, 0) + "x0";
    return run(xrandr, args, display, out);
}

} // namespace xorgdummy
