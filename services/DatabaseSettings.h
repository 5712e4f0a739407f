#pragma once

#include <QString>

/// Where the deployment keeps its data: the SQLite file of the data folder (the default), or a
/// PostgreSQL database named by a URL of the form
/// postgresql://[user@][host][:port]/dbname[?host=/socket/folder&option=value...].
struct DatabaseSettings
{
    QString sqlitePath; ///< the SQLite file, when no PostgreSQL database is named
    QString hostName;   ///< a host name or address, or the folder of the server's Unix socket
    int port = -1;      ///< -1: PostgreSQL's default
    QString databaseName;
    QString userName;       ///< empty: the user the deployment runs as
    QString password;       ///< read from a file, never from the command line
    QString connectOptions; ///< further libpq options, "key=value;key=value"

    bool postgres() const { return !databaseName.isEmpty(); }
    /// What the logs and messages name: the file, or the URL without any password.
    QString describe() const;

    static DatabaseSettings sqlite(const QString &path);
    /// Reads `text` ("" or "sqlite": the data folder's SQLite file at `sqlitePath`); false and
    /// why when it is not a URL the deployment takes.
    static bool parse(const QString &text, const QString &sqlitePath, DatabaseSettings *settings,
                      QString *why);
    /// The first line of `path` as the password; false and why when it cannot be read.
    bool readPasswordFile(const QString &path, QString *why);
    /// The settings of the --database and --database-password-file options (either may be
    /// empty); false and why when they are not taken.
    static bool fromOptions(const QString &url, const QString &passwordFile,
                            DatabaseSettings *settings, QString *why);
};
