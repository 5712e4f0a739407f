#include "services/DatabaseSettings.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace {

bool readOptions(const QUrlQuery &query, DatabaseSettings *settings, QString *why)
{
    // libpq's own keywords, such as sslmode or connect_timeout; the host may be a socket folder.
    static const QRegularExpression keyword(QStringLiteral("^[a-z_]+$"));
    QStringList options;
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == u"host") {
            settings->hostName = value;
        } else if (key == u"password") {
            *why = QStringLiteral("a database password is never taken from the command line: "
                                  "use --database-password-file");
            return false;
        } else if (!keyword.match(key).hasMatch() || value.contains(u';') || value.contains(u' ')) {
            *why = QStringLiteral("the --database option %1 is not one PostgreSQL takes").arg(key);
            return false;
        } else {
            options.append(key + u'=' + value);
        }
    }
    settings->connectOptions = options.join(u';');
    return true;
}

} // namespace

QString DatabaseSettings::describe() const
{
    if (!postgres())
        return sqlitePath;
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(userName);
    url.setHost(hostName.startsWith(u'/') ? QString() : hostName);
    url.setPort(port);
    url.setPath(u'/' + databaseName);
    if (hostName.startsWith(u'/'))
        url.setQuery(QStringLiteral("host=") + hostName);
    return url.toString();
}

DatabaseSettings DatabaseSettings::sqlite(const QString &path)
{
    DatabaseSettings settings;
    settings.sqlitePath = path;
    return settings;
}

bool DatabaseSettings::parse(const QString &text, const QString &sqlitePath,
                             DatabaseSettings *settings, QString *why)
{
    *settings = sqlite(sqlitePath);
    if (text.isEmpty() || text == u"sqlite")
        return true;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"postgresql" && url.scheme() != u"postgres")) {
        *why = QStringLiteral("--database takes postgresql://[user@][host][:port]/dbname"
                              "[?host=/socket/folder], or sqlite");
        return false;
    }
    // A password in the URL would show in every process listing.
    if (!url.password().isEmpty()) {
        *why = QStringLiteral("a database password is never taken from the command line: "
                              "use --database-password-file");
        return false;
    }
    settings->databaseName = url.path().mid(1);
    if (settings->databaseName.isEmpty() || settings->databaseName.contains(u'/')) {
        *why = QStringLiteral("the --database URL names no database: postgresql://…/dbname");
        return false;
    }
    settings->userName = url.userName();
    settings->hostName = url.host();
    settings->port = url.port(-1);
    return readOptions(QUrlQuery(url), settings, why);
}

bool DatabaseSettings::readPasswordFile(const QString &path, QString *why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read the --database-password-file ") + path;
        return false;
    }
    password = QString::fromUtf8(file.readLine()).remove(u'\n').remove(u'\r');
    return true;
}

bool DatabaseSettings::fromOptions(const QString &url, const QString &passwordFile,
                                   DatabaseSettings *settings, QString *why)
{
    if (!parse(url, {}, settings, why))
        return false;
    if (passwordFile.isEmpty())
        return true;
    if (!settings->postgres()) {
        *why = QStringLiteral("--database-password-file goes with a postgresql:// --database");
        return false;
    }
    return settings->readPasswordFile(passwordFile, why);
}
