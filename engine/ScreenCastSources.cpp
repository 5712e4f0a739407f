#include "engine/ScreenCastSources.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString sourceTypes = QStringLiteral("AvailableSourceTypes");

} // namespace

ScreenCastSources::ScreenCastSources(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_owner(new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForOwnerChange, this))
{
    if (!m_bus.isConnected())
        return;
    // A portal started, restarted or replaced may offer other sources; one that left offers none.
    connect(m_owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                if (owner.isEmpty()) {
                    ++m_question; // an answer still coming is the old portal's
                    take(0);
                } else {
                    ask();
                }
            });
    m_bus.connect(service, desktopPath, properties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    ask();
}

void ScreenCastSources::ask()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, desktopPath, properties, QStringLiteral("Get"));
    call << screenCast << sourceTypes;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, question = ++m_question] {
                watcher->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *watcher;
                if (question == m_question) // no portal, or none that casts: nothing offered
                    take(reply.isError() ? 0 : reply.value().variant().toUInt());
            });
}

void ScreenCastSources::onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                            const QStringList &invalidated)
{
    if (interface != screenCast)
        return;
    if (changed.contains(sourceTypes)) {
        ++m_question;
        take(changed.value(sourceTypes).toUInt());
    } else if (invalidated.contains(sourceTypes)) {
        ask();
    }
}

void ScreenCastSources::take(uint types)
{
    if (m_types.exchange(types) != types)
        emit changed(types);
}
