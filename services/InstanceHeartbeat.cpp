#include "services/InstanceHeartbeat.h"

#include "services/ServiceDatabase.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

/// The database's clock in milliseconds: the same for every instance, whatever their own.
const QString now = QStringLiteral("CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)");

} // namespace

InstanceHeartbeat::InstanceHeartbeat(ServiceDatabase &db, const QString &instance, int intervalMs,
                                     int misses, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_instance(instance)
    , m_boundMs(intervalMs * misses)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &InstanceHeartbeat::beat);
}

InstanceHeartbeat::~InstanceHeartbeat()
{
    QSqlQuery q(m_db.connection());
    q.prepare(QStringLiteral("DELETE FROM instances WHERE id = ?"));
    q.addBindValue(m_instance);
    m_db.run(q);
}

void InstanceHeartbeat::start()
{
    beat();
    m_timer.start();
}

void InstanceHeartbeat::beat()
{
    QSqlQuery q(m_db.connection());
    q.prepare(QStringLiteral("UPDATE instances SET beat = %1 WHERE id = ?").arg(now));
    q.addBindValue(m_instance);
    const bool found = m_db.run(q) && q.numRowsAffected() == 1;
    if (!found) {
        q.prepare(QStringLiteral("INSERT INTO instances(id, beat) VALUES(?, %1)"
                                 " ON CONFLICT(id) DO UPDATE SET beat = excluded.beat")
                      .arg(now));
        q.addBindValue(m_instance);
        m_db.run(q);
    }
    // Taken for stopped (held up longer than the bound): the others ended its sessions.
    if (!found && m_beating) {
        qWarning("instances: the others took this instance for stopped; its sessions return");
        Q_EMIT resumed();
    }
    m_beating = true;
    // Only the instance whose statement removed a row ends that instance's sessions.
    QStringList gone;
    q.prepare(QStringLiteral("DELETE FROM instances WHERE id <> ? AND beat < %1 - ? RETURNING id")
                  .arg(now));
    q.addBindValue(m_instance);
    q.addBindValue(m_boundMs);
    if (m_db.run(q)) {
        while (q.next())
            gone.append(q.value(0).toString());
    }
    // Sessions left by an instance whose row went without them (it crashed while another
    // ended its sessions, or before its first beat was seen).
    q.prepare(QStringLiteral("SELECT DISTINCT instance FROM sessions WHERE instance NOT IN"
                             " (SELECT id FROM instances)"));
    if (m_db.run(q)) {
        while (q.next())
            if (!gone.contains(q.value(0).toString()))
                gone.append(q.value(0).toString());
    }
    for (const QString &instance : std::as_const(gone)) {
        qInfo("instances: %s stopped beating; ending its sessions", qPrintable(instance));
        Q_EMIT stopped(instance);
    }
}
