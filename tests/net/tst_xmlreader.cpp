#include "net/XMLReader.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<QVariantMap>)

class TestXMLReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void conversion_data();
    void conversion();
    void namespaces();
    void soapEnvelopes_data();
    void soapEnvelopes();
    void soapFault();
    void broken_data();
    void broken();
    void entitiesNeverExpand_data();
    void entitiesNeverExpand();
    void directoryReply();
    void limits_data();
    void limits();
    void overfullTagRefusedBeforeParsing();
};

static QVariantMap root(const QByteArray &xml, int options = XMLReader::ProcessNamespaces)
{
    QString error;
    const auto result = XMLReader::rootDictionaryForXMLData(xml, options, &error);
    if (!result)
        qWarning("unexpected parse error: %s", qPrintable(error));
    return result.value_or(QVariantMap());
}

static QByteArray nested(int depth)
{
    return QByteArray("<e>").repeated(depth) + QByteArray("</e>").repeated(depth);
}

static QByteArray withAttributes(int count, const QByteArray &quote = "\"")
{
    QByteArray xml = "<e";
    for (int i = 0; i < count; ++i)
        xml += " a" + QByteArray::number(i) + "=" + quote + quote;
    return xml + "/>";
}

static QVariantMap map(std::initializer_list<std::pair<QString, QVariant>> items)
{
    QVariantMap m;
    for (const auto &[k, v] : items)
        m.insert(k, v);
    return m;
}

void TestXMLReader::conversion_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QVariantMap>("expected");

    const QString x = QStringLiteral("x"), y = QStringLiteral("y");
    QTest::newRow("text leaf") << QByteArray("<a>1</a>") << map({{"a", "1"}});
    QTest::newRow("repeated text elements keep the last")
        << QByteArray("<a><b>x</b><b>y</b></a>") << map({{"a", map({{"b", y}})}});
    QTest::newRow("repeated containers become a list")
        << QByteArray("<a><c><b>x</b></c><c><b>y</b></c></a>")
        << map({{"a", map({{"c", QVariantList{map({{"b", x}}), map({{"b", y}})}}})}});
    QTest::newRow("three in a list")
        << QByteArray("<a><c><b>1</b></c><c><b>2</b></c><c><b>3</b></c></a>")
        << map({{"a", map({{"c", QVariantList{map({{"b", "1"}}), map({{"b", "2"}}),
                                              map({{"b", "3"}})}}})}});
    QTest::newRow("empty element") << QByteArray("<a/>") << map({{"a", QVariantMap()}});
    QTest::newRow("empty element with attribute")
        << QByteArray(R"(<a k="v"></a>)") << map({{"a", map({{"k", "v"}})}});
    QTest::newRow("attributes beside children")
        << QByteArray(R"(<a k="v"><b>x</b></a>)") << map({{"a", map({{"k", "v"}, {"b", x}})}});
    QTest::newRow("text loses attributes") << QByteArray(R"(<a k="v">t</a>)") << map({{"a", "t"}});
    QTest::newRow("blanks around text")
        << QByteArray("<a>  hello \n\t</a>") << map({{"a", "hello"}});
    QTest::newRow("text in front of a child goes to the child")
        << QByteArray("<a>pre<b>x</b></a>") << map({{"a", map({{"b", "prex"}})}});
    QTest::newRow("indentation never makes text")
        << QByteArray("<a>\n  <b>\n    <c>x</c>\n  </b>\n  <d/>\n</a>\n")
        << map({{"a", map({{"b", map({{"c", x}})}, {"d", QVariantMap()}})}});
    QTest::newRow("entities and CDATA are text")
        << QByteArray("<a>&lt;b&gt; &amp; <![CDATA[<raw>]]>&#x4E2D;</a>")
        << map({{"a", QString::fromUtf8("<b> & <raw>\u4E2D")}});
    QTest::newRow("chinese text") << QByteArray("<a>王小明</a>")
                                  << map({{"a", QString::fromUtf8("王小明")}});
    QTest::newRow("text then a container of the same name")
        << QByteArray("<a><b>x</b><b><c>1</c></b></a>")
        << map({{"a", map({{"b", QVariantList{x, map({{"c", "1"}})}}})}});
}

void TestXMLReader::conversion()
{
    QFETCH(QByteArray, xml);
    QFETCH(QVariantMap, expected);
    QCOMPARE(root(xml), expected);
}

