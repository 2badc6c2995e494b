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

    _XDisplay *m_display = nullptr;
    int m_xiOpcode = -1;
    QSocketNotifier *m_notifier = nullptr;
    QList<PinRequest> m_kept;
};

// GNOME (Wayland and Xorg): the `output` key of the device's GSettings path,
// naming the board's monitor as org.gnome.Mutter.DisplayConfig describes it.
class GnomeOutputPinner : public OutputPinner
{
public:
    explicit GnomeOutputPinner(QDBusConnection bus = QDBusConnection::sessionBus());
    QString name() const override { return QStringLiteral("GNOME output key"); }
    PinResult pin(const PinRequest &request) override;

    // One monitor of GetCurrentState: connector, vendor, product, serial, and
    // the position of its logical monitor.
    struct MutterMonitor
    {
        QString connector, vendor, product, serial;
        QPoint position;
        bool placed = false;
    };
    // Reads the monitors; false (with the reason) on no service or a reply
    // that is not of the documented type.
    bool currentMonitors(QList<MutterMonitor> *out, QString *error);

private:
    QDBusConnection m_bus;
};

// KDE Wayland: KWin's writable `outputName` of the device's D-Bus object.
class KWinOutputPinner : public OutputPinner
{
public:
    explicit KWinOutputPinner(QDBusConnection bus = QDBusConnection::sessionBus());
    QString name() const override { return QStringLiteral("KWin outputName"); }
    PinResult pin(const PinRequest &request) override;

private:
    QDBusConnection m_bus;
};

// sway: `input <identifier> map_to_output <name>` (one monitor) or
// `map_to_region x y w h` (a device over two) through the IPC socket.
class SwayOutputPinner : public OutputPinner
{
public:
    // Empty path: $SWAYSOCK.
    explicit SwayOutputPinner(QString socketPath = QString());
    QString name() const override { return QStringLiteral("sway IPC"); }
    PinResult pin(const PinRequest &request) override;

    // The command for a request.
    static QByteArray command(const PinRequest &request);
    // Sends one RUN_COMMAND; the reply's JSON text, or false with the reason.
    bool runCommand(const QByteArray &command, QByteArray *reply, QString *error);

private:
    QString m_path;
};

} // namespace tl
