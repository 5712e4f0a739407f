#include "services/RelaySettings.h"

#include <QFile>
#include <QHash>
#include <QUrl>

namespace {

bool validApi(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == u"http" || url.scheme() == u"https");
}

/// The "name = value" lines of a secrets file.
QHash<QString, QString> readSecrets(QFile &file)
{
    QHash<QString, QString> values;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype equals = line.indexOf(u'=');
        if (line.startsWith(u'#') || equals < 0)
            continue;
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        values.insert(line.left(equals).trimmed(), value);
    }
    return values;
}

} // namespace

bool RelaySettings::fromEntry(const QString &entry, RelaySettings *settings, QString *why)
{
    const QStringList parts = entry.split(u',');
    if (parts.size() != 3 || !validApi(parts[0]) || !validApi(parts[1])) {
        *why = QStringLiteral("a relay is <public-url>,<api-url>,<secrets-file>, not ") + entry;
        return false;
    }
    QFile file(parts[2]);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read the relay's secrets file ") + parts[2];
        return false;
    }
    const QHash<QString, QString> secrets = readSecrets(file);
    settings->publicUrl = parts[0];
    settings->apiUrl = parts[1];
    settings->apiSecret = secrets.value(QStringLiteral("api_secret"));
    settings->adminKey = secrets.value(QStringLiteral("admin_key"));
    settings->tokenSecret = secrets.value(QStringLiteral("token_auth_secret"));
    if (settings->adminKey.isEmpty() || settings->tokenSecret.isEmpty()) {
        *why = QStringLiteral("the relay's secrets file %1 needs admin_key and token_auth_secret")
                   .arg(parts[2]);
        return false;
    }
    return true;
}
