#include "settings/ConfigFileRW.h"

#include "settings/BrandProfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>

namespace {

const char *kGroupDevice = "Device";
const char *kGroupConfiguration = "Configuration";

bool validSlot(int slot)
{
    return slot == 0 || slot == 1;
}

// Values are stored as decimal text; text that is not a number (or does not fit)
// reads as 0, never as an error.
int readInt(const QSettings &s, const char *key)
{
    bool ok = false;
    const int v = s.value(key).toString().trimmed().toInt(&ok);
    return ok ? v : 0;
}

QString dec(int v)
{
    return QString::asprintf("%d", v);
}

// Opens one file for one load or save; destroying the handle writes it out.
std::unique_ptr<QSettings> openIni(const QString &path)
{
    auto s = std::make_unique<QSettings>(path, QSettings::IniFormat);
    s->setIniCodec("UTF-8");
    return s;
}

void ensureFolder()
{
    QDir().mkpath(ConfigFileRW::settingsFolder());
}

// A file of the machine-wide folder is an administrator's: it may be missing,
// unreadable or hold values out of range, and none of that may stop the driver.
// Opens it for reading, or says why not and gives null.
std::unique_ptr<QSettings> openReadable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return nullptr;
    QFile probe(path);
    if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
        qDebug().noquote() << "ConfigFileRW: cannot read" << path << "- its settings are not used";
        return nullptr;
    }
    probe.close();
    // Lines that are not settings are skipped; the keys around them still count.
    return openIni(path);
}

// Applies `key` to `field` when it is present. From a machine-wide file the
// value must be a number within lo..hi; anything else is said and left out, so
// the field keeps what it had (its default).
bool readChecked(const QSettings &s, const QString &path, bool machineWide, const char *key, int lo, int hi,
                 int &field)
{
    if (!s.contains(key))
        return false;
    if (!machineWide) {
        field = readInt(s, key);
        return true;
    }
    const QString text = s.value(key).toString().trimmed();
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < lo || v > hi) {
        qDebug().noquote() << QString("ConfigFileRW: %1: %2=%3 is not a value of %4..%5 - the default stays")
                                  .arg(path, QString::fromLatin1(key), text)
                                  .arg(lo)
                                  .arg(hi);
        return false;
    }
    field = v;
    return true;
}

bool readCheckedBool(const QSettings &s, const QString &path, bool machineWide, const char *key, bool &field)
{
    int v = field ? 1 : 0;
    if (!readChecked(s, path, machineWide, key, 0, 1, v))
        return false;
    field = v != 0;
    return true;
}

} // namespace

ConfigFileRW::ConfigFileRW(const QList<QRect> &displays)
{
    m_nDeviceCount = 0;
    m_bStartProgram = false;
    m_nLanguageId = 0;
    m_nPenSelect = 0;
    m_nPenTouchMode = 0;
    m_nDisplays = displays.size();
    loadConfig();
    m_nLensSelect = 2;
    m_bCheckCeiling = true;
    m_bCheckRear = false;
    m_nMonitor = 0;
    for (int i = 0; i < displays.size(); ++i)
        if (displays[i].left() == 0 && displays[i].top() == 0) {
            m_nMonitor = i;
            break;
        }
    m_pDevices = new DeviceRecord[2];
    std::memset(m_savedSerial, 0, sizeof m_savedSerial);
}

ConfigFileRW::~ConfigFileRW()
{
    delete[] m_pDevices;
}

QString ConfigFileRW::settingsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QString::fromUtf8(tl::kBrand.settingsFolder);
}

QStringList ConfigFileRW::machineWideFolders()
{
    // The user's folder comes first in the list; the rest are XDG_CONFIG_DIRS
    // (by default /etc/xdg), most important first.
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    const QString own = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    folders.removeAll(own);
    for (QString &f : folders)
        f += QString::fromUtf8(tl::kBrand.settingsFolder);
    return folders;
}

QStringList ConfigFileRW::layeredPaths(const QString &fileName, const QString &ownPath)
{
    // Least important first, so that each later file overrides the ones before
    // it key by key, and the user's own file last of all.
    QStringList paths;
    const QStringList folders = machineWideFolders();
    for (auto it = folders.crbegin(); it != folders.crend(); ++it)
        paths << *it + "/" + fileName;
    paths << ownPath;
    return paths;
}

QString ConfigFileRW::configFilePath()
{
    return settingsFolder() + "/config.ini";
}

QString ConfigFileRW::paramFilePath()
{
    return settingsFolder() + "/param.ini";
}

int ConfigFileRW::displayMode() const
{
    if (m_nDeviceCount == 1)
        return 1;
    if (m_nDeviceCount == 2)
        return 2;
    return 0;
}

void ConfigFileRW::loadConfig()
{
    // Preferences an administrator set for every user of the machine, then the
    // user's own on top: a key the user's file holds wins.
    const QString own = configFilePath();
    for (const QString &path : layeredPaths("config.ini", own))
        applyConfig(path, path != own);
}

void ConfigFileRW::applyConfig(const QString &path, bool machineWide)
{
    auto s = openReadable(path);
    if (!s)
        return;
    // [Device] Count is not applied: the count always starts at 0 and only
    // module discovery raises it.
    s->beginGroup(kGroupConfiguration);
    readCheckedBool(*s, path, machineWide, "Start_Program", m_bStartProgram);
    readChecked(*s, path, machineWide, "LanguageID", 0, kLanguageCount, m_nLanguageId);
    readChecked(*s, path, machineWide, "PenSelect", 0, 1, m_nPenSelect);
    readChecked(*s, path, machineWide, "Pen_Touch_Mode", 0, 1, m_nPenTouchMode);
    s->endGroup();
}

