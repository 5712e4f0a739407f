#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <atomic>

/// A desktop's tray as a StatusNotifier host would offer it: `org.kde.StatusNotifierWatcher`,
/// noting which items register. Serve it from a thread of its own when the program under test
/// asks it from the application's thread.
class TrayHostStandIn final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    /// Takes the watcher's name on `bus`; false when it is taken already.
    bool serve(const QDBusConnection &bus);

    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const;
    /// How many items registered so far; any thread.
    int registrations() const { return m_registrations; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service);
    void RegisterStatusNotifierHost(const QString &) {}

private:
    QDBusConnection m_bus{QString()};
    QStringList m_items;
    std::atomic<int> m_registrations{0};
};
