#pragma once

#include <QString>
#include <QStringList>

// Command line of tesselink-demo. The demo runs the whole driver (main window,
// controller, device layer) on emulated modules.
struct DemoOptions
{
    int modules = 1;            // 0 .. 3 modules on the emulated bus
    bool calibrated = true;     // modules hold a stored calibration
    QString scenario = "connect";
    double loss = 0.0;          // fraction of image pieces the modules lose
    quint64 seed = 1;
    double speed = 10.0;        // time compression: every wait keeps its value, runs this much faster
    bool window = false;        // show windows on the desktop instead of running headless
    bool verbose = false;       // pass the driver's log through to stderr
    bool dialogs = false;       // walk the dialogs a user meets first and report which one is visible
    int hold = 0;               // seconds to keep running before closing (to look at the windows)

    // Fills `out` from the arguments; false with `error` set when they are wrong.
    static bool parse(const QStringList &args, DemoOptions &out, QString &error);
    static QString usage();
};
