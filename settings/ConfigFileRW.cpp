#include "settings/ConfigFileRW.h"

#include "settings/BrandProfile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
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

} // namespace

ConfigFileRW::ConfigFileRW(const QList<QRect> &displays)
{
    m_nDeviceCount = 0;
    m_bStartProgram = false;
    m_nLanguageId = 0;
    m_nPenSelect = 0;
    m_nPenTouchMode = 0;
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
    const QString path = configFilePath();
    if (!QFileInfo::exists(path))
        return;
    auto s = openIni(path);
    // [Device] Count is not applied: the count always starts at 0 and only
    // module discovery raises it.
    s->beginGroup(kGroupConfiguration);
    if (s->contains("Start_Program"))
        m_bStartProgram = readInt(*s, "Start_Program") != 0;
    if (s->contains("LanguageID"))
        m_nLanguageId = readInt(*s, "LanguageID");
    if (s->contains("PenSelect"))
        m_nPenSelect = readInt(*s, "PenSelect");
    if (s->contains("Pen_Touch_Mode"))
        m_nPenTouchMode = readInt(*s, "Pen_Touch_Mode");
    s->endGroup();
}

void ConfigFileRW::loadParam()
{
    const QString path = paramFilePath();
    if (!QFileInfo::exists(path))
        return;
    auto s = openIni(path);
    s->beginGroup(kGroupConfiguration);
    if (s->contains("LensSelect"))
        m_nLensSelect = readInt(*s, "LensSelect");
    if (s->contains("CheckCeiling"))
        m_bCheckCeiling = readInt(*s, "CheckCeiling") != 0;
    if (s->contains("CheckRear"))
        m_bCheckRear = readInt(*s, "CheckRear") != 0;
    if (s->contains("Monitor"))
        m_nMonitor = readInt(*s, "Monitor");
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