void ConfigFileRW::loadParam()
{
    // The installation an administrator described for the machine (lens,
    // mounting, monitor, paired serials), then the user's own file on top.
    const QString own = paramFilePath();
    for (const QString &path : layeredPaths("param.ini", own))
        applyParam(path, path != own);
}

void ConfigFileRW::applyParam(const QString &path, bool machineWide)
{
    auto s = openReadable(path);
    if (!s)
        return;
    s->beginGroup(kGroupConfiguration);
    readChecked(*s, path, machineWide, "LensSelect", 0, 3, m_nLensSelect);
    readCheckedBool(*s, path, machineWide, "CheckCeiling", m_bCheckCeiling);
    readCheckedBool(*s, path, machineWide, "CheckRear", m_bCheckRear);
    readChecked(*s, path, machineWide, "Monitor", 0, m_nDisplays > 0 ? m_nDisplays - 1 : INT_MAX, m_nMonitor);
    for (int n = 1; n <= 2; ++n) {
        const QString key = QString::asprintf("SerialNumber%d", n);
        if (!s->contains(key))
            continue;
        const QByteArray local = s->value(key).toString().toLocal8Bit();
        copySerial(m_savedSerial[n - 1], local.constData(), local.size());
    }
    s->endGroup();
}

void ConfigFileRW::saveDeviceCount()
{
    ensureFolder();
    auto s = openIni(configFilePath());
    s->beginGroup(kGroupDevice);
    s->setValue("Count", dec(m_nDeviceCount));
    s->endGroup();
}

void ConfigFileRW::saveConfig()
{
    ensureFolder();
    auto s = openIni(configFilePath());
    s->beginGroup(kGroupConfiguration);
    s->setValue("Start_Program", dec(m_bStartProgram ? 1 : 0));
    s->setValue("LanguageID", dec(m_nLanguageId));
    s->setValue("PenSelect", dec(m_nPenSelect));
    s->endGroup();
}

void ConfigFileRW::savePenTouchMode()
{
    ensureFolder();
    auto s = openIni(configFilePath());
    s->beginGroup(kGroupConfiguration);
    s->setValue("Pen_Touch_Mode", dec(m_nPenTouchMode));
    s->endGroup();
}

void ConfigFileRW::saveParamAll(int mode)
{
    if (mode == 2) {
        for (int i = 0; i < 2; ++i) {
            copySerial(m_savedSerial[i], m_pDevices[i].serial, 16);
            qDebug() << "ConfigFileRW::saveParamAll():" << i << m_savedSerial[i];
        }
    }
    ensureFolder();
    auto s = openIni(paramFilePath());
    s->beginGroup(kGroupConfiguration);
    s->setValue("LensSelect", dec(m_nLensSelect));
    s->setValue("CheckCeiling", dec(m_bCheckCeiling ? 1 : 0));
    s->setValue("CheckRear", dec(m_bCheckRear ? 1 : 0));
    s->setValue("Monitor", dec(m_nMonitor));
    if (mode == 2) {
        for (int n = 1; n <= 2; ++n)
            s->setValue(QString::asprintf("SerialNumber%d", n),
                        QString::asprintf("%s", m_savedSerial[n - 1]));
    }
    s->endGroup();
}

bool ConfigFileRW::checkDeviceSwap()
{
    const char *live0 = m_pDevices[0].serial;
    const char *live1 = m_pDevices[1].serial;
    const char *saved0 = m_savedSerial[0];
    const char *saved1 = m_savedSerial[1];
    qDebug().noquote() << QString::asprintf("checkDeviceSwap: \"%s\" \"%s\" | \"%s\" \"%s\"",
                                            live0, live1, saved0, saved1);
    const bool swap = std::strcmp(live0, saved0) != 0 && std::strcmp(live0, saved1) == 0
        && std::strcmp(live1, saved1) != 0 && std::strcmp(live1, saved0) == 0;
    if (!swap) {
        qDebug() << "no swap";
        return false;
    }
    swapDevices();
    qDebug() << "swap device";
    return true;
}

void ConfigFileRW::swapDevices()
{
    std::swap(m_pDevices[0], m_pDevices[1]);
}

QString ConfigFileRW::getSavedSerial(int slot) const
{
    return validSlot(slot) ? QString::fromLocal8Bit(m_savedSerial[slot]) : QString();
}

uint8_t ConfigFileRW::getDeviceActive(int slot) const
{
    return validSlot(slot) ? m_pDevices[slot].active : 0;
}

void ConfigFileRW::setDeviceActive(int slot, uint8_t active)
{
    if (validSlot(slot))
        m_pDevices[slot].active = active;
}

QString ConfigFileRW::getDeviceFwVersion(int slot) const
{
    return validSlot(slot) ? m_pDevices[slot].fwVersion : QString();
}

void ConfigFileRW::setDeviceFwVersion(int slot, const QString &version)
{
    if (validSlot(slot))
        m_pDevices[slot].fwVersion = version;
}

QString ConfigFileRW::getDeviceSerial(int slot) const
{
    return validSlot(slot) ? QString::fromLocal8Bit(m_pDevices[slot].serial) : QString();
}

void ConfigFileRW::setDeviceSerial(int slot, const char *serial16)
{
    if (validSlot(slot) && serial16)
        copySerial(m_pDevices[slot].serial, serial16, 16);
}

void ConfigFileRW::copySerial(char dst[16], const char *src, int srcMax)
{
    // At most 15 characters and a terminator; the rest is zero so that records
    // compare by text and never carry stale bytes.
    std::memset(dst, 0, 16);
    for (int i = 0; i < 15 && i < srcMax && src[i] != '\0'; ++i)
        dst[i] = src[i];
}
