#include "tests/support/TrayHostStandIn.h"

bool TrayHostStandIn::serve(const QDBusConnection &bus)
{
    m_bus = bus;
    return m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                QDBusConnection::ExportAllSlots |
                                    QDBusConnection::ExportAllProperties) &&
           m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

QStringList TrayHostStandIn::items() const
{
    return m_items;
}

void TrayHostStandIn::RegisterStatusNotifierItem(const QString &service)
{
    m_items.append(service);
    ++m_registrations;
}
