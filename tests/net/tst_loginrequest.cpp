#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "net/StringHelper.h"
#include "net/XMLReader.h"

#include <QTest>

class TestLoginRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addresses();
    void envelope();
    void envelopeEscapesValues();
    void reply_data();
    void reply();
};

void TestLoginRequest::addresses()
{
    using A = LoginRequest::Attempt;
    const QString plain = LoginRequest::baseAddress(A::Plain, QStringLiteral("10.0.0.1"));
    const QString secure = LoginRequest::baseAddress(A::Secure, QStringLiteral("10.0.0.1"));
    QCOMPARE(plain, QStringLiteral("http://10.0.0.1:8080"));
    QCOMPARE(secure, QStringLiteral("https://10.0.0.1:9090"));
    QCOMPARE(LoginRequest::requestAddress(A::Plain, plain),
             QStringLiteral("http://10.0.0.1:8080/webservice/UserService?"));
    QCOMPARE(LoginRequest::requestAddress(A::Secure, secure),
             QStringLiteral("https://10.0.0.1:9090/webservice/UserService/loginJson?"));
    QCOMPARE(LoginRequest::authorization(QStringLiteral("demo"), QStringLiteral("demo1234")),
             QStringLiteral("Basic ZGVtbzpkZW1vMTIzNA=="));
}

void TestLoginRequest::envelope()
{
    const QString xml =
        LoginRequest::envelope(QStringLiteral("Linux|WiFi"), QStringLiteral("demo"),
                               QStringLiteral("demo1234"), QStringLiteral("127.0.0.1"));
    const QString blanks(26, u' ');
    QVERIFY(xml.startsWith(
        QStringLiteral("<soapenv:Envelope "
                       "xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:q0=\"")));
    QVERIFY(xml.contains(QStringLiteral("xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"")));
    QVERIFY(
        xml.contains(QStringLiteral("xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">") +
                     blanks + QStringLiteral("<soapenv:Body><q0:loginJson>") + blanks +
                     QStringLiteral("<account>Linux|WiFi</account>") + blanks +
                     QStringLiteral("<name>ZGVtbw==</name>") + blanks +
                     QStringLiteral("<pwd>ZGVtbzEyMzQ=</pwd>") + blanks +
                     QStringLiteral("<url>MTI3LjAuMC4x</url>") + blanks +
                     QStringLiteral("</q0:loginJson></soapenv:Body>") + blanks +
                     QStringLiteral("</soapenv:Envelope>")));
    QVERIFY(xml.endsWith(QStringLiteral("</soapenv:Envelope>")));
    QVERIFY(!xml.startsWith(QStringLiteral("<?xml")));

    QString error;
    const auto root =
        XMLReader::rootDictionaryForXMLData(xml.toUtf8(), XMLReader::ProcessNamespaces, &error);
    QVERIFY2(root, qPrintable(error));
    const QVariantMap call = root->value("Envelope").toMap()["Body"].toMap()["loginJson"].toMap();
    QCOMPARE(StringHelper::deBase64(call["name"].toString()), QStringLiteral("demo"));
}

void TestLoginRequest::envelopeEscapesValues()
{
    const QString xml =
        LoginRequest::envelope(QStringLiteral("</account><name>evil</name><x>&"),
                               QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("s"));
    QString error;
    const auto root =
        XMLReader::rootDictionaryForXMLData(xml.toUtf8(), XMLReader::ProcessNamespaces, &error);
    QVERIFY2(root, qPrintable(error));
    const QVariantMap call = root->value("Envelope").toMap()["Body"].toMap()["loginJson"].toMap();
    QCOMPARE(call["account"].toString(), QStringLiteral("</account><name>evil</name><x>&"));
    QCOMPARE(call["name"].toString(), StringHelper::base64(QStringLiteral("u")));
}

void TestLoginRequest::reply_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("portal");

    using O = LoginReply::Outcome;
    QTest::newRow("refused") << R"({"result":[{"msgType":2,"msg":"用户名或密码错误"}]})"
                             << int(O::Refused) << "用户名或密码错误" << QString();
    QTest::newRow("refused as text")
        << R"({"result":[{"msgType":"2","msg":"m"}]})" << int(O::Refused) << "m" << QString();
    QTest::newRow("plain portal")
        << R"({"result":[{"msgType":1,"agrees":0,"portal":"127.0.0.1:8081"}]})" << int(O::Accepted)
        << QString() << "http://127.0.0.1:8081";
    QTest::newRow("secure portal") << R"({"result":[{"msgType":1,"agrees":1,"portal":"p:443"}]})"
                                   << int(O::Accepted) << QString() << "https://p:443";
    QTest::newRow("agrees 2 is secure too") << R"({"result":[{"agrees":"2","portal":"p"}]})"
                                            << int(O::Accepted) << QString() << "https://p";
    QTest::newRow("empty result") << R"({"result":[]})" << int(O::NoResult) << QString()
                                  << QString();
    QTest::newRow("missing result")
        << R"({"msg":"x"})" << int(O::NoResult) << QString() << QString();
    QTest::newRow("result not a list")
        << R"({"result":"x"})" << int(O::NoResult) << QString() << QString();
    QTest::newRow("not json") << "<html>" << int(O::NoResult) << QString() << QString();
}

void TestLoginRequest::reply()
{
    QFETCH(QString, json);
    const LoginReply reply =
        LoginRequest::decodeReply(QVariantMap{{QStringLiteral("return"), json}});
    QTEST(int(reply.outcome), "outcome");
    QTEST(reply.message, "message");
    QTEST(reply.portalAddress, "portal");
    QCOMPARE(int(LoginRequest::decodeReply(QVariant()).outcome),
             int(LoginReply::Outcome::NoResult));
    QCOMPARE(int(LoginRequest::decodeReply(QStringLiteral("text")).outcome),
             int(LoginReply::Outcome::NoResult));
}

QTEST_GUILESS_MAIN(TestLoginRequest)
#include "tst_loginrequest.moc"
