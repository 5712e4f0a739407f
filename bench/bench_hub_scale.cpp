// The conference service under many signed-in engines, with one instance on SQLite and with two
// instances on one PostgreSQL database. The engines are light stand-ins on the service's
// WebSocket (SimulatedEngine: sign in, enter a room by its key, chat, leave and come back; no
// media), spread over the instances in turn, ten to a room so that every room has people on
// both. Under a steady stream of requests (chats, and people leaving and coming back, which
// changes their presence and every roster of the room) it measures:
// - how long a chat message and a roster change take from one engine to the others, apart for
//   engines on another instance than the sender's;
// - the processor time per request of the deployment's processes, PostgreSQL's included;
// - how many engines lost their session.
// The per-address limits are raised for the run (--connections-per-address,
// --websockets-per-address, --max-lines): every engine comes from this one address. On a
// 2-core machine both instances and the database share the cores with the engines: compare
// cost, not throughput. Run by hand:
//   build/bench/bench_hub_scale [--engines N] [--seconds S] [--rate R] [--only sqlite|postgres]
//                          [--presence PERCENT]
// (defaults 2000 engines, 60 s, 50 requests/s, 20% of them presence changes; uses 127.0.0.201 to
// .203, ports 8080/9090).

#include "bench/SimulatedEngine.h"
#include "services/PasswordHash.h"
#include "services/ServiceDatabase.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ServicesProcess.h"

#include "bench/ProcessTime.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlQuery>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr qint64 firstMember = 100000;
constexpr qint64 firstRoom = 900000;
constexpr int warmUpMs = 5000;
const QString password = QStringLiteral("load1234");

struct Options
{
    int engines = 2000;
    int seconds = 60;
    int rate = 50;
    int roomSize = 10;
    int presencePercent = 20; ///< of the requests: leaving, and coming back shortly after
    QString only;
};

QString userName(int i)
{
    return QStringLiteral("load%1").arg(i);
}

double cpuSeconds(qint64 pid)
{
    return ProcessTime::seconds(pid);
}

double cpuSeconds(const std::vector<qint64> &pids)
{
    double total = 0;
    for (qint64 pid : pids)
        total += cpuSeconds(pid);
    return total;
}

/// PostgreSQL's postmaster and every process it started (one backend per connection).
std::vector<qint64> postgresPids(const PostgresServer &server)
{
    QFile pidFile(server.socketDir() + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return {};
    const qint64 postmaster = pidFile.readLine().trimmed().toLongLong();
    std::vector<qint64> pids{postmaster};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry.front().isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...: the name may hold spaces, so read after its ")".
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == postmaster)
            pids.push_back(entry.toLongLong());
    }
    return pids;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2)
                                          : QString();
}

/// Lets this process and the deployment it starts hold a descriptor per engine and more.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

/// `engines` members with accounts sharing one password hash (made once: no PBKDF2 each), and
/// their rooms, each with a key of its own, written in one transaction.
bool populate(ServiceDatabase &db, const Options &options, QStringList *roomKeys)
{
    const QByteArray salt = PasswordHash::newSalt();
    const QByteArray hash = PasswordHash::hash(password, salt);
    if (!db.transaction())
        return false;
    QSqlQuery entity(db.connection()), account(db.connection());
    entity.prepare(QStringLiteral("INSERT INTO entities(entityID, kind, displayName, ownerID,"
                                  " roomKey, capacity) VALUES(?,?,?,?,?,?)"));
    account.prepare(QStringLiteral("INSERT INTO accounts(userName, entityID, salt, hash, coId)"
                                   " VALUES(?,?,?,?,'C001')"));
    bool ok = true;
    for (int i = 0; ok && i < options.engines; ++i) {
        for (const QVariant &v :
             {QVariant(firstMember + i), QVariant(QStringLiteral("Member")),
              QVariant(QStringLiteral("成员 %1").arg(i)), QVariant(firstMember + i),
              QVariant(ServiceDatabase::newRoomKey()), QVariant(50)})
            entity.addBindValue(v);
        account.addBindValue(userName(i));
        account.addBindValue(firstMember + i);
        account.addBindValue(salt);
        account.addBindValue(hash);
        ok = db.run(entity) && db.run(account);
    }
    const int rooms = (options.engines + options.roomSize - 1) / options.roomSize;
    for (int r = 0; ok && r < rooms; ++r) {
        roomKeys->append(ServiceDatabase::newRoomKey());
        for (const QVariant &v :
             {QVariant(firstRoom + r), QVariant(QStringLiteral("Room")),
              QVariant(QStringLiteral("会议室 %1").arg(r)), QVariant(firstMember),
              QVariant(roomKeys->last()), QVariant(options.roomSize * 2)})
            entity.addBindValue(v);
        ok = db.run(entity);
    }
    if (!ok) {
        db.rollback();
        return false;
    }
    return db.commit();
}

