#include "net/LoginRequest.h"

#include "model/ValueConversion.h"
#include "net/NetWork.h"
#include "net/SoapNamespaces.h"
#include "net/StringHelper.h"

#include <QJsonDocument>
#include <QJsonObject>

QString LoginRequest::baseAddress(Attempt attempt, const QString &server)
{
    return attempt == Attempt::Plain ? QStringLiteral("http://%1:8080").arg(server)
                                     : QStringLiteral("https://%1:9090").arg(server);
}

QString LoginRequest::requestAddress(Attempt attempt, const QString &baseAddress)
{
    return attempt == Attempt::Plain
               ? baseAddress + QLatin1String("/webservice/UserService?")
               : baseAddress + QLatin1String("/webservice/UserService/loginJson?");
}

QString LoginRequest::envelope(const QString &account, const QString &userName,
                               const QString &password, const QString &server)
{
    const QString blanks(26, u' ');
    auto element = [&blanks](const char *name, const QString &value) -> QString {
        const QString tag = QString::fromLatin1(name);
        return blanks + u'<' + tag + u'>' + StringHelper::xmlEscaped(value) + QLatin1String("</") +
               tag + u'>';
    };
    return QLatin1String(R"(<soapenv:Envelope xmlns:soapenv=")") + SoapNamespaces::soap11Envelope +
           QLatin1String(R"(" xmlns:q0=")") + SoapNamespaces::loginService +
           QLatin1String(R"(" xmlns:xsd=")") + SoapNamespaces::xmlSchema +
           QLatin1String(R"(" xmlns:xsi=")") + SoapNamespaces::xmlSchemaInstance +
           QLatin1String(R"(">)") + blanks + QLatin1String("<soapenv:Body><q0:loginJson>") +
           element("account", account) + element("name", StringHelper::base64(userName)) +
           element("pwd", StringHelper::base64(password)) +
           element("url", StringHelper::base64(server)) + blanks +
           QLatin1String("</q0:loginJson></soapenv:Body>") + blanks +
           QLatin1String("</soapenv:Envelope>");
}

QString LoginRequest::authorization(const QString &userName, const QString &password)
{
    return QLatin1String("Basic ") + StringHelper::base64(userName + u':' + password);
}

NetWork *LoginRequest::create(Attempt attempt, const QString &server, const QString &account,
                              const QString &userName, const QString &password)
{
    NetWork *request = NetWork::initWithUrlString(
        requestAddress(attempt, baseAddress(attempt, server)),
        envelope(account, userName, password, server), QStringLiteral("loginJson"));
    request->setAuth(authorization(userName, password));
    return request;
}

LoginReply LoginRequest::decodeReply(const QVariant &response)
{
    LoginReply reply;
    const QString text = response.toMap().value(QStringLiteral("return")).toString();
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QVariantList result =
        document.object().toVariantMap().value(QStringLiteral("result")).toList();
    if (result.isEmpty() || result.first().typeId() != QMetaType::QVariantMap)
        return reply;
    reply.record = result.first().toMap();
    if (ValueConversion::integerValue(reply.record.value(QStringLiteral("msgType"))) == 2) {
        reply.outcome = LoginReply::Outcome::Refused;
        reply.message = reply.record.value(QStringLiteral("msg")).toString();
        return reply;
    }
    reply.outcome = LoginReply::Outcome::Accepted;
    const bool secure =
        ValueConversion::integerValue(reply.record.value(QStringLiteral("agrees"))) != 0;
    reply.portalAddress = (secure ? QStringLiteral("https://%1") : QStringLiteral("http://%1"))
                              .arg(reply.record.value(QStringLiteral("portal")).toString());
    return reply;
}
