#include "services/InstanceBus.h"

#include "services/ServiceDatabase.h"

#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

const QString channel = QStringLiteral("orvale_instances");
const QString fromField = QStringLiteral("from");
const QString toField = QStringLiteral("to");
const QString echoField = QStringLiteral("echo");

} // namespace

InstanceBus::InstanceBus(ServiceDatabase &db, const QString &instance, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_instance(instance)
    , m_connection(QUuid::createUuid().toString())
{}

InstanceBus::~InstanceBus()
{
    if (m_listener.isValid()) {
        m_listener.driver()->disconnect(this);
        m_listener.close();
    }
    m_listener = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool InstanceBus::listen(QString *error, int checkMs)
{
    m_listener = QSqlDatabase::cloneDatabase(m_db.connection(), m_connection);
    if (!subscribe()) {
        *error =
            QStringLiteral("listening to the other instances: ") + m_listener.lastError().text();
        return false;
    }
    connect(&m_check, &QTimer::timeout, this, &InstanceBus::checkListener);
    m_check.start(checkMs);
    return true;
}

bool InstanceBus::subscribe()
{
    if (!m_listener.open() || !m_listener.driver()->subscribeToNotification(channel))
        return false;
    connect(m_listener.driver(), &QSqlDriver::notification, this, &InstanceBus::notified);
    return true;
}

void InstanceBus::checkListener()
{
    if (m_echoesDue >= 2) {
        qWarning("instances: the notifications stopped coming; listening again");
        m_listener.driver()->disconnect(this);
        m_listener.close();
        if (!subscribe()) {
            qWarning("instances: %s", qPrintable(m_listener.lastError().text()));
            return; // tried again at the next check
        }
        m_echoesDue = 0;
        Q_EMIT relistened();
    }
    ++m_echoesDue;
    publish({{toField, m_instance}, {echoField, true}});
}

void InstanceBus::publish(QJsonObject message)
{
    message.insert(fromField, m_instance);
    const QByteArray payload = QJsonDocument(message).toJson(QJsonDocument::Compact);
    if (payload.size() > maxPayload) {
        qWarning("instances: a message of %lld bytes is too long to send",
                 qlonglong(payload.size()));
        return;
    }
    QSqlQuery fresh(m_db.connection());
    QSqlQuery &q = m_db.prepared(fresh, QStringLiteral("SELECT pg_notify(?, ?)"));
    q.addBindValue(channel);
    q.addBindValue(QString::fromUtf8(payload));
    m_db.run(q);
}

void InstanceBus::notified(const QString &name, QSqlDriver::NotificationSource,
                           const QVariant &payload)
{
    if (name != channel)
        return;
    const QJsonObject message = QJsonDocument::fromJson(payload.toString().toUtf8()).object();
    const QString to = message.value(toField).toString();
    if (message.value(echoField).toBool() && to == m_instance) {
        m_echoesDue = 0;
        return;
    }
    // Every listener hears every notification, this instance's own included.
    if (message.value(fromField).toString() == m_instance || (!to.isEmpty() && to != m_instance))
        return;
    Q_EMIT received(message);
}
