#include "platform/SessionBusHandle.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

SessionBusHandle::SessionBusHandle(QString service, QString path, QString interface,
                                   QString releaseMethod, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service))
    , m_path(std::move(path))
    , m_interface(std::move(interface))
    , m_releaseMethod(std::move(releaseMethod))
{}

SessionBusHandle::~SessionBusHandle()
{
    release();
}

void SessionBusHandle::request(const QString &method, const QVariantList &arguments)
{
    release();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_path, m_interface, method);
    call.setArguments(arguments);
    const quint64 generation = m_generation;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        const QDBusPendingReply<quint32> reply = *watcher;
        if (reply.isError())
            return;
        if (generation != m_generation) {
            giveBack(reply.value());
            return;
        }
        m_handle = reply.value();
        Q_EMIT acquired();
    });
}

void SessionBusHandle::release()
{
    ++m_generation;
    if (!m_handle)
        return;
    const quint32 handle = *m_handle;
    m_handle.reset();
    giveBack(handle);
}

void SessionBusHandle::giveBack(quint32 handle) const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_service, m_path, m_interface, m_releaseMethod);
    call << handle;
    bus.asyncCall(call);
}
