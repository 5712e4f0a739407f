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
#include <QHash>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <limits>
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
    qint64 elapsedMs = 0; ///< from the first request to the last answer or the give-up
    std::vector<double> latencyMs;
};

/// The clients' side: `clients` refreshes every 30 s, spread evenly, over plain keep-alive HTTP
/// connections (a network access manager's own work per request would be measured too). An
/// answer's time counts from when its client would have sent it, waiting for a free
/// connection included.
class Load final : public QObject
{
public:
    Load(quint16 port, int clients, int accounts)
        : m_port(port)
        , m_clients(clients)
        , m_accounts(accounts)
    {
        m_clock.start();
        for (int i = 0; i < 64; ++i) {
            m_connections.push_back(std::make_unique<Connection>());
            open(*m_connections.back());
        }
    }

    ~Load() override
    {
        for (const auto &c : m_connections)
            c->socket.disconnect(this); // no reconnecting while going
    }

    /// Each account's first request, a few at a time: what the service does once per account.
    void warmUp()
    {
        int done = 0, next = 0;
        m_done = [&](int, double) {
            ++done;
            if (next < m_accounts)
                submit(next++, 0);
        };
        for (; next < std::min(8, m_accounts); ++next)
            submit(next, 0);
        while (done < m_accounts)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    Figures run(int seconds)
    {
        Figures figures;
        const double rate = double(m_clients) * callsPerRefresh / refreshSeconds;
        const int total = int(rate * seconds);
        m_done = [&](int status, double ms) {
            ++(status == 200 ? figures.answered : figures.failed);
            figures.latencyMs.push_back(ms);
        };
        const qint64 start = m_clock.nsecsElapsed();
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            const double elapsed = (m_clock.nsecsElapsed() - start) / 1e9;
            const int due = std::min(total, int(elapsed * rate));
            for (; figures.sent < due; ++figures.sent)
                submit((figures.sent / callsPerRefresh) % m_clients % m_accounts,
                       figures.sent % callsPerRefresh);
        });
        tick.start(5);
        // After the last request, answers still count for as long again as the run.
        const qint64 until = start + qint64(seconds) * 2 * 1000000000;
        while (figures.answered + figures.failed < total && m_clock.nsecsElapsed() < until)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tick.stop();
        figures.elapsedMs = (m_clock.nsecsElapsed() - start) / 1000000;
        m_queue.clear();
        m_done = [](int, double) {};
        return figures;
    }

private:
    struct Pending
    {
        QByteArray request;
        qint64 queuedNs = 0;
    };
    struct Connection
    {
        QTcpSocket socket;
        QByteArray received;
        bool busy = false;
        qint64 queuedNs = 0;
    };

    void open(Connection &c)
    {
        connect(&c.socket, &QTcpSocket::connected, this, [this, &c] {
            c.socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            pump();
        });
        connect(&c.socket, &QTcpSocket::readyRead, this, [this, &c] { read(c); });
        connect(&c.socket, &QTcpSocket::disconnected, this, [this, &c] {
            if (c.busy)
                finish(c, 0);
            c.received.clear();
            c.socket.connectToHost(QHostAddress::LocalHost, m_port);
        });
        c.socket.connectToHost(QHostAddress::LocalHost, m_port);
    }

    void submit(int account, int call)
    {
        QByteArray &prepared = m_requests[account * callsPerRefresh + call];
        if (prepared.isEmpty())
            prepared = request(account, call);
        m_queue.push_back({prepared, m_clock.nsecsElapsed()});
        pump();
    }

    void pump()
    {
        for (const auto &c : m_connections) {
            if (m_queue.empty())
                return;
            if (c->busy || c->socket.state() != QAbstractSocket::ConnectedState)
                continue;
            c->busy = true;
            c->queuedNs = m_queue.front().queuedNs;
            c->socket.write(m_queue.front().request);
            m_queue.pop_front();
        }
    }

    /// One whole answer in: its status line and a body of its Content-Length.
    void read(Connection &c)
    {
        c.received += c.socket.readAll();
        const qsizetype headerEnd = c.received.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QByteArray header = c.received.left(headerEnd).toLower();
        const qsizetype at = header.indexOf("content-length:");
        const qsizetype length =
            at < 0 ? 0 : header.mid(at + 15, header.indexOf('\r', at) - at - 15).trimmed().toInt();
        if (c.received.size() < headerEnd + 4 + length)
            return;
        const int status = c.received.mid(9, 3).toInt();
        c.received.remove(0, headerEnd + 4 + length);
        finish(c, status);
        pump();
    }

    void finish(Connection &c, int status)
    {
        c.busy = false;
        m_done(status, (m_clock.nsecsElapsed() - c.queuedNs) / 1e6);
    }

    QByteArray request(int account, int call) const
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
        const QByteArray body =
            QStringLiteral(
                "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
                "xmlns:ns1=\"http://portal.orvale.example/\"><e:Body>%1</e:Body></e:Envelope>")
                .arg(operation)
                .toUtf8();
        return "POST /services/v1_1/PortalUserService HTTP/1.1\r\nHost: 127.0.0.1:" +
               QByteArray::number(m_port) +
               "\r\nContent-Type: application/soap+xml; charset=utf-8\r\nAuthorization: Basic " +
               (userName(account) + u':' + password).toUtf8().toBase64() +
               "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }

    quint16 m_port;
    int m_clients;
    int m_accounts;
    QElapsedTimer m_clock;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::deque<Pending> m_queue;
    QHash<int, QByteArray> m_requests; ///< made once: the clients' own work is not measured
    std::function<void(int, double)> m_done = [](int, double) {};
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
    const double cpuUsed = cpuMs(server.processId()) - cpuBefore;
    const double rate = double(clients) * callsPerRefresh / refreshSeconds;
    // Requests never answered count as slower than any answer.
    std::vector<double> all = f.latencyMs;
    all.resize(f.sent, std::numeric_limits<double>::infinity());
    const auto shown = [](double ms) {
        return std::isinf(ms) ? QStringLiteral("unanswered")
                              : QStringLiteral("%1 ms").arg(ms, 0, 'f', 1);
    };
    const double wallMs = 1000.0 * seconds;
    std::printf("%-34s offered %5.0f/s for %d s: answered %6.1f/s (%d of %d), p50 %s, p95 %s; "
                "processor %3.0f%% of its core, %.2f ms per answer%s\n",
                cache ? "after  (verified credentials kept)" : "before (PBKDF2 every request)",
                rate, seconds, f.answered / double(seconds), f.answered, f.sent,
                qPrintable(shown(percentile(all, 0.5))), qPrintable(shown(percentile(all, 0.95))),
                100.0 * cpuUsed / std::max(wallMs, double(f.elapsedMs)),
                cpuUsed / std::max(1, f.answered),
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

    // What the portal spends per request without the cache: one password check.
    QElapsedTimer check;
    check.start();
    const QByteArray salt = PasswordHash::newSalt();
    for (int i = 0; i < 5; ++i)
        PasswordHash::hash(password, salt);
    const double checkMs = check.nsecsElapsed() / 5e6;
    QTemporaryDir dir;
    std::printf("bench_portal_load: %d clients, %d accounts, 4 portal calls per client every "
                "%d s, deployment on one core; one password check takes %.0f ms here, %.0f a "
                "second on a core\n",
                clients, accounts, refreshSeconds, checkMs, 1000 / checkMs);
    return measure(dir.path(), clients, seconds, accounts, false) &&
                   measure(dir.path(), clients, seconds, accounts, true)
               ? 0
               : 1;
}
