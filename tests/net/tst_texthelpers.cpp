#include "net/JsonCleaner.h"
#include "net/StringHelper.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

class TestTextHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void base64_data();
    void base64();
    void deBase64Rejects_data();
    void deBase64Rejects();
    void localString();
    void xmlEscaped_data();
    void xmlEscaped();
    void jsonCleaning_data();
    void jsonCleaning();
};

void TestTextHelpers::base64_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("one pad") << "demo:demo1234"
                             << "ZGVtbzpkZW1vMTIzNA==";
    QTest::newRow("no pad") << "abc"
                            << "YWJj";
    QTest::newRow("utf-8") << QString::fromUtf8("王") << "546L";
    QTest::newRow("plus and slash") << QString::fromUtf8("\u00fb\u00ff") << "w7vDvw==";
    QTest::newRow("long without line breaks")
        << QString(100, u'a') << QString::fromLatin1(QByteArray(100, 'a').toBase64());
}

void TestTextHelpers::base64()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(StringHelper::base64(text), encoded);
    QVERIFY(!StringHelper::base64(text).contains(u'\n'));
    QCOMPARE(StringHelper::deBase64(encoded), text);
    QVERIFY(!StringHelper::deBase64(encoded).isNull());
}

void TestTextHelpers::deBase64Rejects_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("bad character") << "ab$d";
    QTest::newRow("missing padding") << "YWJjZA";
    QTest::newRow("url alphabet") << "w7vDv_==";
    QTest::newRow("not utf-8") << QString::fromLatin1(QByteArray("\xff\xfe").toBase64());
    QTest::newRow("wide characters") << QString::fromUtf8("王王王王");
    QTest::newRow("padding inside") << "YQ==YWJj";
}

void TestTextHelpers::deBase64Rejects()
{
    QFETCH(QString, input);
    QVERIFY(StringHelper::deBase64(input).isNull());
}

void TestTextHelpers::localString()
{
    QCOMPARE(StringHelper::localString(QStringLiteral("联系人")), QStringLiteral("联系人"));
}

void TestTextHelpers::xmlEscaped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("markup") << "<a href=\"x\">&'</a>"
                            << "&lt;a href=&quot;x&quot;&gt;&amp;&apos;&lt;/a&gt;";
    QTest::newRow("chinese") << QString::fromUtf8("会议室") << QString::fromUtf8("会议室");
    QTest::newRow("control characters dropped") << QString::fromUtf8("a\x01"
                                                                     "b\tc")
                                                << "ab\tc";
    QTest::newRow("closing a tag early") << "</name><pwd>x"
                                         << "&lt;/name&gt;&lt;pwd&gt;x";
}

void TestTextHelpers::xmlEscaped()
{
    QFETCH(QString, text);
    QTEST(StringHelper::xmlEscaped(text), "escaped");
}

void TestTextHelpers::jsonCleaning_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("CR LF inside a string becomes a line feed")
        << QByteArray("{\"liveRemark\": \"one\r\ntwo\"}")
        << QVariant(QVariantMap{{QStringLiteral("liveRemark"), QStringLiteral("one\ntwo")}});
    QTest::newRow("CR LF between tokens is whitespace")
        << QByteArray("{\r\n  \"a\": 1\r\n}") << QVariant(QVariantMap{{QStringLiteral("a"), 1}});
    QTest::newRow("CR LF between tokens and inside a string")
        << QByteArray("[\r\n\"x\r\ny\",\r\n\t\"z\"\r\n]")
        << QVariant(QVariantList{QStringLiteral("x\ny"), QStringLiteral("z")});
    QTest::newRow("escaped quote keeps the string open")
        << QByteArray("{\"a\": \"q\\\" \r\n\"}")
        << QVariant(QVariantMap{{QStringLiteral("a"), QStringLiteral("q\" \n")}});
    QTest::newRow("escaped backslash closes the string")
        << QByteArray("{\"a\": \"q\\\\\",\r\n\"b\": 2}")
        << QVariant(
               QVariantMap{{QStringLiteral("a"), QStringLiteral("q\\")}, {QStringLiteral("b"), 2}});
    QTest::newRow("lone line feed and tab are removed")
        << QByteArray("{\"a\":\n\t\"x\ty\nz\"}")
        << QVariant(QVariantMap{{QStringLiteral("a"), QStringLiteral("xyz")}});
    QTest::newRow("format characters are removed") << QByteArray("\xef\xbb\xbf[\"a\xe2\x80\x8b"
                                                                 "b\"]")
                                                   << QVariant(QVariantList{QStringLiteral("ab")});
    QTest::newRow("non-BMP text kept")
        << QByteArray("[\"\xf0\x9f\x98\x80\"]")
        << QVariant(QVariantList{QString::fromUtf8("\xf0\x9f\x98\x80")});
    QTest::newRow("object with msg")
        << QByteArray(R"({"msg":"暂无直播"})")
        << QVariant(QVariantMap{{QStringLiteral("msg"), QString::fromUtf8("暂无直播")}});
    QTest::newRow("not json") << QByteArray("<html>") << QVariant();
    QTest::newRow("empty") << QByteArray() << QVariant();
}

void TestTextHelpers::jsonCleaning()
{
    QFETCH(QByteArray, body);
    QFETCH(QVariant, expected);
    const QVariant decoded = JsonCleaner::decode(body);
    QCOMPARE(decoded.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(decoded, expected);
}

QTEST_GUILESS_MAIN(TestTextHelpers)
#include "tst_texthelpers.moc"
