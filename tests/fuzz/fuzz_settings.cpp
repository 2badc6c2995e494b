// The settings loader: the input is split at the first "\n@@\n" into the bytes
// of config.ini and of param.ini, which are loaded and then used the way the
// controller uses them (counts, serials, the swap check, saving). The same
// bytes also stand as the machine-wide files, read through their range checks,
// which must come out of every load and save unchanged.
#include "settings/ConfigFileRW.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>

namespace {
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
volatile size_t g_sink = 0;
QString g_machineWide;

void writeFile(const QString &path, const char *data, size_t size)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data, static_cast<qint64>(size));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    static QTemporaryDir home;
    static QTemporaryDir machine;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", machine.path().toLocal8Bit());
    QDir().mkpath(ConfigFileRW::settingsFolder());
    g_machineWide = ConfigFileRW::machineWideFolders().value(0);
    QDir().mkpath(g_machineWide);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const char *sep = static_cast<const char *>(memmem(bytes, size, "\n@@\n", 4));
    const size_t first = sep ? static_cast<size_t>(sep - bytes) : size;
    writeFile(ConfigFileRW::configFilePath(), bytes, first);
    writeFile(g_machineWide + "/config.ini", bytes, first);
    if (sep) {
        writeFile(ConfigFileRW::paramFilePath(), sep + 4, size - first - 4);
        writeFile(g_machineWide + "/param.ini", sep + 4, size - first - 4);
    } else {
        QFile::remove(ConfigFileRW::paramFilePath());
        QFile::remove(g_machineWide + "/param.ini");
    }

    ConfigFileRW settings;
    settings.loadConfig();
    settings.loadParam();
    g_sink += static_cast<size_t>(settings.getNumOfCamDevice() + settings.displayMode() + settings.getLanguageId() +
                                  settings.getPenSelect() + settings.getPenTouchMode() + settings.getLensSelect() +
                                  settings.getMonitor());
    for (int slot = -1; slot <= 2; ++slot) {
        g_sink += settings.getSavedSerial(slot).size() + settings.getDeviceSerial(slot).size();
        g_sink += settings.getDeviceActive(slot);
    }
    settings.setDeviceSerial(0, "TESTSERIAL-0000");
    g_sink += settings.checkDeviceSwap();
    settings.saveConfig();
    settings.saveParamAll(1);
    settings.saveParamAll(2);

    QFile config(g_machineWide + "/config.ini");
    QFile param(g_machineWide + "/param.ini");
    if (!config.open(QIODevice::ReadOnly) || config.readAll() != QByteArray(bytes, static_cast<int>(first)))
        std::abort();
    if (sep ? !param.open(QIODevice::ReadOnly) || param.readAll() != QByteArray(sep + 4, static_cast<int>(size - first - 4))
            : param.exists())
        std::abort();
    return 0;
}
