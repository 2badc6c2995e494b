// The settings loader: the input is split at the first "\n@@\n" into the bytes
// of config.ini and of param.ini, which are loaded and then used the way the
// controller uses them (counts, serials, the swap check, saving).
#include "settings/ConfigFileRW.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstring>

namespace {
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
volatile size_t g_sink = 0;

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
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QDir().mkpath(ConfigFileRW::settingsFolder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const char *sep = static_cast<const char *>(memmem(bytes, size, "\n@@\n", 4));
    const size_t first = sep ? static_cast<size_t>(sep - bytes) : size;
    writeFile(ConfigFileRW::configFilePath(), bytes, first);
    if (sep)
        writeFile(ConfigFileRW::paramFilePath(), sep + 4, size - first - 4);
    else
        QFile::remove(ConfigFileRW::paramFilePath());

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
    return 0;
}
