// Converting a directory reply of 199 entries, against bare token reading of the same bytes.
// Run by hand: build/bench/bench_xmlreader [rounds]

#include "net/XMLReader.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray directoryReply(int entries)
{
    QByteArray xml =
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope" xmlns:ns1="urn:portal">)"
        "<env:Body><ns1:SearchResponse><ns1:total>199</ns1:total>";
    for (int i = 0; i < entries; ++i) {
        const QByteArray n = QByteArray::number(i);
        xml += "\n  <ns1:Entity>\n    <ns1:entityID>" + n +
               "</ns1:entityID>\n    <ns1:EntityType>Member</ns1:EntityType>"
               "\n    <ns1:ownerID>" +
               n + "</ns1:ownerID>\n    <ns1:displayName>成员 " + n +
               "</ns1:displayName>"
               "\n    <ns1:extension>10" +
               n + "</ns1:extension>\n    <ns1:emailAddress>m" + n +
               "@example.com</ns1:emailAddress>"
               "\n    <ns1:MemberStatus>Online</ns1:MemberStatus>\n    "
               "<ns1:RoomStatus>Empty</ns1:RoomStatus>"
               "\n    <ns1:tenant>Default</ns1:tenant>\n    "
               "<ns1:isInMyContacts>false</ns1:isInMyContacts>"
               "\n    <ns1:RoomMode>\n      <ns1:isLocked>false</ns1:isLocked>\n      "
               "<ns1:hasPIN>false</ns1:hasPIN>"
               "\n      <ns1:hasModeratorPIN>false</ns1:hasModeratorPIN>\n      "
               "<ns1:roomURL>http://portal/flex.html?roomdirect.html&amp;key=K" +
               n +
               "</ns1:roomURL>"
               "\n    </ns1:RoomMode>\n  </ns1:Entity>";
    }
    xml += "</ns1:SearchResponse></env:Body></env:Envelope>";
    return xml;
}

template <class F> double medianMicroseconds(int rounds, F &&work)
{
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        samples.push_back(timer.nsecsElapsed() / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(5, atoi(argv[1])) : 300;
    const QByteArray xml = directoryReply(199);
    qint64 sink = 0;

    const double tokens = medianMicroseconds(rounds, [&] {
        QXmlStreamReader reader(xml);
        while (!reader.atEnd())
            sink += reader.readNext();
    });
    const double convert = medianMicroseconds(rounds, [&] {
        QString error;
        sink += XMLReader::dictionaryForXMLData(xml, XMLReader::ProcessNamespaces, &error,
                                                QStringLiteral("SearchResponse"))
                    .toMap()
                    .size();
    });
    std::printf("reply: %lld bytes, 199 entries, %d rounds\n", static_cast<long long>(xml.size()),
                rounds);
    std::printf("QXmlStreamReader tokens (baseline): median %.1f us\n", tokens);
    std::printf("XMLReader conversion:               median %.1f us (%.2fx baseline)\n", convert,
                convert / tokens);
    return sink == 42 ? 1 : 0;
}
