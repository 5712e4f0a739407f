#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

struct Message
{
    QString context;
    QString source;
    QString type;             ///< the translation's type attribute: empty when finished
    QStringList translations; ///< one, or one per plural form
    qint64 line = 0;
};

/// The messages of a Linguist file, or an error text.
QList<Message> readMessages(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<Message> messages;
    QString context;
    QXmlStreamReader xml(&file);
    bool numerus = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        // Message parts before any message would be a broken file; they are passed over.
        const bool inMessage = !messages.isEmpty();
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"message") {
            numerus = xml.attributes().value(QLatin1String("numerus")) == u"yes";
            messages.append({context, {}, {}, {}, xml.lineNumber()});
        } else if (!inMessage) {
            continue;
        } else if (xml.name() == u"source") {
            messages.last().source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            messages.last().type = xml.attributes().value(QLatin1String("type")).toString();
            if (!numerus)
                messages.last().translations.append(xml.readElementText());
        } else if (xml.name() == u"numerusform") {
            messages.last().translations.append(xml.readElementText());
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

/// The place markers of a text: %1 … %99 and %n.
QSet<QString> markers(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%(\\d+|n)"));
    QSet<QString> found;
    for (const auto &match : marker.globalMatch(text))
        found.insert(match.captured());
    return found;
}

QString translationsDir()
{
    return QStringLiteral(ORVALE_SOURCE_DIR "/resources/translations");
}

} // namespace

/// The translation files are complete: every text of the client's sources is in the English file
/// and translated, no entry is left whose text is gone, and each translation keeps the place
/// markers of its source.
class TestTranslations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void complete_data();
    void complete();
    void chineseLabelsExist();

private:
    QTemporaryDir m_dir;
    QString m_refreshed;
};

void TestTranslations::initTestCase()
{
    // Refresh a copy of the English file from the sources, as the orvale_lupdate target does,
    // but keeping what vanished so that it shows.
    QVERIFY(m_dir.isValid());
    m_refreshed = m_dir.filePath(QStringLiteral("orvale_en.ts"));
    QVERIFY(QFile::copy(translationsDir() + QStringLiteral("/orvale_en.ts"), m_refreshed));
    QFile::setPermissions(m_refreshed, QFile::ReadOwner | QFile::WriteOwner);
    QStringList arguments = QStringLiteral(ORVALE_LUPDATE_ARGS).split(u'|');
    arguments << QStringLiteral("-ts") << m_refreshed;
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(ORVALE_SOURCE_DIR));
    lupdate.start(QStringLiteral(ORVALE_LUPDATE), arguments);
    QVERIFY2(lupdate.waitForFinished(120000), qPrintable(lupdate.errorString()));
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             lupdate.readAllStandardError().constData());
}

void TestTranslations::complete_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("fromSources");
    QTest::newRow("English, refreshed from the sources") << m_refreshed << true;
    QTest::newRow("English, as kept")
        << translationsDir() + QStringLiteral("/orvale_en.ts") << false;
    QTest::newRow("Chinese") << translationsDir() + QStringLiteral("/orvale_zh_CN.ts") << false;
}

void TestTranslations::complete()
{
    QFETCH(QString, path);
    QFETCH(bool, fromSources);
    QString error;
    const QList<Message> messages = readMessages(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!messages.isEmpty());
    QStringList faults;
    for (const Message &m : messages) {
        const QString where =
            QStringLiteral("%1 \"%2\" (line %3)").arg(m.context, m.source).arg(m.line);
        if (!m.type.isEmpty())
            faults << QStringLiteral("%1 is %2").arg(where, m.type);
        else if (m.translations.isEmpty() || m.translations.contains(QString()))
            faults << where + QStringLiteral(" has no translation");
        for (const QString &translation : m.translations) {
            if (m.type.isEmpty() && markers(translation) != markers(m.source))
                faults << where + QStringLiteral(" changes the place markers");
        }
    }
    if (fromSources && !faults.isEmpty())
        faults << QStringLiteral("refresh with: cmake --build build --target orvale_lupdate, then "
                                 "translate in resources/translations/orvale_en.ts");
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

void TestTranslations::chineseLabelsExist()
{
    // The hand-kept Chinese file may only name texts the client still has.
    QString error;
    const QList<Message> english = readMessages(m_refreshed, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<Message> chinese =
        readMessages(translationsDir() + QStringLiteral("/orvale_zh_CN.ts"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QSet<QString> known;
    for (const Message &m : english) {
        if (m.type.isEmpty())
            known.insert(m.context + u'\x1f' + m.source);
    }
    for (const Message &m : chinese)
        QVERIFY2(known.contains(m.context + u'\x1f' + m.source), qPrintable(m.source));
}

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
