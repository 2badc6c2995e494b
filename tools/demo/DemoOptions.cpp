#include "DemoOptions.h"

namespace {
bool takeValue(const QStringList &args, int &i, QString &value, QString &error)
{
    if (i + 1 >= args.size()) {
        error = "missing value after " + args[i];
        return false;
    }
    value = args[++i];
    return true;
}
// "WxH" with digits on both sides: the emulated display's size.
bool looksLikeSize(const QString &v)
{
    const int x = v.indexOf('x');
    if (x <= 0 || x + 1 >= v.size())
        return false;
    for (int i = 0; i < v.size(); ++i)
        if (i != x && !v[i].isDigit())
            return false;
    return true;
}
} // namespace

QString DemoOptions::usage()
{
    return "usage: tesselink-demo [--modules 0..3] [--calibrated 0|1] [--scenario connect|transfer|track|align|pattern|calibrate]\n"
           "                      [--loss FRACTION] [--seed N] [--speed FACTOR] [--window] [--verbose]\n"
           "                      [--dialogs] [--engineer] [--hold SECONDS] [--monitor N] [--camera-monitor N] [--camera-window]\n"
           "       pattern:       [--display-size WxH] [--lens 1|2|3] [--ceiling 0|1] [--rear 0|1] [--noise F]\n"
           "                      [--save-images DIR] [--find-speed FACTOR] [--dot-diag 0|1] [--pen 0..9]\n"
           "       calibrate:     the pattern options and [--method auto|manual] [--touch-error PX]\n";
}

bool DemoOptions::parse(const QStringList &args, DemoOptions &out, QString &error, QStringList *rest)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        QString v;
        bool ok = true;
        if (a == "--window") {
            out.window = true;
        } else if (a == "--verbose") {
            out.verbose = true;
        } else if (a == "--camera-window") {
            out.cameraWindow = true;
        } else if (a == "--dialogs") {
            out.dialogs = true;
        } else if (a == "--engineer") {
            out.engineer = true;
        } else if (a == "--hold") {
            if (!takeValue(args, i, v, error))
                return false;
            out.hold = v.toInt(&ok);
            if (!ok || out.hold < 0 || out.hold > 3600) {
                error = "--hold takes 0 to 3600 seconds";
                return false;
            }
        } else if (a == "--monitor" || a == "--camera-monitor") {
            if (!takeValue(args, i, v, error))
                return false;
            const int n = v.toInt(&ok);
            if (!ok || n < 0 || n > 15) {
                error = a + " takes a monitor index from 0 to 15";
                return false;
            }
            (a == "--monitor" ? out.monitor : out.cameraMonitor) = n;
        } else if (a == "--modules") {
            if (!takeValue(args, i, v, error))
                return false;
            out.modules = v.toInt(&ok);
            if (!ok || out.modules < 0 || out.modules > 3) {
                error = "--modules takes 0 to 3";
                return false;
            }
        } else if (a == "--calibrated") {
            if (!takeValue(args, i, v, error))
                return false;
            if (v != "0" && v != "1") {
                error = "--calibrated takes 0 or 1";
                return false;
            }
            out.calibrated = v == "1";
        } else if (a == "--scenario") {
            if (!takeValue(args, i, v, error))
                return false;
            out.scenario = v;
        } else if (a == "--loss") {
            if (!takeValue(args, i, v, error))
                return false;
            out.loss = v.toDouble(&ok);
            if (!ok || out.loss < 0.0 || out.loss >= 1.0) {
                error = "--loss takes a fraction from 0 up to (not including) 1";
                return false;
            }
        } else if (a == "--seed") {
            if (!takeValue(args, i, v, error))
                return false;
            out.seed = v.toULongLong(&ok);
            if (!ok) {
                error = "--seed takes a non-negative integer";
                return false;
            }
        } else if (a == "--speed") {
            if (!takeValue(args, i, v, error))
                return false;
            out.speed = v.toDouble(&ok);
            if (!ok || out.speed < 1.0 || out.speed > 1000.0) {
                error = "--speed takes a factor from 1 to 1000";
                return false;
            }
        } else if (a == "--display-size" || (a == "--display" && i + 1 < args.size() && looksLikeSize(args[i + 1]))) {
            // "--display" is also Qt's X11 display option ("-display :1" and
            // "--display :1" both reach xcb). An X display name always holds
            // a colon, a size never does: the old spelling is ours only with
            // a WxH value, anything else goes on to the toolkit.
            if (!takeValue(args, i, v, error))
                return false;
            const QStringList wh = v.split('x');
            bool okH = false;
            if (wh.size() == 2) {
                out.displayWidth = wh[0].toInt(&ok);
                out.displayHeight = wh[1].toInt(&okH);
            }
            if (wh.size() != 2 || !ok || !okH || out.displayWidth < 320 || out.displayHeight < 200
                || out.displayWidth > 7680 || out.displayHeight > 4320) {
                error = a + " takes WxH from 320x200 to 7680x4320";
                return false;
            }
        } else if (a == "--method") {
            if (!takeValue(args, i, v, error))
                return false;
            if (v != "auto" && v != "manual") {
                error = "--method takes auto or manual";
                return false;
            }
            out.method = v;
        } else if (a == "--touch-error") {
            if (!takeValue(args, i, v, error))
                return false;
            out.touchError = v.toDouble(&ok);
            if (!ok || out.touchError < 0 || out.touchError > 100) {
                error = "--touch-error takes pixels from 0 to 100";
                return false;
            }
        } else if (a == "--lens") {
            if (!takeValue(args, i, v, error))
                return false;
            out.lens = v.toInt(&ok);
            if (!ok || out.lens < 1 || out.lens > 3) {
                error = "--lens takes 1, 2 or 3";
                return false;
            }
        } else if (a == "--dot-diag") {
            if (!takeValue(args, i, v, error))
                return false;
            if (v != "0" && v != "1") {
                error = a + " takes 0 or 1";
                return false;
            }
            out.dotDiag = v == "1";
        } else if (a == "--pen") {
            if (!takeValue(args, i, v, error))
                return false;
            out.pen = v.toInt(&ok);
            if (!ok || out.pen < 0 || out.pen > 9) {
                error = "--pen takes a pen type from 0 to 9";
                return false;
            }
        } else if (a == "--ceiling" || a == "--rear") {
            if (!takeValue(args, i, v, error))
                return false;
            if (v != "0" && v != "1") {
                error = a + " takes 0 or 1";
                return false;
            }
            (a == "--ceiling" ? out.ceiling : out.rear) = v == "1";
        } else if (a == "--noise") {
            if (!takeValue(args, i, v, error))
                return false;
            out.noise = v.toDouble(&ok);
            if (!ok || out.noise < 0.0 || out.noise > 20.0) {
                error = "--noise takes a scale from 0 to 20";
                return false;
            }
        } else if (a == "--save-images") {
            if (!takeValue(args, i, v, error))
                return false;
            out.saveImages = v;
        } else if (a == "--find-speed") {
            if (!takeValue(args, i, v, error))
                return false;
            out.findSpeed = v.toDouble(&ok);
            if (!ok || out.findSpeed < 0.001 || out.findSpeed > 1000.0) {
                error = "--find-speed takes a factor from 0.001 to 1000";
                return false;
            }
        } else if (rest) {
            rest->append(a);
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    return true;
}
