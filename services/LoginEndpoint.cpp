#include "services/LoginEndpoint.h"

#include "services/ServiceDatabase.h"
#include "services/ServicesConfig.h"
#include "services/SignInGate.h"
#include "services/SoapMessage.h"
#include "services/Throttle.h"

#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr qsizetype maxBody = 64 * 1024;

QString fromBase64(const QString &text)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? QString::fromUtf8(*decoded) : QString();
}

QHttpServerResponse xmlResponse(const QByteArray &body, QHttpServerResponse::StatusCode status)
{
    return QHttpServerResponse(QByteArrayLiteral("text/xml; charset=utf-8"), body, status);
}

QByteArray resultJson(const QJsonObject &record)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("result"), QJsonArray{record}}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

LoginEndpoint::LoginEndpoint(ServiceDatabase &db, const ServicesConfig &config)
    : m_db(db)
    , m_config(config)
{}

void LoginEndpoint::handle(const QHttpServerRequest &request, QObject *context,
                           const Reply &reply) const
{
    using Status = QHttpServerResponse::StatusCode;
    if (request.body().size() > maxBody)
        return reply(xmlResponse(SoapMessage::portalFault(QStringLiteral("Request too large")),
                                 Status::PayloadTooLarge),
                     0);
    const SoapMessage::Request soap = SoapMessage::parse(request.body());
    if (!soap.ok || soap.operation != u"loginJson")
        return reply(xmlResponse(SoapMessage::portalFault(
                                     soap.ok ? QStringLiteral("Unknown operation") : soap.error),
                                 Status::InternalServerError),
                     0);

    const QString user = fromBase64(soap.fields.value(QStringLiteral("name")));
    const QString password = fromBase64(soap.fields.value(QStringLiteral("pwd")));
    const auto answered = [this, reply](const SignInGate::Verdict &verdict) {
        reply(answer(verdict.account), verdict.holdMs);
    };
    if (!m_signIns)
        return answered({m_db.authenticate(user, password), 0});
    m_signIns->check(Throttle::clientAddress(request.remoteAddress(),
                                             request.value(QByteArrayLiteral("X-Forwarded-For")),
                                             m_config.behindFront()),
                     user, password, context, answered);
}

QHttpServerResponse LoginEndpoint::answer(const std::optional<Account> &account) const
{
    const QByteArray json =
        account ? userRecord(*account)
                : resultJson({{QStringLiteral("msgType"), 2},
                              {QStringLiteral("msg"), QStringLiteral("用户名或密码错误")}});
    return xmlResponse(
        SoapMessage::soap11Reply(QStringLiteral("loginJsonResponse"),
                                 QStringLiteral("<ns:return>%1</ns:return>")
                                     .arg(SoapMessage::escaped(QString::fromUtf8(json)))),
        QHttpServerResponse::StatusCode::Ok);
}

QByteArray LoginEndpoint::userRecord(const Account &account) const
{
    const QString web = m_config.loginBase();
    return resultJson({
        {QStringLiteral("msgType"), 1},
        {QStringLiteral("msg"), QStringLiteral("登录成功")},
        {QStringLiteral("agrees"), m_config.behindFront() ? 1 : 0}, // the portal is https
        {QStringLiteral("portal"), m_config.portalAuthority()},
        {QStringLiteral("coId"), account.coId},
        {QStringLiteral("isshare"), 1},
        {QStringLiteral("period"), account.period},
        {QStringLiteral("play"), account.play},
        {QStringLiteral("address"), QString(web + QStringLiteral("/pages/video/intro.html"))},
        {QStringLiteral("entityType"), 1},
        {QStringLiteral("upgradeContent"),
         QStringLiteral("发现新版本&Orvale 有新版本可以升级。\\n是否现在升级?")},
        {QStringLiteral("userRole"), account.userRole},
        {QStringLiteral("roleUrl"), QString(web + QStringLiteral("/admin/"))},
        {QStringLiteral("slienceSpeaker"), 0},
        {QStringLiteral("version"), account.version},
    });
}
