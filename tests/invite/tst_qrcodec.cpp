#include "tests/invite/QRTestReader.h"
#include "ui/invite/QRCodec.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

/// Drawing invitation codes and reading codes from pictures and files.
class TestQRCodec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeRoundTrip_data();
    void encodeRoundTrip();
    void encodeRefusesWhatDoesNotFit();
    void decodeVariants_data();
    void decodeVariants();
    void loadImage_data();
    void loadImage();
};

void TestQRCodec::encodeRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("a link")
        << "http://127.0.0.1:8080/pages/Kwuser/l.do?key=Um9vbQ==&portal="
           "aHR0cDovLzEyNy4wLjAuMTo4MDgx&pin=MTIzNA==&period=MTc2NTIwMDAwMDAwMA==42";
    QTest::newRow("a long link") << QStringLiteral(
                                        "https://portal.example/pages/Kwuser/l.do?key=") +
                                        QString(600, u'A');
    QTest::newRow("Chinese") << "全员大会堂 的邀请";
}

void TestQRCodec::encodeRoundTrip()
{
    QFETCH(QString, text);
    const QImage code = QRCodec::encode(text);
    QVERIFY(!code.isNull());
    QCOMPARE(code.width(), code.height());
    QVERIFY2(code.width() > 280 && code.width() <= 300, qPrintable(QString::number(code.width())));
    QCOMPARE(readQRCode(code), text);
    // Sharp modules: nothing but black and white, no smoothed edges.
    const QImage grey = code.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            QVERIFY2(line[x] == 0 || line[x] == 255,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    }
}

void TestQRCodec::encodeRefusesWhatDoesNotFit()
{
    QVERIFY(QRCodec::encode(QString(5000, u'x')).isNull());
}

void TestQRCodec::decodeVariants_data()
{
    const QString text = QStringLiteral("http://h/pages/Kwuser/l.do?key=a&portal=b&pin=c&period=d");
    const QImage code = QRCodec::encode(text, 200).convertToFormat(QImage::Format_Grayscale8);
    QImage inverted = code;
    inverted.invertPixels();
    QImage two = pictureWith(code, QSize(400, 900), QPoint(100, 40));
    const QImage other =
        QRCodec::encode(QStringLiteral("second")).convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < other.height(); ++y)
        memcpy(two.scanLine(500 + y) + 50, other.constScanLine(y), size_t(other.width()));
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(Qt::lightGray);

    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QString>("expected");
    QTest::newRow("upright") << code << text;
    QTest::newRow("turned a quarter") << code.transformed(QTransform().rotate(90)) << text;
    QTest::newRow("upside down") << code.transformed(QTransform().rotate(180)) << text;
    QTest::newRow("inverted") << inverted << text;
    QTest::newRow("small in a big picture")
        << pictureWith(code, QSize(1600, 1200), QPoint(900, 700)) << text;
    QTest::newRow("two codes, the upper counts") << two << text;
    QTest::newRow("no code") << blank << QString();
    QTest::newRow("nothing") << QImage() << QString();
}

void TestQRCodec::decodeVariants()
{
    QFETCH(QImage, picture);
    QFETCH(QString, expected);
    QCOMPARE(QRCodec::decode(picture), expected);
}

void TestQRCodec::loadImage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<bool>("hasCode");
    QTest::newRow("a PNG") << "png" << true << true;
    QTest::newRow("a JPEG") << "jpg" << true << true;
    QTest::newRow("50 megapixels") << "huge" << true << true;
    QTest::newRow("no picture") << "text" << false << false;
    QTest::newRow("a truncated PNG") << "truncated" << true << false;
    QTest::newRow("a missing file") << "missing" << false << false;
}

void TestQRCodec::loadImage()
{
    QFETCH(QString, kind);
    QFETCH(bool, loads);
    QFETCH(bool, hasCode);
    const QString text = QStringLiteral("http://h/pages/Kwuser/l.do?key=k");
    const QImage code = QRCodec::encode(text);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture"));
    if (kind == u"png" || kind == u"truncated") {
        QVERIFY(pictureWith(code, QSize(800, 600), QPoint(100, 100)).save(path, "PNG"));
    } else if (kind == u"jpg") {
        QVERIFY(pictureWith(code, QSize(800, 600), QPoint(100, 100)).save(path, "JPG", 85));
    } else if (kind == u"huge") {
        // 7100 × 7100: the code, enlarged to stay readable once scaled down.
        QVERIFY(pictureWith(code.scaled(2400, 2400), QSize(7100, 7100), QPoint(3000, 3000))
                    .save(path, "PNG", 100));
    } else if (kind == u"text") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("http://h/pages/Kwuser/l.do?key=k\n");
    }
    if (kind == u"truncated") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.resize(file.size() / 3);
    }
    const QImage loaded = QRCodec::loadImage(path);
    if (kind != u"truncated") // whether the readable part is kept is the reader's business
        QCOMPARE(!loaded.isNull(), loads);
    QVERIFY(std::max(loaded.width(), loaded.height()) <= QRCodec::maxReadSide);
    QCOMPARE(QRCodec::decode(loaded), hasCode ? text : QString());
}

QTEST_MAIN(TestQRCodec)
#include "tst_qrcodec.moc"
