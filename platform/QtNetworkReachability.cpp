#include "platform/QtNetworkReachability.h"

#include <QNetworkInformation>

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

QtNetworkReachability::QtNetworkReachability(QObject *parent)
    : QObject(parent)
{}

bool QtNetworkReachability::watch(Changed changed)
{
    // NetworkManager's backend needs the system bus; the glib one works without it.
    if (!QNetworkInformation::instance() && !QNetworkInformation::loadDefaultBackend() &&
        !QNetworkInformation::loadBackendByName(QStringLiteral("glib")))
        return false;
    m_changed = std::move(changed);
    QNetworkInformation *info = QNetworkInformation::instance();
    disconnect(info, nullptr, this, nullptr); // watching again replaces the earlier watch
    connect(info, &QNetworkInformation::reachabilityChanged, this, [this] { apply(); });
    connect(info, &QNetworkInformation::transportMediumChanged, this, [this] { apply(); });
    apply();
    return true;
}

void QtNetworkReachability::apply()
{
    if (auto *info = QNetworkInformation::instance(); info && m_changed)
        m_changed(statusFor(info));
}

extern "C" Q_DECL_EXPORT ReachabilityService *orvaleCreateReachability()
{
    return new QtNetworkReachability;
}
