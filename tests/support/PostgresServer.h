#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

/// Debian's PostgreSQL 15, a child process of the test: a cluster made by initdb in a
/// temporary folder, listening on a Unix socket in that folder and on a free port of a
/// loopback address. Over the socket the superuser `orvale` signs in without a password; over
/// TCP `orvale` must give its password (passwordFile()). PostgreSQL refuses to run as root:
/// run by root, the server runs as the `postgres` user. It stops when the object goes, and
/// when the test dies.
class PostgresServer final
{
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    /// What is missing on this machine to run it, or nothing.
    static QString unavailable();
    /// A command put in front of the server's programs, such as a network lab host's launcher
    /// (which must exec them, as `ip netns exec` does). Before start().
    void setLauncher(const QStringList &launcher) { m_launcher = launcher; }
    /// Makes the cluster and starts the server on `address`; true once it takes connections.
    bool start(QString *error, const QString &address = QStringLiteral("127.0.0.1"));
    /// Adds an empty database; false (and why) when it could not.
    bool createDatabase(const QString &name, QString *error);

    QString socketDir() const { return m_dir.path(); }
    QString address() const { return m_address; }
    quint16 port() const { return m_port; }
    QString userName() const { return QStringLiteral("orvale"); }
    /// A file holding `userName()`'s password.
    QString passwordFile() const;
    /// The deployment's --database URL for a database, over the Unix socket (no password).
    QString socketUrl(const QString &database) const;
    /// And over TCP, with the password from passwordFile().
    QString tcpUrl(const QString &database) const;

private:
    bool run(const QString &program, const QStringList &arguments, QString *error);
    /// Starts one of PostgreSQL's programs: under root, as the server's user, which owns the
    /// folder.
    void start(QProcess &process, const QString &program, const QStringList &arguments) const;
    bool writePassword(QString *error) const;

    QTemporaryDir m_dir;
    QStringList m_launcher;
    QProcess m_process;
    QString m_address;
    quint16 m_port = 0;
    uint m_uid = 0; ///< the server's user, when the test runs as root
    uint m_gid = 0;
};
