#pragma once

#include "platform/linux/TouchMapping.h"

#include <QDBusConnection>
#include <QObject>
#include <QVector>
#include <functional>

struct _XDisplay;
class QSocketNotifier;

namespace tl {

// X11: sets the device's Coordinate Transformation Matrix through XInput2 and
// keeps it: when the X server adds the device again (re-plug, re-enable, a
// driver reload) the matrix is set again. The device is found by its "Device
// Node" property, or by name for a device without one.
class X11MatrixPinner : public QObject, public OutputPinner
{
    Q_OBJECT
public:
    // `displayName` null: $DISPLAY.
    explicit X11MatrixPinner(const char *displayName = nullptr);
    ~X11MatrixPinner() override;

    QString name() const override { return QStringLiteral("X11 coordinate transformation matrix"); }
    PinResult pin(const PinRequest &request) override;

    // The matrix the server holds for a device (by node or name); empty when
    // the device or its property is missing.
    QVector<float> readMatrix(const QString &devnode, const QByteArray &name);
    // Sets a raw matrix of `count` values; false with the server's error.
    bool writeMatrix(int deviceId, const float *values, int count, QString *error);
    int findDevice(const QString &devnode, const QByteArray &name);

private:
    void onXEvents();
    PinResult apply(const PinRequest &request);
    // The RandR transform of the output that is `area`; false where one
    // device would span a turned output and another.
    bool outputTransform(const QRect &area, int *transform, QString *error);

    _XDisplay *m_display = nullptr;
    int m_xiOpcode = -1;
    QSocketNotifier *m_notifier = nullptr;
    QList<PinRequest> m_kept;
};

// GNOME (Wayland and Xorg): the `output` key of the device's GSettings path,
// naming the board's monitor as org.gnome.Mutter.DisplayConfig describes it,
// then read back through org.gnome.Mutter.InputMapping (mutter 43 and later):
// the monitor mutter itself maps the device to. A value mutter does not take
// (the connector as a fourth value, which mutter reads only from 46 on) is
// replaced by what it takes, and a mapping mutter does not confirm is a failure.
class GnomeOutputPinner : public OutputPinner
{
public:
    explicit GnomeOutputPinner(QDBusConnection bus = QDBusConnection::sessionBus());
    QString name() const override { return QStringLiteral("GNOME output key"); }
    PinResult pin(const PinRequest &request) override;

    // One monitor of GetCurrentState: connector, vendor, product, serial, and
    // the position and transform of its logical monitor.
    struct MutterMonitor
    {
        QString connector, vendor, product, serial;
        QPoint position;
        int transform = 0;
        bool placed = false;
    };
    // Reads the monitors; false (with the reason) on no service or a reply
    // that is not of the documented type.
    bool currentMonitors(QList<MutterMonitor> *out, QString *error);
    // The layout rectangle of the monitor mutter maps a device to; false with
    // mutter's reason (no such device, not mapped, no InputMapping service).
    bool deviceMapping(const QString &devnode, QRect *rect, QString *error);

private:
    bool writeKey(const PinRequest &request, const QList<QByteArray> &value, QString *error);
    // Polls the mapping until it is `expected` or the wait runs out.
    bool mappedTo(const QString &devnode, const QPoint &expected, QString *error);

    QDBusConnection m_bus;
};

// KDE Wayland: KWin's writable `outputName` of the device's D-Bus object, read
// back after the write. The output is first looked up among the outputs KWin
// reports (org.kde.KWin.supportInformation): KWin drops every touch of a device
// bound to an output it does not have. KWin reports no output's transform on
// the bus; it turns a touchscreen with a turned output, which this pinner
// cannot see (PinResult::transform stays 0).
class KWinOutputPinner : public OutputPinner
{
public:
    explicit KWinOutputPinner(QDBusConnection bus = QDBusConnection::sessionBus());
    QString name() const override { return QStringLiteral("KWin outputName"); }
    PinResult pin(const PinRequest &request) override;

    struct KWinOutput
    {
        QString name;
        QRect geometry;
        bool enabled = false;
    };
    // The outputs of KWin's support information; false with the reason.
    bool outputs(QList<KWinOutput> *out, QString *error);
    // The "Screens" part of the support information text.
    static QList<KWinOutput> parseOutputs(const QString &supportInformation);

private:
    QDBusConnection m_bus;
};

// sway: `input <identifier> map_to_output <name>` (one monitor) or
// `map_to_region x y w h` (a device over two) through the IPC socket. sway
// answers success to a command for an output or a device it does not have and
// cannot report a device's mapping back, so the output is checked against
// get_outputs (by name, else by its rectangle) and the device against
// get_inputs before the command goes out.
class SwayOutputPinner : public OutputPinner
{
public:
    // Empty path: $SWAYSOCK.
    explicit SwayOutputPinner(QString socketPath = QString());
    QString name() const override { return QStringLiteral("sway IPC"); }
    PinResult pin(const PinRequest &request) override;

    // The command for a request (outputs named as sway names them).
    static QByteArray command(const PinRequest &request);
    // Sends one RUN_COMMAND; the reply's JSON text, or false with the reason.
    bool runCommand(const QByteArray &command, QByteArray *reply, QString *error);
    // The same, judged by sway's answer: true only when sway says it succeeded
    // ([{"success": true}]); otherwise false with the reason (sway's refusal).
    bool runAccepted(const QByteArray &command, QString *error);
    // Any i3-ipc request: the reply's payload, or false with the reason.
    bool request(quint32 type, const QByteArray &payload, QByteArray *reply, QString *error);

    struct SwayOutput
    {
        QString name;
        QRect rect;
        int transform = 0;
        bool active = false;
    };
    bool outputs(QList<SwayOutput> *out, QString *error);

private:
    QString m_path;
};

} // namespace tl
