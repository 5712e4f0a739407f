#include "net/VersionCheck.h"

#include "model/AppUser.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "model/ValueConversion.h"
#include "net/NetWork.h"
#include "net/ServerLink.h"

QString VersionCheck::versionAddress()
{
    const Preferences preferences;
    return preferences.webServiceBase(preferences.updateHost()) +
           QLatin1String("/quilber/webservice/UserService/getVersion");
}

NetWork *VersionCheck::versionRequest()
{
    return NetWork::initWithUrlString(
        versionAddress(), NetWork::Params{{QStringLiteral("clientType"), QStringLiteral("mac")}});
}

VersionCheck::Release VersionCheck::releaseFromReply(const QVariant &reply)
{
    Release release;
    const QVariant found = reply.toMap().value(QStringLiteral("return"));
    if (found.typeId() != QMetaType::QVariantMap)
        return release;
    const QVariantMap answer = found.toMap();
    release.answered = true;
    release.url = browsableUrl(answer.value(QStringLiteral("url")).toString());
    release.systemTime = ValueConversion::integerValue(answer.value(QStringLiteral("systemTime")));
    return release;
}

QUrl VersionCheck::browsableUrl(const QString &text)
{
    const QUrl url = ServerLink::browsable(text);
    if (!url.isEmpty())
        return url;
    qCWarning(lcOrvale).noquote() << QStringLiteral("下载地址无效 , %1").arg(text.left(200));
    return {};
}

VersionCheck::Prompt VersionCheck::promptText(const QString &upgradeContent)
{
    QString text = upgradeContent;
    text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    const QStringList pieces = text.split(u'&');
    return {pieces.first(), pieces.last()};
}

qint64 VersionCheck::userChannel()
{
    return ValueConversion::integerValue(AppUser::defaultUser()->version);
}
