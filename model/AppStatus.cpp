#include "AppStatus.h"

#include "KeepAwake.h"
#include "Log.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QNetworkInformation>
#include <QThread>

namespace {

qint64 statusFor(QNetworkInformation *info)
{
    switch (info->reachability()) {
    case QNetworkInformation::Reachability::Unknown:
        return -1;
    case QNetworkInformation::Reachability::Disconnected:
        return 0;
    default:
        break;
    }
    // A company server may well sit on the local network, so a local or site-only
    // connection counts as usable too.
    if (info->supports(QNetworkInformation::Feature::TransportMedium) &&
        info->transportMedium() == QNetworkInformation::TransportMedium::Cellular)
        return 1;
    return 2;
}

} // namespace

AppStatus::AppStatus() = default;

AppStatus *AppStatus::shareStatus()
{
    static AppStatus *status = [] {
        auto *created = new AppStatus;
        if (auto *app = QCoreApplication::instance()) {
            created->moveToThread(app->thread());
            created->m_keepAwake = new KeepAwake(created);
            created->m_keepAwake->moveToThread(app->thread());
        }
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
    if (!m_keepAwake)
        return;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, on] { shouldAlwaysKeepScreenLight(on); });
        return;
    }
    if (on)
        m_keepAwake->begin(QStringLiteral("play video"));
    else
        m_keepAwake->end();
}

bool AppStatus::hasActivity() const
{
    return m_keepAwake && m_keepAwake->token().has_value();
}

void AppStatus::networkChange()
{
    if (m_watching)
        return;
    // NetworkManager's backend needs the system bus; the glib one works without it.
    if (!QNetworkInformation::instance() && !QNetworkInformation::loadDefaultBackend() &&
        !QNetworkInformation::loadBackendByName(QStringLiteral("glib")))
        return;
    m_watching = true;
    QNetworkInformation *info = QNetworkInformation::instance();
    connect(info, &QNetworkInformation::reachabilityChanged, this, [this] { applyReachability(); });
    connect(info, &QNetworkInformation::transportMediumChanged, this,
            [this] { applyReachability(); });
    applyReachability();
}

void AppStatus::applyReachability()
{
    if (auto *info = QNetworkInformation::instance())
        reachabilityChanged(statusFor(info));
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