/// Sorted samples in milliseconds: count, median, 95th percentile, maximum.
QString summary(std::vector<double> samples)
{
    if (samples.empty())
        return QStringLiteral("no samples");
    std::sort(samples.begin(), samples.end());
    const auto at = [&samples](double q) {
        return samples[std::min(samples.size() - 1, size_t(q * double(samples.size())))];
    };
    return QStringLiteral("n=%1 median %2 ms, p95 %3 ms, max %4 ms")
        .arg(samples.size())
        .arg(at(0.5), 0, 'f', 1)
        .arg(at(0.95), 0, 'f', 1)
        .arg(samples.back(), 0, 'f', 1);
}

double percentile95(std::vector<double> samples)
{
    if (samples.empty())
        return -1;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(0.95 * double(samples.size())))];
}

/// Runs the event loop until `done` holds or `ms` have passed; whether it holds. Unlike
/// QTest::qWait, which sleeps 10 ms between rounds of events, this adds no delay of its own to
/// what it measures.
bool runUntil(const std::function<bool()> &done, int ms)
{
    QEventLoop loop;
    QTimer check, deadline;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(50);
    deadline.setSingleShot(true);
    deadline.start(ms);
    if (!done())
        loop.exec();
    return done();
}

void runFor(int ms)
{
    (void)runUntil([] { return false; }, ms);
}

/// A roster change under way in a room: who left or came back, when, and who has seen it.
struct Change
{
    qint64 sentNs = 0;
    SimulatedEngine *who = nullptr;
    bool present = false;
    QSet<int> seen;
};

struct Figures
{
    std::vector<double> chatOther, chatSame, rosterOther, rosterSame;
    qint64 requests = 0;
    qint64 delivered = 0;
    double cpuServices = 0;
    double cpuPostgres = 0;
    double cpuBench = 0;
    int lostInSetup = 0;
    int lost = 0;
    QStringList lostWhy;
    qint64 setupMs = 0;
    QString loadBefore, loadAfter;
    bool ok = false;
};

/// One configuration's run: the engines on `urls` in turn, then the steady load.
class Run final : public QObject
{
public:
    Run(const Options &options, const QList<QUrl> &urls, const QStringList &roomKeys)
        : m_options(options)
        , m_urls(urls)
        , m_roomKeys(roomKeys)
    {
        m_clock.start();
    }

    /// Signs every engine in and into its room, a few at a time; false when that did not end.
    bool setUp()
    {
        QElapsedTimer setup;
        setup.start();
        for (int i = 0; i < m_options.engines; ++i) {
            auto engine = std::make_unique<SimulatedEngine>(i, i % int(m_urls.size()));
            SimulatedEngine *e = engine.get();
            connect(e, &SimulatedEngine::connected, this,
                    [e] { e->signIn(userName(e->index()), password); });
            connect(e, &SimulatedEngine::received, this,
                    [this, e](const QJsonObject &m) { heard(e, m); });
            connect(e, &SimulatedEngine::sessionLost, this, [this, e](const QString &why) {
                if (m_measuring || m_loading) {
                    ++m_figures.lost;
                    if (m_figures.lostWhy.size() < 5)
                        m_figures.lostWhy.append(QStringLiteral("%1: %2").arg(e->index()).arg(why));
                } else {
                    ++m_figures.lostInSetup;
                }
                startNext();
            });
            m_engines.push_back(std::move(engine));
        }
        constexpr int inFlight = 32;
        for (int i = 0; i < inFlight; ++i)
            startNext();
        const bool done =
            runUntil([this] { return m_ready + m_figures.lostInSetup >= m_options.engines; },
                     20 * 60 * 1000);
        m_figures.setupMs = setup.elapsed();
        std::printf("  %d engines signed in and in their rooms in %.1f s (%d lost on the way)\n",
                    m_ready, double(m_figures.setupMs) / 1000, m_figures.lostInSetup);
        std::fflush(stdout);
        return done && m_figures.lostInSetup == 0;
    }

