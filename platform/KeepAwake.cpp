#include "KeepAwake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
const QString path = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString interface = QStringLiteral("org.freedesktop.ScreenSaver");

} // namespace

KeepAwake::KeepAwake(QObject *parent)
    : QObject(parent)
{}

KeepAwake::~KeepAwake()
{
    if (m_token)
        release(*m_token);
}

void KeepAwake::begin(const QString &reason)
{
    end();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Inhibit"));
    const QString application = QCoreApplication::applicationName().isEmpty()
                                    ? QStringLiteral("orvale")
                                    : QCoreApplication::applicationName();
    call << application << reason;
    const quint64 generation = ++m_generation;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        const QDBusPendingReply<quint32> reply = *watcher;
        if (reply.isError())
            return;
        if (generation != m_generation) {
            release(reply.value());
            return;
        }
        m_token = reply.value();
        Q_EMIT tokenChanged();
    });
}

void KeepAwake::end()
{
    ++m_generation;
    if (!m_token)
        return;
    const quint32 cookie = *m_token;
    m_token.reset();
    release(cookie);
    Q_EMIT tokenChanged();
}

void KeepAwake::release(quint32 cookie)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("UnInhibit"));
    call << cookie;
    bus.asyncCall(call);
}
