#include "tests/support/MediaMeasures.h"
#include "tests/support/ProcessLines.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

/// A participant: an engine driver in a process of its own, its frame stamps in `stamps`.
struct Driver
{
    QProcess process;
    ProcessLines lines{process};
    QString settings;
    QString stamps;
    QString log; ///< its standard error, with the RTP session's warnings

    void tell(const QString &line) { process.write((line + u'\n').toUtf8()); }
    QString details()
    {
        lines.forget();
        tell(QStringLiteral("details"));
        return lines.startingWith(QStringLiteral("details:"), 5000);
    }
};

/// Retransmissions of the sent ("sent") or received ("received") video, and the received
/// pictures dropped for damage, as the details line says them; -1 for what it does not say.
struct Repairs
{
    qint64 nacks = -1, resent = -1, damaged = -1;
};

Repairs repairsIn(const QString &details, const QString &direction)
{
    const auto match =
        QRegularExpression(direction + QStringLiteral(" video [^,;]* nack (\\d+) rtx (\\d+)"
                                                      "(?: (\\d+) damaged)?"))
            .match(details);
    if (!match.hasMatch())
        return {};
    return {match.captured(1).toLongLong(), match.captured(2).toLongLong(),
            match.hasCaptured(3) ? match.captured(3).toLongLong() : -1};
}

/// The pictures a receiver showed, from its frame stamps: those whose stamp could be read,
/// each picture once, and those shown without a readable one.
struct Shown
{
    std::vector<qint64> intact; ///< the moments the pictures were sent, in order
    qsizetype unreadable = 0;

    /// The pictures sent while these were: the span of the sent moments over the usual gap
    /// between two pictures.
    qint64 sent() const
    {
        if (intact.size() < 2)
            return qint64(intact.size());
        std::vector<qint64> gaps;
        for (size_t i = 1; i < intact.size(); ++i)
            gaps.push_back(intact[i] - intact[i - 1]);
        std::nth_element(gaps.begin(), gaps.begin() + qsizetype(gaps.size() / 2), gaps.end());
        const qint64 gap = std::max<qint64>(1, gaps[gaps.size() / 2]);
        return (intact.back() - intact.front() + gap / 2) / gap + 1;
    }
};

Shown shownIn(const QString &path)
{
    Shown shown;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return shown;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 2 && words[0] != "sound")
            shown.intact.push_back(words[0].toLongLong());
        else if (line.startsWith("unreadable picture"))
            ++shown.unreadable;
    }
    std::sort(shown.intact.begin(), shown.intact.end());
    shown.intact.erase(std::unique(shown.intact.begin(), shown.intact.end()), shown.intact.end());
    return shown;
}

} // namespace

/// Two engines in a call through Janus, the sender losing some of its video packets on the way
/// out: the relay asks for them again and gets them, the receiver shows (nearly) only whole
/// pictures, and the call never says that the sender's media stopped.
class TestLossyLinkEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void lostPacketsAreSentAgain_data();
    void lostPacketsAreSentAgain();
    void senderLogStaysQuiet();

private:
    void startDriver(Driver &driver, const QString &user, const QByteArray &settings);
    void writeSettings(Driver &driver, const QByteArray &settings);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    QTemporaryDir m_files;
    Driver m_sender, m_receiver;
};

void TestLossyLinkEndToEnd::writeSettings(Driver &driver, const QByteArray &settings)
{
    QFile file(driver.settings);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[engine]\n" + settings);
}

void TestLossyLinkEndToEnd::startDriver(Driver &driver, const QString &user,
                                        const QByteArray &settings)
{
    driver.settings = m_files.filePath(user + QStringLiteral(".ecf"));
    driver.stamps = m_files.filePath(user + QStringLiteral(".stamps"));
    writeSettings(driver, settings);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVALE_FRAME_STAMPS"), driver.stamps);
    env.insert(QStringLiteral("GST_DEBUG"), QStringLiteral("rtpsession:2"));
    driver.log = m_files.filePath(user + QStringLiteral(".log"));
    driver.process.setProcessEnvironment(env);
    driver.process.setStandardErrorFile(driver.log);
    driver.process.start(QStringLiteral(ORVALE_ENGINE_DRIVER), {});
    QVERIFY(driver.process.waitForStarted());
    QVERIFY(!driver.lines.startingWith(QStringLiteral("ready"), 15000).isEmpty());
    driver.tell(QStringLiteral("login ") + user + u' ' + user + QStringLiteral("1234 ") +
                m_services->portal());
    QVERIFY(!driver.lines.startingWith(QStringLiteral("loginSuccess"), 15000).isEmpty());
    driver.tell(QStringLiteral("settings ") + driver.settings);
    driver.tell(QStringLiteral("join 1002"));
    QVERIFY(!driver.lines.startingWith(QStringLiteral("conference"), 15000).isEmpty());
}

