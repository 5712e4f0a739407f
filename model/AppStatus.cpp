#include "model/AppStatus.h"

#include "model/KeepAwakeService.h"
#include "model/Log.h"
#include "model/ReachabilityService.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

AppStatus::AppStatus() = default;

AppStatus *AppStatus::shareStatus()
{
    static AppStatus *status = [] {
        auto *created = new AppStatus;
        if (auto *app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        return created;
    }();
    return status;
}

// The display stays awake while either video plays: joining a conference closes the live
// player, and that must not let the screen sleep during the call.
void AppStatus::setIsInConference(bool on)
{
    if (on && !m_isInConference)
        ++m_conferenceSerial;
    m_isInConference = on;
    shouldAlwaysKeepScreenLight(on || m_isDirectLive);
}

void AppStatus::setIsDirectLive(bool on)
{
    m_isDirectLive = on;
    shouldAlwaysKeepScreenLight(on || m_isInConference);
}

QString AppStatus::currentRometeUri() const
{
    QMutexLocker lock(&m_uriMutex);
    return m_currentRometeUri;
}

void AppStatus::setCurrentRometeUri(const QString &uri)
{
    QMutexLocker lock(&m_uriMutex);
    m_currentRometeUri = uri;
}

QString AppStatus::networkStatusString() const
{
    return m_networkStatusString;
}

void AppStatus::shouldAlwaysKeepScreenLight(bool on)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, on] { shouldAlwaysKeepScreenLight(on); });
        return;
    }
    if (!m_keepAwake)
        return;
    if (on)
        m_keepAwake->begin(QStringLiteral("play video"));
    else
        m_keepAwake->end();
}

bool AppStatus::hasActivity() const
{
    return m_keepAwake && m_keepAwake->isHeld();
}

void AppStatus::setKeepAwakeService(KeepAwakeService *service)
{
    m_keepAwake = service;
}

void AppStatus::setReachabilityService(ReachabilityService *service)
{
    m_reachability = service;
    m_watching = false;
}

void AppStatus::networkChange()
{
    if (m_watching || !m_reachability)
        return;
    m_watching = m_reachability->watch([this](qint64 status) { reachabilityChanged(status); });
}

QString AppStatus::textForNetworkStatus(qint64 status)
{
    switch (status) {
    case -1:
        return tr("未知");
    case 0:
        return tr("没有网络");
    case 1:
        return QStringLiteral("3G|4G");
    case 2:
        return QStringLiteral("WiFi");
    default:
        return {};
    }
}

void AppStatus::reachabilityChanged(qint64 status)
{
    m_networkStatus = status;
    const QString text = textForNetworkStatus(status);
    if (!text.isNull()) {
        m_networkStatusString = text;
        qCInfo(lcOrvale).noquote() << text;
    }
    Q_EMIT networkStatusChanged(status);
}

bool AppStatus::isChineseLanguage(const QString &uiLanguage)
{
    // The language subtag decides: "zh", "zh-CN", "zh-Hans-CN" and "zh-Hant-TW" alike.
    return uiLanguage.section(u'-', 0, 0).section(u'_', 0, 0).compare(u"zh", Qt::CaseInsensitive) ==
           0;
}
