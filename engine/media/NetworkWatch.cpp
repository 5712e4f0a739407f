#include "engine/media/NetworkWatch.h"

#include <QCoreApplication>

NetworkWatch *NetworkWatch::instance()
{
    // Never deleted: the module that holds its code may be gone before the application ends.
    static NetworkWatch *const watch = [] {
        auto *w = new NetworkWatch;
        if (QCoreApplication *app = QCoreApplication::instance()) {
            w->moveToThread(app->thread());
            // Queued, never waited for: the main thread may be waiting for this one.
            QMetaObject::invokeMethod(w, &NetworkWatch::follow, Qt::QueuedConnection);
        }
        return w;
    }();
    return watch;
}

void NetworkWatch::follow()
{
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        qInfo("media: no network information; retries keep their own pace");
        return;
    }
    QNetworkInformation *information = QNetworkInformation::instance();
    m_reachability = information->reachability();
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability now) {
                const auto before = std::exchange(m_reachability, now);
                if (cameBack(before, now)) {
                    qInfo("media: the network is back");
                    Q_EMIT returned();
                }
            });
}

bool NetworkWatch::cameBack(QNetworkInformation::Reachability before,
                            QNetworkInformation::Reachability now)
{
    using R = QNetworkInformation::Reachability;
    // Unknown says nothing of a loss; every other level reaches further than the one before it.
    return before != R::Unknown && int(now) > int(before);
}