    /// The steady load: warm-up, then `seconds` measured, the processes' time sampled around it.
    Figures measure(const std::vector<qint64> &services,
                    const std::function<std::vector<qint64>()> &postgres)
    {
        QTimer ticker;
        constexpr int tickMs = 10;
        double owed = 0;
        connect(&ticker, &QTimer::timeout, this, [&] {
            owed += m_options.rate * tickMs / 1000.0;
            for (; owed >= 1; owed -= 1)
                request();
        });
        m_loading = true;
        ticker.start(tickMs);
        runFor(warmUpMs);
        const std::vector<qint64> database = postgres();
        const double servicesBefore = cpuSeconds(services);
        const double postgresBefore = cpuSeconds(database);
        const double benchBefore = cpuSeconds(QCoreApplication::applicationPid());
        m_figures.loadBefore = loadAverage();
        m_measuring = true;
        m_figures.requests = m_figures.delivered = 0;
        runFor(m_options.seconds * 1000);
        m_measuring = false;
        m_figures.cpuServices = cpuSeconds(services) - servicesBefore;
        m_figures.cpuPostgres = cpuSeconds(database) - postgresBefore;
        m_figures.cpuBench = cpuSeconds(QCoreApplication::applicationPid()) - benchBefore;
        m_figures.loadAfter = loadAverage();
        ticker.stop();
        m_loading = false;
        m_figures.ok = true;
        return m_figures;
    }

private:
    void startNext()
    {
        if (m_next >= m_options.engines)
            return;
        SimulatedEngine *e = m_engines[size_t(m_next++)].get();
        e->open(m_urls.at(e->instance()));
    }

    int roomOf(const SimulatedEngine *e) const { return e->index() / m_options.roomSize; }

    void heard(SimulatedEngine *e, const QJsonObject &m)
    {
        const QString type = m.value(QLatin1String("type")).toString();
        if (type == u"signedIn" && !m_loading) {
            e->enter(m_roomKeys.at(roomOf(e)));
        } else if (type == u"conference" && !m_loading) {
            ++m_ready;
            startNext();
        } else if (type == u"conferenceEnded" && m_loading) {
            // Back after a moment: another presence and roster change.
            QTimer::singleShot(300, e, [this, e] {
                if (e->lost())
                    return;
                m_changes[roomOf(e)] = {m_clock.nsecsElapsed(), e, true, {}};
                e->enter(m_roomKeys.at(roomOf(e)));
                counted();
            });
        } else if (type == u"chat") {
            heardChat(e, m.value(QLatin1String("text")).toString());
        } else if (type == u"participants") {
            heardRoster(e, m.value(QLatin1String("participants")).toArray());
        }
    }

    void heardChat(const SimulatedEngine *e, const QString &text)
    {
        if (!m_measuring)
            return;
        ++m_figures.delivered;
        const double ms =
            double(m_clock.nsecsElapsed() - text.section(u' ', 0, 0).toLongLong()) / 1e6;
        (text.section(u' ', 1, 1).toInt() == e->instance() ? m_figures.chatSame
                                                           : m_figures.chatOther)
            .push_back(ms);
    }

    void heardRoster(const SimulatedEngine *e, const QJsonArray &people)
    {
        const auto it = m_changes.find(roomOf(e));
        if (it == m_changes.end() || it->who == e || it->seen.contains(e->index()))
            return;
        const bool present = std::any_of(people.begin(), people.end(), [&](const QJsonValue &p) {
            return p.toObject().value(QLatin1String("participantID")).toString() == it->who->tag();
        });
        if (present != it->present)
            return;
        it->seen.insert(e->index());
        if (!m_measuring)
            return;
        ++m_figures.delivered;
        const double ms = double(m_clock.nsecsElapsed() - it->sentNs) / 1e6;
        (it->who->instance() == e->instance() ? m_figures.rosterSame : m_figures.rosterOther)
            .push_back(ms);
    }

