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
    bool engineer = false;      // open the engineer dialog of module 0, report where it is, close it
    int hold = 0;               // seconds to keep running before closing (to look at the windows)
    // The board's monitor (the Monitor setting, an index in the left-to-right
    // list of monitors) for a run with one module; -1 keeps the setting's default.
    int monitor = -1;
    // The monitor the emulated module's camera watches in a window session
    // (-1: the board's monitor). Another one stands for a projector cabled to
    // one output while the board is set to another.
    int cameraMonitor = -1;
    // In a window session, the camera photographs the driver's own painting of
    // the window on its display (as in a headless run) instead of the output:
    // for desktops whose outputs the demo cannot read (mutter, KWin).
    bool cameraWindow = false;

    // The pattern scenario: the emulated monitor, the module's lens and
    // mounting, the camera's noise (a scale of its default, 0 = none), where
    // to write the images, and the clock rate of the recognition's time
    // limits (1 = real time; below 1 gives them more wall time).
    int displayWidth = 1920;
    int displayHeight = 1080;
    int lens = 1;
    bool ceiling = false;
    bool rear = false;
    double noise = 1.0;
    QString saveImages;
    double findSpeed = 1.0;
    // Lists, for every dot, the contours near its true position at each
    // threshold level and which of the dot tests each one fails.
    bool dotDiag = false;
    // The pen the board is used with: the driver's pen-type setting and the
    // emulated pen whose light the modules see (0 normal, 1 plus; any other
    // type has no tweak table in the driver and glows on the screen plane).
    int pen = 0;

    // The calibrate scenario: how the user calibrates, and how far from each
    // target a person touches in manual calibration (window pixels, sigma).
    QString method = "auto";
    double touchError = 2.0;

    // Fills `out` from the arguments (args[0] is the program); false with
    // `error` set when they are wrong. With `rest`, an argument the demo does
    // not know is not an error but goes there (for the toolkit), in order.
    static bool parse(const QStringList &args, DemoOptions &out, QString &error, QStringList *rest = nullptr);
    static QString usage();
};