void TestLossyLinkEndToEnd::initTestCase()
{
    if (const QString why = mediaUnavailable(); !why.isEmpty()) {
        if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    m_home = std::make_unique<TestHome>();
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    QVERIFY2(m_services->start(true), qPrintable(m_services->output()));
    // The receiver (alice, in her own room) sends a picture too; the sender's is stamped.
    startDriver(m_receiver, QStringLiteral("alice"), "pictureColour=#808080\ntoneFrequency=440\n");
    startDriver(m_sender, QStringLiteral("demo"),
                "pictureColour=#c03020\ntoneFrequency=660\ntestSendLoss=0\n");
    QTRY_VERIFY_WITH_TIMEOUT(m_receiver.details().contains(QRegularExpression(
                                 QStringLiteral("camera of \\S*-u1001;\\S* [1-9]"))),
                             20000);
}

void TestLossyLinkEndToEnd::cleanupTestCase()
{
    stopDriver(m_sender.process);
    stopDriver(m_receiver.process);
}

void TestLossyLinkEndToEnd::lostPacketsAreSentAgain_data()
{
    QTest::addColumn<int>("loss"); ///< percent of the sent video packets
    QTest::newRow("5 %") << 5;
    QTest::newRow("10 %") << 10;
}

void TestLossyLinkEndToEnd::lostPacketsAreSentAgain()
{
    QFETCH(int, loss);
    constexpr qint64 pictures = 200; // shown intact, for a measure of some weight
    writeSettings(m_sender, "pictureColour=#c03020\ntoneFrequency=660\ntestSendLoss=" +
                                QByteArray::number(loss) + '\n');
    m_sender.tell(QStringLiteral("settings ") + m_sender.settings);
    const Repairs sentBefore = repairsIn(m_sender.details(), QStringLiteral("sent"));
    const Repairs receivedBefore = repairsIn(m_receiver.details(), QStringLiteral("received"));
    QVERIFY(QFile::resize(m_receiver.stamps, 0));

    bool interrupted = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            // "音视频已中断" of the sender (demo, "u1001") at the receiver.
            interrupted = interrupted || m_receiver.details().contains(QRegularExpression(
                                             QStringLiteral("音视频已中断 \\S*-u1001;")));
            return qint64(shownIn(m_receiver.stamps).intact.size()) >= pictures;
        }(),
        120000);
    QVERIFY(!interrupted);

    const Shown shown = shownIn(m_receiver.stamps);
    const Repairs sent = repairsIn(m_sender.details(), QStringLiteral("sent"));
    const Repairs received = repairsIn(m_receiver.details(), QStringLiteral("received"));
    const qint64 asked = sent.nacks - std::max<qint64>(0, sentBefore.nacks);
    const qint64 resent = sent.resent - std::max<qint64>(0, sentBefore.resent);
    const qint64 damaged = received.damaged - std::max<qint64>(0, receivedBefore.damaged);
    qInfo("%d %% lost: %zu of %lld pictures shown intact, %lld shown unreadable, %lld dropped "
          "damaged; %lld packets asked for again, %lld sent again",
          loss, shown.intact.size(), shown.sent(), qint64(shown.unreadable), damaged, asked,
          resent);
    // The relay asked for lost packets, and the sender sent them again.
    QVERIFY(asked > 0);
    QVERIFY(resent > 0);
    // The packets sent again are no picture of their own, and the sender sees the loss in the
    // share asked for again.
    const QString details = m_sender.details();
    QVERIFY2(details.count(QStringLiteral("sent video")) == 1, qPrintable(details));
    const double askedAgain = QRegularExpression(QStringLiteral("asked again ([\\d.]+) %"))
                                  .match(details)
                                  .captured(1)
                                  .toDouble();
    QVERIFY2(askedAgain >= loss / 2.0 && askedAgain <= loss * 3.0, qPrintable(details));
    // Repaired, nearly every picture arrives whole, and none is shown damaged: the few that
    // could not be repaired in time are counted and dropped.
    QVERIFY(damaged >= 0);
    QVERIFY(shown.unreadable * 50 <= qint64(shown.intact.size()));
    QVERIFY2(qint64(shown.intact.size()) * 100 >= shown.sent() * 85,
             qPrintable(QString::number(shown.sent())));
}

/// The sender's RTP session knows the pipeline's latency, so it can tell when each packet
/// leaves: it does not complain about every packet it sends.
void TestLossyLinkEndToEnd::senderLogStaysQuiet()
{
    QFile log(m_sender.log);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    const qsizetype complaints = text.count("without knowing configured latency");
    const Repairs sent = repairsIn(m_sender.details(), QStringLiteral("sent"));
    qInfo("%lld complaints about the latency", qint64(complaints));
    QVERIFY(sent.nacks > 0); // many packets went out meanwhile
    QVERIFY2(complaints <= 5, qPrintable(QString::number(complaints)));
}

QTEST_GUILESS_MAIN(TestLossyLinkEndToEnd)
#include "tst_lossylink_e2e.moc"
