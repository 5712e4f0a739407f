#include "ui/main/IncomingCallNotification.h"

#include "platform/SessionBusHandle.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

QString desktopEntry()
{
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QStringLiteral("orvale") : name;
}

} // namespace

IncomingCallNotification::IncomingCallNotification(QObject *parent)
    : QObject(parent)
    , m_note(std::make_unique<SessionBusHandle>(service, path, interface,
                                                QStringLiteral("CloseNotification")))
{
    connect(m_note.get(), &SessionBusHandle::acquired, this, [this] { Q_EMIT shown(); });
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Naming the service makes QtDBus accept these signals only from its current owner.
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
}

IncomingCallNotification::~IncomingCallNotification()
{
    withdraw();
}

void IncomingCallNotification::show(const QString &caller, const QString &message)
{
    const QString application = QGuiApplication::applicationDisplayName().isEmpty()
                                    ? QStringLiteral("Orvale")
                                    : QGuiApplication::applicationDisplayName();
    const QStringList actions{acceptAction(), tr("接听"), declineAction(), tr("拒绝")};
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(criticalUrgency)},
        {QStringLiteral("category"), QStringLiteral("call.incoming")},
        {QStringLiteral("desktop-entry"), desktopEntry()},
    };
    // Summary, body and actions are markup-free text; a timeout of 0 keeps it until acted on.
    m_note->request(QStringLiteral("Notify"), {application, quint32(0), desktopEntry(), caller,
                                               message, actions, hints, qint32(0)});
}

std::optional<quint32> IncomingCallNotification::notificationId() const
{
    return m_note->handle();
}

void IncomingCallNotification::withdraw()
{
    m_note->release();
}

void IncomingCallNotification::onActionInvoked(quint32 id, const QString &action)
{
    if (m_note->handle() != id)
        return;
    if (action == acceptAction())
        Q_EMIT accepted();
    else if (action == declineAction())
        Q_EMIT declined();
}

void IncomingCallNotification::onNotificationClosed(quint32 id, quint32 reason)
{
    Q_UNUSED(reason)
    // Dismissed on the desktop: the call alert in the window still waits for an answer.
    if (m_note->handle() == id)
        m_note->forget();
}