void TestXMLReader::namespaces()
{
    const QByteArray xml = R"(<p:a xmlns:p="urn:p" xmlns="urn:d" q="1"><p:b>x</p:b><c/></p:a>)";
    QCOMPARE(root(xml), map({{"a", map({{"q", "1"}, {"b", "x"}, {"c", QVariantMap()}})}}));

    QString error;
    const auto plain = XMLReader::dictionaryForXMLData(xml, &error);
    QVERIFY(plain);
    const QVariantMap a = plain->value(QStringLiteral("p:a")).toMap();
    QCOMPARE(a.value(QStringLiteral("p:b")).toString(), QStringLiteral("x"));
    QCOMPARE(a.value(QStringLiteral("xmlns:p")).toString(), QStringLiteral("urn:p"));
    QCOMPARE(a.value(QStringLiteral("xmlns")).toString(), QStringLiteral("urn:d"));

    QCOMPARE(root(xml, XMLReader::ProcessNamespaces | XMLReader::ReportNamespacePrefixes),
             root(xml));
}

void TestXMLReader::soapEnvelopes_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("responseName");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("SOAP 1.1") << QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<soapenv:Envelope xmlns:soapenv="http://schemas.xmlsoap.org/soap/envelope/">
  <soapenv:Body>
    <ns:loginJsonResponse xmlns:ns="urn:login"><return>{"result":[]}</return></ns:loginJsonResponse>
  </soapenv:Body>
</soapenv:Envelope>)") << "loginJsonResponse"
                              << QVariant(map({{"return", R"({"result":[]})"}}));
    QTest::newRow("SOAP 1.2")
        << QByteArray(
               R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope" xmlns:ns1="urn:u"><env:Body><ns1:MuteAudioResponse><ns1:OK>OK</ns1:OK></ns1:MuteAudioResponse></env:Body></env:Envelope>)")
        << "MuteAudioResponse" << QVariant(map({{"OK", "OK"}}));
    QTest::newRow("response holding only text")
        << QByteArray(R"(<e:Envelope xmlns:e="urn:e"><e:Body><r>done</r></e:Body></e:Envelope>)")
        << "r" << QVariant(QStringLiteral("done"));
    QTest::newRow("other response element")
        << QByteArray(R"(<e:Envelope xmlns:e="urn:e"><e:Body><r>done</r></e:Body></e:Envelope>)")
        << "SearchResponse" << QVariant();
    QTest::newRow("no body") << QByteArray(
                                    R"(<e:Envelope xmlns:e="urn:e"><e:Header/></e:Envelope>)")
                             << "r" << QVariant();
    QTest::newRow("no envelope") << QByteArray("<Body><r>1</r></Body>") << "r" << QVariant();
    QTest::newRow("body as text")
        << QByteArray(R"(<e:Envelope xmlns:e="urn:e"><e:Body>text</e:Body></e:Envelope>)") << "r"
        << QVariant();
}

void TestXMLReader::soapEnvelopes()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, responseName);
    QFETCH(QVariant, expected);
    QString error;
    const QVariant result =
        XMLReader::dictionaryForXMLData(xml, XMLReader::ProcessNamespaces, &error, responseName);
    QVERIFY(error.isEmpty());
    QCOMPARE(result, expected);
    QCOMPARE(XMLReader::dictionaryForXMLString(QString::fromUtf8(xml), XMLReader::ProcessNamespaces,
                                               &error, responseName),
             expected);
}

void TestXMLReader::soapFault()
{
    const QByteArray fault = R"(<?xml version="1.0" encoding="utf-8"?>
<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope">
  <env:Body>
    <env:Fault>
      <env:Code><env:Value>env:Receiver</env:Value></env:Code>
      <env:Reason><env:Text xml:lang="en">Wrong PIN</env:Text></env:Reason>
    </env:Fault>
  </env:Body>
</env:Envelope>)";
    const QVariantMap body = root(fault)["Envelope"].toMap()["Body"].toMap();
    QCOMPARE(body["Fault"].toMap()["Reason"].toMap()["Text"].toString(),
             QStringLiteral("Wrong PIN"));
    QCOMPARE(body["Fault"].toMap()["Code"].toMap()["Value"].toString(),
             QStringLiteral("env:Receiver"));
}

void TestXMLReader::broken_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << QByteArray("<e:Envelope xmlns:e=\"urn:e\"><e:Body><r>1</r>");
    QTest::newRow("mismatched") << QByteArray("<a><b></a></b>");
    QTest::newRow("plain text") << QByteArray("Internal Server Error");
    QTest::newRow("unbound prefix") << QByteArray("<x:a/>");
    QTest::newRow("undeclared entity") << QByteArray("<a>&nbsp;</a>");
    QTest::newRow("two roots") << QByteArray("<a/><b/>");
}

