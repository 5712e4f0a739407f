#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class ServiceDatabase;

/// The deployment's tables, built by numbered migrations, the same on SQLite and PostgreSQL.
/// The version reached is kept in the `meta` table; each missing migration runs once, in a
/// write transaction of its own, so that every process opening the database (another
/// instance, an account command) either waits for it or finds it done. A database made before
/// versions were kept is adopted as version 1, its rows untouched.
class SchemaMigrations final
{
public:
    explicit SchemaMigrations(ServiceDatabase &db);

    /// The version this program brings databases to.
    static int latest();
    /// Every table of the deployment's, the migrations' own included.
    static QStringList tables();
    /// The PostgreSQL advisory lock a process holds while it migrates.
    static qint64 lockKey();

    /// Brings the database to `latest()`, dropping every table first when `reset`; false and
    /// why when a migration failed (its changes undone) or the database is newer than this
    /// program.
    bool apply(bool reset, QString *error);
    /// The version recorded in the database; 0 for one without tables.
    int version() const;

private:
    bool migrate(int to, QString *error);
    bool run(const QString &statement, QString *error);
    /// Databases made before versions were kept may lack columns added since.
    bool completeBaseline(QString *error);
    bool drop(QString *error);
    /// The statement with {int64} and {blob} in the driver's types.
    QString dialect(const char *statement) const;
    /// On PostgreSQL, holds off other processes' migrations until the object goes.
    bool lockOut(QString *error);
    void unlock();

    ServiceDatabase &m_db;
    bool m_locked = false;
};
