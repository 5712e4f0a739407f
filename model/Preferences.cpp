#include "model/Preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto groupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                              QFileDevice::WriteOther | QFileDevice::ExeOther;

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

/// The store holds the user's server and names: readable by the owner only. QSettings saves
/// through QSaveFile, which gives the new file the permissions of the one it replaces, so a
/// private file present before the first save keeps every later one private.
void keepPrivate(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        if (QFile::permissions(path) & groupOrOther)
            QFile::setPermissions(path, ownerOnly);
        return;
    }
    QDir().mkpath(info.absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly))
        file.close();
}

/// Host names are not case-sensitive, and the address field may carry stray blanks.
QString serverKey(const QString &address)
{
    return address.trimmed().toLower();
}

} // namespace

Preferences::Preferences()
    : m_settings(QStringLiteral("Orvale"), QStringLiteral("orvale"))
{
    keepPrivate(m_settings.fileName());
}

int Preferences::flag(const char *name, int fallback) const
{
    bool ok = false;
    const int value = m_settings.value(key(name), fallback).toInt(&ok);
    return ok ? value : fallback;
}

void Preferences::setFlag(const char *name, int value)
{
    m_settings.setValue(key(name), value);
}

QString Preferences::userIp() const
{
    return m_settings.value(key("User_Ip"), QString()).toString();
}

void Preferences::setUserIp(const QString &address)
{
    m_settings.setValue(key("User_Ip"), address);
}

QString Preferences::userName() const
{
    return m_settings.value(key("User_Name"), QString()).toString();
}

void Preferences::setUserName(const QString &name)
{
    m_settings.setValue(key("User_Name"), name);
}

QString Preferences::passWord() const
{
    return m_settings.value(key("PassWord"), QString()).toString();
}

void Preferences::setPassWord(const QString &password)
{
    m_settings.setValue(key("PassWord"), password);
}

void Preferences::removePassWord()
{
    m_settings.remove(key("PassWord"));
}

int Preferences::remberPassword() const
{
    return flag("remberPassword", 0);
}
void Preferences::setRemberPassword(int on)
{
    setFlag("remberPassword", on);
}
int Preferences::autoLogin() const
{
    return flag("autoLogin", 0);
}
void Preferences::setAutoLogin(int on)
{
    setFlag("autoLogin", on);
}
int Preferences::enableEchoCancellation() const
{
    return flag("enableEchoCancellation", 1);
}
void Preferences::setEnableEchoCancellation(int on)
{
    setFlag("enableEchoCancellation", on);
}
int Preferences::enableAudioAGC() const
{
    return flag("enableAudioAGC", 1);
}
void Preferences::setEnableAudioAGC(int on)
{
    setFlag("enableAudioAGC", on);
}
int Preferences::searchOutsideRoom() const
{
    return flag("searchOutsideRoom", 0);
}
void Preferences::setSearchOutsideRoom(int on)
{
    setFlag("searchOutsideRoom", on);
}
int Preferences::autoAnswer() const
{
    return flag("autoAnswer", 0);
}
void Preferences::setAutoAnswer(int on)
{
    setFlag("autoAnswer", on);
}
int Preferences::alwaysUseProxy() const
{
    return flag("AlwaysUseProxy", 0);
}
void Preferences::setAlwaysUseProxy(int on)
{
    setFlag("AlwaysUseProxy", on);
}
int Preferences::videoPreferences() const
{
    return flag("videoPreferences", 0);
}
void Preferences::setVideoPreferences(int value)
{
    setFlag("videoPreferences", value);
}

uint Preferences::selectedMicDeviceNumber() const
{
    return m_settings.value(key("SelectedMicDeviceNumber"), 0u).toUInt();
}

void Preferences::setSelectedMicDeviceNumber(uint row)
{
    m_settings.setValue(key("SelectedMicDeviceNumber"), row);
}

uint Preferences::selectedSpeakerDeviceNumber() const
{
    return m_settings.value(key("SelectedSpeakerDeviceNumber"), 0u).toUInt();
}

void Preferences::setSelectedSpeakerDeviceNumber(uint row)
{
    m_settings.setValue(key("SelectedSpeakerDeviceNumber"), row);
}

uint Preferences::selectedCameraDeviceNumber() const
{
    return m_settings.value(key("SelectedCameraDeviceNumber"), 0u).toUInt();
}

void Preferences::setSelectedCameraDeviceNumber(uint row)
{
    m_settings.setValue(key("SelectedCameraDeviceNumber"), row);
}

double Preferences::directLiveVolume() const
{
    bool ok = false;
    const double volume = m_settings.value(key("DirectLiveVolume")).toDouble(&ok);
    return ok ? qBound(0.0, volume, 1.0) : defaultDirectLiveVolume;
}

double Preferences::directLiveStartVolume() const
{
    const double volume = directLiveVolume();
    return volume > 0.0 ? volume : defaultDirectLiveVolume;
}

void Preferences::setDirectLiveVolume(double volume)
{
    m_settings.setValue(key("DirectLiveVolume"), qBound(0.0, volume, 1.0));
}

qint64 Preferences::systemTime() const
{
    return m_settings.value(key("systemTime"), 0).toLongLong();
}

void Preferences::setSystemTime(qint64 value)
{
    m_settings.setValue(key("systemTime"), value);
}

bool Preferences::signedInSecurely() const
{
    return m_settings.value(key("SignedInSecurely"), false).toBool();
}

void Preferences::setSignedInSecurely(bool secure)
{
    m_settings.setValue(key("SignedInSecurely"), secure);
}

bool Preferences::reachedSecurely(const QString &address) const
{
    const QString server = serverKey(address);
    if (server.isEmpty())
        return false;
    if (signedInSecurely() && server == serverKey(userIp()))
        return true;
    return m_settings.value(key("SecureServers")).toStringList().contains(server);
}

void Preferences::rememberReachedSecurely(const QString &address)
{
    const QString server = serverKey(address);
    QStringList servers = m_settings.value(key("SecureServers")).toStringList();
    if (server.isEmpty() || servers.contains(server))
        return;
    servers.append(server);
    m_settings.setValue(key("SecureServers"), servers);
}

QString Preferences::webServiceBase(const QString &host) const
{
    if (reachedSecurely(host))
        return QStringLiteral("https://%1:9090").arg(host);
    return QStringLiteral("http://%1:8080").arg(host);
}

QString Preferences::liveServiceUrl() const
{
    const QString fallback = userIp().isEmpty() ? QString() : webServiceBase(userIp());
    return m_settings.value(key("Deployment/liveServiceUrl"), fallback).toString();
}

void Preferences::setLiveServiceUrl(const QString &url)
{
    m_settings.setValue(key("Deployment/liveServiceUrl"), url);
}

QString Preferences::updateHost() const
{
    return m_settings.value(key("Deployment/updateHost"), userIp()).toString();
}

void Preferences::setUpdateHost(const QString &host)
{
    m_settings.setValue(key("Deployment/updateHost"), host);
}

QString Preferences::companySite() const
{
    return m_settings.value(key("Deployment/companySite"), userIp()).toString();
}

void Preferences::setCompanySite(const QString &site)
{
    m_settings.setValue(key("Deployment/companySite"), site);
}

void Preferences::sync()
{
    m_settings.sync();
}
