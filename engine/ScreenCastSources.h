#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <atomic>

class QDBusServiceWatcher;

/// What the desktop's screen-cast portal can cast (its `AvailableSourceTypes` bitmask), asked
/// without waiting for the answer: a portal that D-Bus first has to start can take seconds. Asked
/// once, and again when the portal says the property changed or another portal takes its name.
/// Lives on a thread with an event loop; `types` may be read from any thread.
class ScreenCastSources final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScreenCastSources)

public:
    explicit ScreenCastSources(const QDBusConnection &bus, QObject *parent = nullptr);

    /// The latest answer; 0 before the first one and while no portal is on the bus.
    uint types() const { return m_types; }

signals:
    void changed(uint types);

private slots:
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                             const QStringList &invalidated);

private:
    void ask();
    void take(uint types);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_owner;
    std::atomic<uint> m_types{0};
    quint64 m_question = 0; ///< the latest question: an answer to an older one is stale
};
