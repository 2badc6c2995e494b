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
} // namespace

QString DemoOptions::usage()
{
    return "usage: tesselink-demo [--modules 0..3] [--calibrated 0|1] [--scenario connect|transfer|track]\n"
           "                      [--loss FRACTION] [--seed N] [--speed FACTOR] [--window] [--verbose]\n"
           "                      [--dialogs] [--hold SECONDS]\n";
}

bool DemoOptions::parse(const QStringList &args, DemoOptions &out, QString &error)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        QString v;
        bool ok = true;
        if (a == "--window") {
            out.window = true;
        } else if (a == "--verbose") {
            out.verbose = true;
        } else if (a == "--dialogs") {
            out.dialogs = true;
        } else if (a == "--hold") {
            if (!takeValue(args, i, v, error))
                return false;
            out.hold = v.toInt(&ok);
            if (!ok || out.hold < 0 || out.hold > 3600) {
                error = "--hold takes 0 to 3600 seconds";
                return false;
            }
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
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    return true;
}
