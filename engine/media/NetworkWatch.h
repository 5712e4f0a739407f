#pragma once

#include <QNetworkInformation>
#include <QObject>

/// Says when the machine's network comes back, from the system's network information
/// (QNetworkInformation). Where no backend can say, it says nothing, and the engine's retries
/// keep to their own pace. One for the process, on the application's main thread, where the
/// backend lives as long as the application; it is connected to from any thread.
class NetworkWatch final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkWatch)

public:
    static NetworkWatch *instance();

    /// Whether going from `before` to `now` is the network coming back: it reaches further.
    static bool cameBack(QNetworkInformation::Reachability before,
                         QNetworkInformation::Reachability now);

Q_SIGNALS:
    /// The network reaches further than it did (back from disconnected, say).
    void returned();

private:
    NetworkWatch() = default;
    /// Loads the backend and follows its reachability. On the main thread.
    void follow();

    QNetworkInformation::Reachability m_reachability = QNetworkInformation::Reachability::Unknown;
};
