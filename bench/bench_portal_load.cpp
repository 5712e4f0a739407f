// Signed-in clients' contact refreshes against the portal: every client makes the contact list's
// four portal calls (MyAccount, SearchByEntityID and GetInviteContent of its own room,
// SearchMyContacts) once every 30 s, each carrying the account's password. The deployment runs
// as a child on one core (taskset -c 0), the clients here; the same run measures the portal
// checking every request's password in full, then with verified credentials remembered.
// Run by hand: build/bench/bench_portal_load [clients] [seconds] [accounts]

#include "services/PasswordHash.h"
#include "services/ServiceDatabase.h"
#include "services/ServiceHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sched.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int refreshSeconds = 30;
constexpr int callsPerRefresh = 4;
constexpr qint64 firstMember = 100000;
const QString password = QStringLiteral("load-test-1234");

QString userName(int i)
{
    return QStringLiteral("user%1").arg(i);
}

/// `accounts` members with their own rooms and ten contacts each, written in one transaction:
/// one password hash shared by all, so that making them costs no PBKDF2 each.
bool populate(const QString &path, int accounts)
{
    {
        ServiceDatabase schema;
        QString error;
        if (!schema.open(path, false, &error) || !schema.isEmpty())
            return error.isEmpty();
    }
    auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("populate"));
    db.setDatabaseName(path);
    if (!db.open())
        return false;
    const QByteArray salt = PasswordHash::newSalt();
    const QByteArray hash = PasswordHash::hash(password, salt);
    db.transaction();
    QSqlQuery entity(db), account(db), contact(db);
    entity.prepare(QStringLiteral("INSERT INTO entities(entityID, kind, displayName, emailAddress,"
                                  " extension, ownerID, roomKey) VALUES(?,'Member',?,?,?,?,?)"));
    account.prepare(QStringLiteral("INSERT INTO accounts(userName, entityID, salt, hash, coId)"
                                   " VALUES(?,?,?,?,'C001')"));
    contact.prepare(
        QStringLiteral("INSERT OR IGNORE INTO contacts(ownerID, entityID) VALUES(?,?)"));
    for (int i = 0; i < accounts; ++i) {
        const qint64 id = firstMember + i;
        for (const QVariant &v :
             {QVariant(id), QVariant(QStringLiteral("成员 %1").arg(i)),
              QVariant(userName(i) + QStringLiteral("@orvale.example")),
              QVariant(QString::number(id)), QVariant(id), QVariant(ServiceDatabase::newRoomKey())})
            entity.addBindValue(v);
        account.addBindValue(userName(i));
        account.addBindValue(id);
        account.addBindValue(salt);
        account.addBindValue(hash);
        if (!entity.exec() || !account.exec())
            return false;
        for (int k = 1; k <= 10; ++k) {
            contact.addBindValue(id);
            contact.addBindValue(firstMember + (i + k * 7) % accounts);
            contact.exec();
        }
    }
    return db.commit();
}

/// The deployment's side: the portal on a free port, answering until killed.
int serve(const QString &dir, int accounts, bool cache)
{
    if (!populate(dir + QStringLiteral("/orvale.sqlite"), accounts)) {
        std::fprintf(stderr, "could not write the accounts\n");
        return 1;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("populate"));
    // A log line per request would be measured too.
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false"));
    ServicesConfig config;
    config.loginPort = config.tlsPort = config.portalPort = 0;
    config.dataDir = dir;
    config.makeStream = false;
    config.turn = false;
    ServiceHost host(config);
    QString error;
    if (!host.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (!cache)
        host.signIns().cache().setLifetime(0);
    std::printf("port %d\n", host.config().portalPort);
    std::fflush(stdout);
    return QCoreApplication::exec();
}

struct Figures
{
    int sent = 0;
    int answered = 0;
    int failed = 0;
    std::vector<double> latencyMs;
};

/// The clients' side: `clients` refreshes every 30 s, spread evenly, for `seconds`.
class Load final : public QObject
{
public:
    Load(quint16 port, int clients, int accounts)
        : m_url(QStringLiteral("http://127.0.0.1:%1/services/v1_1/PortalUserService").arg(port))
        , m_clients(clients)
        , m_accounts(accounts)
    {
        // Several connection pools: one manager opens only six connections to a host.
        for (int i = 0; i < 32; ++i)
            m_managers.push_back(std::make_unique<QNetworkAccessManager>());
    }

    /// Each account's first request, a few at a time: what the service does once per account.
    void warmUp()
    {
        int next = 0, done = 0;
        std::function<void()> one = [&] {
            if (next >= m_accounts)
                return;
            QNetworkReply *reply = post(next++, 0);
            connect(reply, &QNetworkReply::finished, this, [&, reply] {
                reply->deleteLater();
                ++done;
                one();
            });
        };
        for (int i = 0; i < 8; ++i)
            one();
        while (done < m_accounts)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    Figures run(int seconds)
    {
        Figures figures;
        const double rate = double(m_clients) * callsPerRefresh / refreshSeconds;
        const int total = int(rate * seconds);
        QElapsedTimer clock;
        clock.start();
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            const int due = std::min(total, int(clock.nsecsElapsed() / 1e9 * rate));
            for (; figures.sent < due; ++figures.sent) {
                const int call = figures.sent;
                const qint64 start = clock.nsecsElapsed();
                QNetworkReply *reply =
                    post((call / callsPerRefresh) % m_clients % m_accounts, call % callsPerRefresh);
                connect(reply, &QNetworkReply::finished, this, [&, reply, start] {
                    const int status =
                        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                    ++(status == 200 ? figures.answered : figures.failed);
                    figures.latencyMs.push_back((clock.nsecsElapsed() - start) / 1e6);
                    reply->deleteLater();
                });
            }
        });
        tick.start(5);
        // After the last request, answers still count for as long again as the run.
        const qint64 until = qint64(seconds) * 2 * 1000000000;
        while (figures.answered + figures.failed < total && clock.nsecsElapsed() < until)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        tick.stop();
        for (const auto &manager : m_managers)
            for (QNetworkReply *reply : manager->findChildren<QNetworkReply *>())
                reply->abort();
        return figures;
    }

private:
    QNetworkReply *post(int account, int call)
    {
        const qint64 id = firstMember + account;
        static const QString bodies[callsPerRefresh] = {
            QStringLiteral("<ns1:MyAccountRequest/>"),
            QStringLiteral("<ns1:SearchByEntityIDRequest><ns1:entityID>%1</ns1:entityID>"
                           "</ns1:SearchByEntityIDRequest>"),
            QStringLiteral("<ns1:GetInviteContentRequest><ns1:roomID>%1</ns1:roomID>"
                           "</ns1:GetInviteContentRequest>"),
            QStringLiteral("<ns1:SearchMyContactsRequest><ns1:Filter><ns1:limit>199</ns1:limit>"
                           "</ns1:Filter></ns1:SearchMyContactsRequest>")};
        const QString operation = call == 0 || call == 3 ? bodies[call] : bodies[call].arg(id);
        QNetworkRequest request{QUrl(m_url)};
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/soap+xml; charset=utf-8"));
        request.setRawHeader("Authorization",
                             "Basic " + (userName(account) + u':' + password).toUtf8().toBase64());
        const QByteArray body =
            QStringLiteral(
                "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
                "xmlns:ns1=\"http://portal.orvale.example/\"><e:Body>%1</e:Body></e:Envelope>")
                .arg(operation)
                .toUtf8();
        return m_managers[m_next++ % m_managers.size()]->post(request, body);
    }

    QString m_url;
    int m_clients;
    int m_accounts;
    std::vector<std::unique_ptr<QNetworkAccessManager>> m_managers;
    size_t m_next = 0;
};