void TestXMLReader::broken()
{
    QFETCH(QByteArray, xml);
    QString error;
    QVERIFY(!XMLReader::rootDictionaryForXMLData(xml, XMLReader::ProcessNamespaces, &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(
        !XMLReader::dictionaryForXMLData(xml, XMLReader::ProcessNamespaces, &error, "r").isValid());
    QVERIFY(!error.isEmpty());
}

void TestXMLReader::entitiesNeverExpand_data()
{
    QTest::addColumn<QByteArray>("xml");
    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
    laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
    for (int i = 2; i <= 9; ++i) {
        laughs += "<!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&lol" + QByteArray::number(i - 1) + ";";
        laughs += "\">\n";
    }
    laughs += "]>\n<lolz>&lol9;</lolz>";
    QTest::newRow("billion laughs") << laughs;
    QTest::newRow("external entity") << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY x "
                                                   "SYSTEM \"file:///etc/passwd\">]><a>&x;</a>");
    QTest::newRow("internal entity")
        << QByteArray("<!DOCTYPE a [<!ENTITY x \"secret\">]><a>&x;</a>");
}

void TestXMLReader::entitiesNeverExpand()
{
    QFETCH(QByteArray, xml);
    for (int options : {0, 1, 1 | 2 | 4}) {
        QString error;
        const auto result = XMLReader::rootDictionaryForXMLData(xml, options, &error);
        QVERIFY(!result);
        QVERIFY(!error.isEmpty());
    }
}

void TestXMLReader::directoryReply()
{
    QByteArray xml =
        R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope" xmlns:ns1="urn:u"><env:Body><ns1:SearchMyContactsResponse><ns1:total>2</ns1:total>)";
    for (int i = 1; i <= 2; ++i)
        xml +=
            "<ns1:Entity><ns1:entityID>" + QByteArray::number(i) +
            "</ns1:entityID><ns1:displayName>N</ns1:displayName><ns1:RoomMode><ns1:hasPIN>false</"
            "ns1:hasPIN></ns1:RoomMode></ns1:Entity>";
    xml += "</ns1:SearchMyContactsResponse></env:Body></env:Envelope>";
    QString error;
    const QVariantMap response =
        XMLReader::dictionaryForXMLData(xml, 1, &error, "SearchMyContactsResponse").toMap();
    QCOMPARE(response["total"].toString(), QStringLiteral("2"));
    const QVariantList entities = response["Entity"].toList();
    QCOMPARE(entities.size(), 2);
    QCOMPARE(entities[1].toMap()["entityID"].toString(), QStringLiteral("2"));
    QCOMPARE(entities[0].toMap()["RoomMode"].toMap()["hasPIN"].toString(), QStringLiteral("false"));
}

void TestXMLReader::limits_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("reason");

    QTest::newRow("256 levels") << nested(256) << true << QString();
    QTest::newRow("257 levels") << nested(257) << false << QStringLiteral("nested deeper");
    QTest::newRow("130000 levels") << nested(130000) << false << QStringLiteral("nested deeper");
    QTest::newRow("256 attributes") << withAttributes(256) << true << QString();
    QTest::newRow("257 attributes") << withAttributes(257) << false << QStringLiteral("attributes");
    QTest::newRow("257 single-quoted attributes")
        << withAttributes(257, "'") << false << QStringLiteral("attributes");
    QTest::newRow("100000 attributes")
        << withAttributes(100000) << false << QStringLiteral("attributes");
    QTest::newRow("many attributes spread over elements")
        << "<r>" + withAttributes(200).repeated(10) + "</r>" << true << QString();
    QTest::newRow("equals signs inside values and text")
        << "<r " + QByteArray("k=\"") + QByteArray("=").repeated(1000) + "\">" +
               QByteArray("=").repeated(1000) + "</r>"
        << true << QString();
    QTest::newRow("equals signs inside comments, CDATA and instructions")
        << "<r><!--" + QByteArray(" a=''").repeated(300) + "--><![CDATA[" +
               QByteArray(" a=''").repeated(300) + "]]><?pi" + QByteArray(" a=''").repeated(300) +
               "?></r>"
        << true << QString();
}

void TestXMLReader::limits()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, accepted);
    QFETCH(QString, reason);
    QString error;
    const auto result =
        XMLReader::rootDictionaryForXMLData(xml, XMLReader::ProcessNamespaces, &error);
    QCOMPARE(result.has_value(), accepted);
    if (!accepted)
        QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestXMLReader::overfullTagRefusedBeforeParsing()
{
    // The syntax error comes first in the document, so only a check made before the parser
    // starts can report the attributes instead.
    const QByteArray xml = "<r><a></b>" + withAttributes(100000) + "</r>";
    QString error;
    QVERIFY(!XMLReader::rootDictionaryForXMLData(xml, XMLReader::ProcessNamespaces, &error));
    QVERIFY2(error.contains(QStringLiteral("attributes")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestXMLReader)
#include "tst_xmlreader.moc"
