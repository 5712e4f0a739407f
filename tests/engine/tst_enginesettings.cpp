#include "engine/EngineSettings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

/// The engine's settings have one list of keys: the README's table and the installed settings
/// file follow it, and a file's values are read as it says.
class TestEngineSettings : public QObject
{
    Q_OBJECT

private slots:
    void readmeTableIsTheList();
    void installedFileHoldsReadKeysOnly();
    void values_data();
    void values();
};

namespace {

QStringList cells(const QString &row)
{
    QStringList cells = row.split(u'|');
    cells = cells.mid(1, cells.size() - 2); // around the outer bars
    for (QString &cell : cells)
        cell = cell.trimmed();
    return cells;
}

QString row(const EngineSettings::Key &key)
{
    return QStringLiteral("| `%1` | %2 | %3 | %4 | %5 |")
        .arg(QLatin1String(key.name), QLatin1String(key.type), QLatin1String(key.fallback),
             QLatin1String(key.meaning),
             key.testOnly ? QStringLiteral("yes") : QStringLiteral("no"));
}

/// The rows of the table under the README's "Engine settings" heading.
QList<QStringList> readmeRows()
{
    QFile readme(QStringLiteral(ORVALE_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    QList<QStringList> rows;
    bool inSection = false;
    for (const QString &line : QString::fromUtf8(readme.readAll()).split(u'\n')) {
        if (line.startsWith(QLatin1String("#")))
            inSection = line.trimmed() == u"### Engine settings";
        else if (inSection && line.startsWith(QLatin1String("| `")))
            rows.append(cells(line));
    }
    return rows;
}

QString summary(const EngineSettings &s)
{
    return QStringLiteral("ping %1, silence %2, request %3, tone %4, colour %5, record %6, "
                          "camera %7, loss %8, fails %9, connect %10")
        .arg(s.pingIntervalMs)
        .arg(s.silenceLimitMs)
        .arg(s.requestTimeoutMs)
        .arg(s.toneFrequency ? QString::number(*s.toneFrequency) : QStringLiteral("-"))
        .arg(s.pictureColour.value_or(QStringLiteral("-")), s.audioRecordFolder)
        .arg(s.testCamera)
        .arg(s.testSendLoss)
        .arg(s.publisherFailsAfter)
        .arg(s.connectTimeout);
}

} // namespace

void TestEngineSettings::readmeTableIsTheList()
{
    const QList<EngineSettings::Key> &keys = EngineSettings::keys();
    const QList<QStringList> rows = readmeRows();
    for (qsizetype i = 0; i < keys.size(); ++i)
        QVERIFY2(i < rows.size() && rows[i] == cells(row(keys[i])),
                 qPrintable(QStringLiteral("row %1 of the README's \"Engine settings\" table "
                                           "should read:\n%2")
                                .arg(i + 1)
                                .arg(row(keys[i]))));
    QCOMPARE(rows.size(), keys.size());
}

/// No key in the installed file that the engine does not read.
void TestEngineSettings::installedFileHoldsReadKeysOnly()
{
    const QSettings installed(QStringLiteral(ORVALE_SOURCE_DIR "/resources/System.ecf"),
                              QSettings::IniFormat);
    QStringList known;
    for (const EngineSettings::Key &key : EngineSettings::keys())
        known.append(EngineSettings::settingsKey(key.name));
    QStringList unread;
    for (const QString &key : installed.allKeys())
        if (!known.contains(key))
            unread.append(key);
    QVERIFY2(unread.isEmpty(), qPrintable(unread.join(u' ')));
}

void TestEngineSettings::values_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("read");
    QTest::newRow("defaults") << QByteArray()
                              << "ping 10000, silence 30000, request 5000, tone -, colour -, "
                                 "record , camera 0, loss -1, fails 0, connect 0";
    QTest::newRow("every key")
        << QByteArray("pingIntervalMs=200\nsilenceLimitMs=1500\nrequestTimeoutMs=3000\n"
                      "toneFrequency=660\npictureColour=#c03020\naudioRecordFolder=/tmp/a\n"
                      "testCamera=true\ntestSendLoss=30\npublisherFailsAfter=1.5\n"
                      "connectTimeout=0.001\n")
        << "ping 200, silence 1500, request 3000, tone 660, colour #c03020, record /tmp/a, "
           "camera 1, loss 30, fails 1.5, connect 0.001";
    QTest::newRow("a ping too often, a silence too short")
        << QByteArray("pingIntervalMs=10\nsilenceLimitMs=20\n")
        << "ping 50, silence 50, request 5000, tone -, colour -, record , camera 0, loss -1, "
           "fails 0, connect 0";
}

void TestEngineSettings::values()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, read);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("System.ecf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[engine]\n" + lines);
    file.close();
    QCOMPARE(summary(EngineSettings(file.fileName())), read);
}

QTEST_GUILESS_MAIN(TestEngineSettings)
#include "tst_enginesettings.moc"