/// Processor time a process has used, in milliseconds: what the load costs on a busy machine.
double cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / sysconf(_SC_CLK_TCK);
}

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(p * samples.size()))];
}

/// One deployment on core 0 (when taskset is there), measured under the load.
bool measure(const QString &dir, int clients, int seconds, int accounts, bool cache)
{
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--serve"), dir, QString::number(accounts),
                          cache ? QStringLiteral("cache") : QStringLiteral("no-cache")};
    const QString taskset = QStandardPaths::findExecutable(QStringLiteral("taskset"));
    if (taskset.isEmpty()) {
        server.start(QCoreApplication::applicationFilePath(), arguments);
    } else {
        arguments.prepend(QCoreApplication::applicationFilePath());
        arguments.prepend(QStringLiteral("0"));
        arguments.prepend(QStringLiteral("-c"));
        server.start(taskset, arguments);
    }
    if (!server.waitForReadyRead(300000)) {
        std::fprintf(stderr, "the deployment did not start\n");
        return false;
    }
    const quint16 port = QString::fromLatin1(server.readLine()).section(u' ', 1).toUShort();
    Load load(port, clients, accounts);
    QElapsedTimer warm;
    warm.start();
    if (cache)
        load.warmUp();
    const double warmUpS = warm.elapsed() / 1000.0;
    const double cpuBefore = cpuMs(server.processId());
    const Figures f = load.run(seconds);
    const double cpuPerAnswer = (cpuMs(server.processId()) - cpuBefore) / std::max(1, f.answered);
    const double rate = double(clients) * callsPerRefresh / refreshSeconds;
    std::printf("%-34s offered %5.0f/s for %d s: answered %6.1f/s (%d of %d, %d not in time), "
                "p50 %7.1f ms, p95 %7.1f ms; %.2f ms of processor per request%s\n",
                cache ? "after  (verified credentials kept)" : "before (PBKDF2 every request)",
                rate, seconds, f.answered / double(seconds), f.answered, f.sent, f.failed,
                percentile(f.latencyMs, 0.5), percentile(f.latencyMs, 0.95), cpuPerAnswer,
                cache ? qPrintable(QStringLiteral("; warm-up %1 s for %2 accounts")
                                       .arg(warmUpS, 0, 'f', 1)
                                       .arg(accounts))
                      : "");
    std::fflush(stdout);
    server.kill();
    server.waitForFinished();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--serve")
        return serve(args[2], args[3].toInt(), args[4] == u"cache");

    const int clients = args.size() > 1 ? args[1].toInt() : 5000;
    const int seconds = args.size() > 2 ? args[2].toInt() : 20;
    const int accounts = args.size() > 3 ? args[3].toInt() : clients;
    // The clients keep off the deployment's core where there is another one.
    cpu_set_t others;
    CPU_ZERO(&others);
    for (int cpu = 1; cpu < CPU_SETSIZE && cpu < 64; ++cpu)
        CPU_SET(cpu, &others);
    sched_setaffinity(0, sizeof others, &others);

    QTemporaryDir dir;
    std::printf("bench_portal_load: %d clients, %d accounts, 4 portal calls per client every "
                "%d s, deployment on one core\n",
                clients, accounts, refreshSeconds);
    return measure(dir.path(), clients, seconds, accounts, false) &&
                   measure(dir.path(), clients, seconds, accounts, true)
               ? 0
               : 1;
}
