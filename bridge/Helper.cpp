#include "bridge/Helper.h"

#include "model/AppUser.h"
#include "model/ValueConversion.h"
#include "net/StringHelper.h"

#include <QCoreApplication>
#include <QRandomGenerator>

namespace {

QVariantMap error(const QString &text)
{
    return {{QStringLiteral("error"), text}};
}

QVariantMap result(const QString &key, const QString &portal, const QString &pin)
{
    return {{QStringLiteral("key"), key},
            {QStringLiteral("portal"), portal},
            {QStringLiteral("pin"), pin}};
}

/// What follows the last `name` in `piece`, when the piece begins with it.
bool takeParameter(const QString &piece, const QString &name, QString *value)
{
    if (!piece.startsWith(name))
        return false;
    *value = piece.mid(piece.lastIndexOf(name) + name.size());
    return true;
}

} // namespace

QString Helper::errorNotOurs()
{
    return QCoreApplication::translate("Helper", "抱歉!只能识别本系统二维码.");
}

QString Helper::errorExpired()
{
    return QCoreApplication::translate("Helper", "此二维码已经过期了,无法入会");
}

QString Helper::roomKeyOf(const QString &roomUrl)
{
    return roomUrl.mid(roomUrl.lastIndexOf(u'=') + 1);
}

QString Helper::getPeriodTime(const QDateTime &now, int periodHours)
{
    // The product wraps like the 32-bit arithmetic it stands for.
    const int32_t seconds = static_cast<int32_t>(static_cast<uint32_t>(periodHours) * 3600u);
    const double expiry = now.toSecsSinceEpoch() + double(now.time().msec()) / 1000.0 + seconds;
    const qint64 milliseconds = static_cast<qint64>(expiry * 1000.0);
    const int digits = QRandomGenerator::global()->bounded(10, 100);
    return StringHelper::base64(QString::number(milliseconds)) + QString::number(digits);
}

QString Helper::getPeriodTime()
{
    const auto user = AppUser::defaultUser();
    return getPeriodTime(QDateTime::currentDateTimeUtc(),
                         static_cast<int>(ValueConversion::integerValue(user->period)));
}

QString Helper::getLinkStr()
{
    const auto user = AppUser::defaultUser();
    return QStringLiteral("%1/pages/Kwuser/l.do?key=%2&portal=%3&pin=%4&period=%5")
        .arg(user->user_portal, StringHelper::base64(roomKeyOf(user->roomURL)),
             StringHelper::base64(user->httpPortal), StringHelper::base64(user->roomPin),
             getPeriodTime());
}

QVariantMap Helper::analyzingURLStr(const QString &link)
{
    return analyzingURLStr(link, QDateTime::currentDateTimeUtc());
}

QVariantMap Helper::analyzingURLStr(const QString &link, const QDateTime &now)
{
    if (link.isEmpty() || link.contains(QLatin1String("&s=1")))
        return error(errorNotOurs());
    const QStringList pieces = link.split(u'?').last().split(u'&');
    QString key, portal, pin, period;
    for (const QString &piece : pieces) {
        takeParameter(piece, QStringLiteral("key="), &key) ||
            takeParameter(piece, QStringLiteral("portal="), &portal) ||
            takeParameter(piece, QStringLiteral("pin="), &pin) ||
            takeParameter(piece, QStringLiteral("period="), &period);
    }
    if (period.size() < 2)
        return result(key, portal, pin); // links without a stamp carry plain text
    const QString plainKey = StringHelper::deBase64(key);
    const QString plainPortal = StringHelper::deBase64(portal);
    const QString plainPin = StringHelper::deBase64(pin);
    if (plainKey.isNull() || plainPortal.isNull() || plainPin.isNull())
        return error(errorNotOurs());
    const QString stamp = StringHelper::deBase64(period.chopped(2));
    const qint64 expiry = stamp.isNull() ? 0 : ValueConversion::leadingInteger(stamp);
    if (expiry <= now.toMSecsSinceEpoch())
        return error(errorExpired());
    return result(plainKey, plainPortal, plainPin);
}

bool Helper::isCommandString(const QString &message, const QString &uri)
{
    const QStringList parts = message.split(u'#');
    if (parts.size() < 3 || parts[1] != u"TRQCOMMAND" || parts[2].isEmpty())
        return false;
    return uri.contains(parts[2]);
}

QStringList Helper::getCommandType(const QString &message)
{
    return message.split(u'#').last().split(u'&');
}

QString Helper::commandString(const QString &senderMark, const QString &payload)
{
    return QStringLiteral("#TRQCOMMAND#%1#%2").arg(senderMark, payload);
}