    /// One request by an engine picked at random: mostly a chat to its room, else it leaves
    /// (and comes back shortly), in a room where no such change is under way.
    void request()
    {
        auto *random = QRandomGenerator::global();
        SimulatedEngine *e = m_engines[size_t(random->bounded(m_options.engines))].get();
        if (!e->inRoom())
            return;
        if (random->bounded(100) >= m_options.presencePercent) {
            e->chat(QStringLiteral("%1 %2").arg(m_clock.nsecsElapsed()).arg(e->instance()));
        } else {
            const auto it = m_changes.constFind(roomOf(e));
            if (it != m_changes.cend() && m_clock.nsecsElapsed() - it->sentNs < 2'000'000'000)
                return;
            m_changes[roomOf(e)] = {m_clock.nsecsElapsed(), e, false, {}};
            e->leave();
        }
        counted();
    }

    void counted()
    {
        if (m_measuring)
            ++m_figures.requests;
    }

    const Options &m_options;
    QList<QUrl> m_urls;
    QStringList m_roomKeys;
    QElapsedTimer m_clock;
    std::vector<std::unique_ptr<SimulatedEngine>> m_engines;
    QHash<int, Change> m_changes;
    Figures m_figures;
    int m_next = 0;
    int m_ready = 0;
    bool m_loading = false;
    bool m_measuring = false;
};

QStringList loadTestArguments()
{
    return {QStringLiteral("--no-turn"), QStringLiteral("--max-lines"),
            QStringLiteral("1000000"),   QStringLiteral("--connections-per-address"),
            QStringLiteral("1000000"),   QStringLiteral("--websockets-per-address"),
            QStringLiteral("1000000")};
}

QUrl conferenceUrl(const ServicesProcess &instance)
{
    return QUrl(
        QStringLiteral("ws://%1:%2/conference").arg(instance.host()).arg(instance.portalPort()));
}

void report(const char *name, const Figures &f, int seconds)
{
    const double cpu = f.cpuServices + f.cpuPostgres;
    std::printf("%s\n  machine load (1, 5, 15 min) before %s, after %s\n", name,
                qPrintable(f.loadBefore), qPrintable(f.loadAfter));
    std::printf("  %lld requests in %d s (%.1f/s), %lld messages delivered\n", f.requests, seconds,
                double(f.requests) / seconds, f.delivered);
    std::printf("  processor time: services %.2f s, PostgreSQL %.2f s, these engines %.2f s\n",
                f.cpuServices, f.cpuPostgres, f.cpuBench);
    std::printf("  per request: %.3f ms\n", f.requests ? cpu * 1000 / double(f.requests) : 0.0);
    std::printf("  chat, other instance: %s\n", qPrintable(summary(f.chatOther)));
    std::printf("  chat, same instance:  %s\n", qPrintable(summary(f.chatSame)));
    std::printf("  roster, other instance: %s\n", qPrintable(summary(f.rosterOther)));
    std::printf("  roster, same instance:  %s\n", qPrintable(summary(f.rosterSame)));
    std::printf("  sessions lost during the load: %d %s\n", f.lost,
                qPrintable(f.lostWhy.join(u"; ")));
    std::fflush(stdout);
}

Figures runSqlite(const Options &options)
{
    ServicesProcess instance(QStringLiteral(ORVALE_SERVICES), QStringLiteral("127.0.0.201"),
                             loadTestArguments());
    if (!instance.start()) {
        std::fprintf(stderr, "the deployment did not start:\n%s\n", qPrintable(instance.output()));
        return {};
    }
    QStringList keys;
    {
        ServiceDatabase db;
        QString error;
        if (!db.open(instance.dataPath() + QStringLiteral("/orvale.sqlite"), false, &error) ||
            !populate(db, options, &keys)) {
            std::fprintf(stderr, "could not write the accounts: %s\n", qPrintable(error));
            return {};
        }
    }
    std::printf("One instance on SQLite, %d engines\n", options.engines);
    Run run(options, {conferenceUrl(instance)}, keys);
    if (!run.setUp())
        return {};
    return run.measure({instance.processId()}, [] { return std::vector<qint64>{}; });
}

Figures runPostgres(const Options &options)
{
    PostgresServer postgres;
    QString error;
    if (!postgres.start(&error, QStringLiteral("127.0.0.203")) ||
        !postgres.createDatabase(QStringLiteral("orvale"), &error)) {
        std::fprintf(stderr, "PostgreSQL did not start: %s\n", qPrintable(error));
        return {};
    }
    const QString url = postgres.socketUrl(QStringLiteral("orvale"));
    std::vector<std::unique_ptr<ServicesProcess>> instances;
    for (int i = 0; i < 2; ++i) {
        instances.push_back(std::make_unique<ServicesProcess>(
            QStringLiteral(ORVALE_SERVICES), QStringLiteral("127.0.0.%1").arg(201 + i),
            loadTestArguments() + QStringList{QStringLiteral("--database"), url,
                                              QStringLiteral("--instance-id"),
                                              QStringLiteral("instance%1").arg(i + 1)}));
        if (!instances.back()->start()) {
            std::fprintf(stderr, "instance %d did not start:\n%s\n", i + 1,
                         qPrintable(instances.back()->output()));
            return {};
        }
    }
    QStringList keys;
    {
        ServiceDatabase db;
        DatabaseSettings settings;
        if (!DatabaseSettings::parse(url, {}, &settings, &error) ||
            !db.open(settings, false, &error) || !populate(db, options, &keys)) {
            std::fprintf(stderr, "could not write the accounts: %s\n", qPrintable(error));
            return {};
        }
    }
    std::printf("Two instances on one PostgreSQL, %d engines\n", options.engines);
    Run run(options, {conferenceUrl(*instances[0]), conferenceUrl(*instances[1])}, keys);
    if (!run.setUp())
        return {};
    return run.measure({instances[0]->processId(), instances[1]->processId()},
                       [&postgres] { return postgresPids(postgres); });
}

Options parse(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("engines"), QStringLiteral("Signed-in engines."), QStringLiteral("count")},
        {QStringLiteral("seconds"), QStringLiteral("Measured seconds."), QStringLiteral("s")},
        {QStringLiteral("rate"), QStringLiteral("Requests per second."), QStringLiteral("count")},
        {QStringLiteral("only"), QStringLiteral("sqlite or postgres."), QStringLiteral("which")},
        {QStringLiteral("presence"),
         QStringLiteral("Percent of requests that leave a room and come back (default 20)."),
         QStringLiteral("percent")},
    });
    parser.process(app);
    Options options;
    const auto read = [&parser](const QString &name, int *value) {
        if (parser.isSet(name))
            *value = std::max(1, parser.value(name).toInt());
    };
    read(QStringLiteral("engines"), &options.engines);
    read(QStringLiteral("seconds"), &options.seconds);
    read(QStringLiteral("rate"), &options.rate);
    options.only = parser.value(QStringLiteral("only"));
    if (parser.isSet(QStringLiteral("presence")))
        options.presencePercent =
            std::clamp(parser.value(QStringLiteral("presence")).toInt(), 0, 100);
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    raiseDescriptorLimit();
    QCoreApplication app(argc, argv);
    const Options options = parse(app);
    std::printf("%d engines, %d to a room, %d requests/s (%d%% chat, %d%% leave and come back),"
                " %d s measured after %d s of warm-up\n",
                options.engines, options.roomSize, options.rate, 100 - options.presencePercent,
                options.presencePercent, options.seconds, warmUpMs / 1000);
    Figures sqlite, postgres;
    if (options.only != u"postgres") {
        sqlite = runSqlite(options);
        if (sqlite.ok)
            report("One instance, SQLite", sqlite, options.seconds);
    }
    if (options.only != u"sqlite") {
        postgres = runPostgres(options);
        if (postgres.ok)
            report("Two instances, PostgreSQL", postgres, options.seconds);
    }
    bool met = true;
    if (postgres.ok) {
        const double p95 =
            std::max(percentile95(postgres.chatOther), percentile95(postgres.rosterOther));
        std::printf("Goal: p95 between instances <= 50 ms: %.1f ms\n", p95);
        std::printf("Goal: no session lost: %d lost\n", postgres.lost);
        met = met && p95 >= 0 && p95 <= 50 && postgres.lost == 0;
    }
    if (sqlite.ok && postgres.ok && sqlite.requests && postgres.requests) {
        const double one = sqlite.cpuServices / double(sqlite.requests);
        const double two =
            (postgres.cpuServices + postgres.cpuPostgres) / double(postgres.requests);
        std::printf("Goal: processor time per request, PostgreSQL and two instances <= 1.5x one "
                    "on SQLite: %.2fx\n",
                    two / one);
        met = met && two <= 1.5 * one;
    }
    const bool ran =
        (options.only == u"postgres" || sqlite.ok) && (options.only == u"sqlite" || postgres.ok);
    return ran ? (met ? 0 : 1) : 2;
}
