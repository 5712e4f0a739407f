#include "model/AppStatus.h"
#include "net/LoginRequest.h"
#include "net/NetWork.h"
#include "tests/support/Needs.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHost.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QWebSocket>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct Ran
{
    int exitCode = -1;
    QString out;
    QString err;
};

/// Whether a request succeeded, once it answered.
bool answered(NetWork *request, bool *success)
{
    auto outcome = std::make_shared<int>(0); // 0: waiting, 1: success, 2: failure
    request->setSuccessBlock(QCoreApplication::instance(),
                             [outcome](const QVariant &) { *outcome = 1; });
    request->setFailBlock(QCoreApplication::instance(),
                          [outcome](const NetworkError &) { *outcome = 2; });
    request->startRequest();
    const bool done = QTest::qWaitFor([outcome] { return *outcome != 0; }, 15000);
    *success = *outcome == 1;
    return done;
}

} // namespace

/// The account and room commands run as processes on the database of a running deployment
/// that started without any account: the service sees each change at its next request.
class TestAccounts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void startsEmptyAndSaysHowToAddAnAccount();
    void accountLifecycle_data();
    void accountLifecycle();
    void refusals_data();
    void refusals();
    void listsAccountsAndRooms();
    void disablingEndsAConferenceSession();
    void commandsAndServiceWriteSideBySide();
    void deploymentOnPostgres();

private:
    /// Where the commands find the deployment's database.
    QStringList location() const;
    Ran run(const QStringList &arguments, const QByteArray &input = {}) const;
    void add(const QString &user, const QString &password, const QStringList &options = {});
    /// Whether the login service and the portal both accept the user's password.
    bool signsIn(const QString &user, const QString &password);
    bool loginAccepts(const QString &user, const QString &password);
    bool portalAccepts(const QString &user, const QString &password);
    /// A portal call of frank's that writes to the database: whether it succeeded.
    bool portalWrites(const QString &body, const QString &action);
    std::unique_ptr<QWebSocket> conferenceSession(const QString &user, const QString &password);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ServicesProcess> m_services;
    QStringList m_database; ///< the --database options of m_services, if any
};

void TestAccounts::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    m_services = std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost());
    m_services->setEmpty();
    QVERIFY2(m_services->start(), qPrintable(m_services->output()));
}

void TestAccounts::startsEmptyAndSaysHowToAddAnAccount()
{
    const QString first = m_services->output().section(u'\n', 0, 0);
    QVERIFY2(first.contains(QStringLiteral("no accounts yet: add one with `orvale-services account "
                                           "add NAME --data %1`")
                                .arg(m_services->dataPath())),
             qPrintable(m_services->output()));
    QCOMPARE(run({QStringLiteral("account"), QStringLiteral("list")}).out, QString());
    QVERIFY(!loginAccepts(QStringLiteral("demo"), QStringLiteral("demo1234")));
    // The first account signs in at once.
    add(QStringLiteral("frank"), QStringLiteral("frank-secret"));
    QVERIFY(signsIn(QStringLiteral("frank"), QStringLiteral("frank-secret")));
}

void TestAccounts::accountLifecycle_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("accepted"); ///< a password of erin's that signs in, if any
    QTest::addColumn<QString>("refused");  ///< one that does not, if any
    const auto erin = [](const char *verb) {
        return QStringList{QStringLiteral("account"), QString::fromLatin1(verb),
                           QStringLiteral("erin")};
    };
    QTest::newRow("add") << erin("add") << "first-secret\n"
                         << "first-secret"
                         << "second-secret";
    QTest::newRow("passwd") << erin("passwd") << "second-secret\n"
                            << "second-secret"
                            << "first-secret";
    QTest::newRow("disable") << erin("disable") << ""
                             << ""
                             << "second-secret";
    QTest::newRow("enable") << erin("enable") << ""
                            << "second-secret"
                            << "";
    QTest::newRow("remove") << erin("remove") << ""
                            << ""
                            << "second-secret";
}

void TestAccounts::accountLifecycle()
{
    QFETCH(QStringList, command);
    QFETCH(QString, input);
    QFETCH(QString, accepted);
    QFETCH(QString, refused);
    const Ran ran = run(command, input.toUtf8());
    QVERIFY2(ran.exitCode == 0, qPrintable(ran.err));
    QVERIFY(ran.err.isEmpty());
    if (!accepted.isEmpty())
        QVERIFY(signsIn(QStringLiteral("erin"), accepted));
    if (!refused.isEmpty()) {
        QVERIFY(!loginAccepts(QStringLiteral("erin"), refused));
        QTest::ignoreMessage(QtWarningMsg, "请求数据失败 , MyAccountRequest");
        QVERIFY(!portalAccepts(QStringLiteral("erin"), refused));
    }
}

void TestAccounts::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    const auto args = [](const QString &line) { return line.split(u' '); };
    QTest::newRow("unknown name") << args("account passwd nobody") << "nobody-secret\n"
                                  << 1 << "no account nobody";
    QTest::newRow("name taken") << args("account add frank") << "another-secret\n"
                                << 1 << "account frank exists already";
    QTest::newRow("short password") << args("account add gina") << "gina123\n"
                                    << 1 << "at least 8 characters";
    QTest::newRow("password is the name") << args("account add ginagina") << "GinaGina\n"
                                          << 1 << "must not be the user name";
    QTest::newRow("no password") << args("account add gina") << "" << 1
                                 << "no password on standard input";
    QTest::newRow("password on the command line") << args("account add gina --password gina-secret")
                                                  << "" << 2 << "never taken from the command line";
    QTest::newRow("password as an argument")
        << args("account add gina gina-secret") << "gina-secret\n"
        << 2 << "usage:";
    QTest::newRow("not a user name") << args("account add gi:na") << "gina-secret\n"
                                     << 1 << "is not a user name";
    QTest::newRow("unknown command")
        << args("account rename frank") << "" << 2 << "no account command rename";
    QTest::newRow("room of nobody")
        << args("room add Hall --owner nobody") << "" << 1 << "no account nobody";
    QTest::newRow("room without owner")
        << args("room add Hall") << "" << 1 << "a room needs an owner";
    QTest::newRow("room of no seats")
        << args("room add Hall --owner frank --seats 0") << "" << 1 << "1 to 1000 seats";
    QTest::newRow("PIN of letters") << args("room add Hall --owner frank --pin") << "12ab\n"
                                    << 1 << "4 to 16 digits";
    QTest::newRow("unknown room") << args("room remove Hall") << "" << 1 << "no room Hall";
}

void TestAccounts::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, input);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const QString accountsBefore = run({QStringLiteral("account"), QStringLiteral("list")}).out;
    const QString roomsBefore = run({QStringLiteral("room"), QStringLiteral("list")}).out;
    const Ran ran = run(arguments, input.toUtf8());
    QCOMPARE(ran.exitCode, exitCode);
    QVERIFY2(ran.err.contains(error), qPrintable(ran.err));
    QVERIFY(ran.out.isEmpty());
    QCOMPARE(run({QStringLiteral("account"), QStringLiteral("list")}).out, accountsBefore);
    QCOMPARE(run({QStringLiteral("room"), QStringLiteral("list")}).out, roomsBefore);
    QVERIFY(!loginAccepts(QStringLiteral("gina"), QStringLiteral("gina-secret")));
}

void TestAccounts::listsAccountsAndRooms()
{
    add(QStringLiteral("hana"), QStringLiteral("hana-secret"),
        {QStringLiteral("--display-name"), QStringLiteral("Hana 花"), QStringLiteral("--admin")});
    add(QStringLiteral("ivan"), QStringLiteral("ivan-secret"));
    QCOMPARE(run({QStringLiteral("account"), QStringLiteral("disable"), QStringLiteral("ivan")})
                 .exitCode,
             0);
    const Ran room = run({QStringLiteral("room"), QStringLiteral("add"), QStringLiteral("周会"),
                          QStringLiteral("--owner"), QStringLiteral("hana"),
                          QStringLiteral("--seats"), QStringLiteral("8"), QStringLiteral("--pin")},
                         "2468\n");
    QVERIFY2(room.exitCode == 0, qPrintable(room.err));
    const QString roomId = room.out.section(u'(', 1).section(u')', 0, 0);

    const QStringList accounts =
        run({QStringLiteral("account"), QStringLiteral("list")}).out.split(u'\n');
    const auto line = [&accounts](const QString &user) {
        for (const QString &l : accounts)
            if (l.startsWith(user + u'\t'))
                return l.section(u'\t', 2);
        return QString();
    };
    QCOMPARE(line(QStringLiteral("hana")), QStringLiteral("enabled\tadmin\tHana 花"));
    QCOMPARE(line(QStringLiteral("ivan")), QStringLiteral("disabled\tmember\tivan"));
    QCOMPARE(run({QStringLiteral("room"), QStringLiteral("list")}).out,
             roomId + QStringLiteral("\t周会\thana\t8\tPIN\n"));

    // The owner finds the new room among its contacts.
    AppStatus::shareStatus()->setIsSignIn(true);
    NetWork *contacts = NetWork::initWithUrlString(
        m_services->portal() + QStringLiteral("/services/v1_1/PortalUserService?"),
        QStringLiteral("<ns1:SearchMyContactsRequest/>"),
        QStringLiteral("SearchMyContactsRequest"));
    contacts->setAuth(
        LoginRequest::authorization(QStringLiteral("hana"), QStringLiteral("hana-secret")));
    QVariant found;
    contacts->setSuccessBlock(QCoreApplication::instance(),
                              [&found](const QVariant &value) { found = value; });
    contacts->startRequest();
    QTRY_VERIFY_WITH_TIMEOUT(found.isValid(), 15000);
    QVERIFY(QString::fromUtf8(QJsonDocument::fromVariant(found).toJson()).contains(u"周会"));

    QCOMPARE(
        run({QStringLiteral("room"), QStringLiteral("remove"), QStringLiteral("周会")}).exitCode,
        0);
    QCOMPARE(run({QStringLiteral("room"), QStringLiteral("list")}).out, QString());
}

void TestAccounts::disablingEndsAConferenceSession()
{
    add(QStringLiteral("jack"), QStringLiteral("jack-secret"));
    const auto session = conferenceSession(QStringLiteral("jack"), QStringLiteral("jack-secret"));
    QVERIFY(session);
    QStringList received;
    connect(session.get(), &QWebSocket::textMessageReceived, this,
            [&received](const QString &text) { received.append(text); });
    QCOMPARE(run({QStringLiteral("account"), QStringLiteral("disable"), QStringLiteral("jack")})
                 .exitCode,
             0);
    // Its next message finds the account disabled.
    session->sendTextMessage(QStringLiteral(R"({"type":"leave"})"));
    QJsonObject signedOut;
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(received.cbegin(), received.cend(),
                                         [&signedOut](const QString &text) {
                                             signedOut =
                                                 QJsonDocument::fromJson(text.toUtf8()).object();
                                             return signedOut.value(QStringLiteral("type")) ==
                                                    QStringLiteral("signedOut");
                                         }),
                             10000);
    QCOMPARE(signedOut.value(QStringLiteral("reason")).toInt(), 401);
}

void TestAccounts::commandsAndServiceWriteSideBySide()
{
    // Commands writing at once, each waiting for the others' writes and the service's.
    std::vector<std::unique_ptr<QProcess>> commands;
    for (int i = 0; i < 4; ++i) {
        auto &command = commands.emplace_back(std::make_unique<QProcess>());
        command->start(QStringLiteral(ORVALE_SERVICES),
                       {QStringLiteral("account"), QStringLiteral("add"),
                        QStringLiteral("crowd%1").arg(i), QStringLiteral("--data"),
                        m_services->dataPath()});
        command->write("crowd-secret\n");
        command->closeWriteChannel();
    }
    const auto running = [&commands] {
        return std::any_of(commands.cbegin(), commands.cend(),
                           [](const auto &c) { return c->state() != QProcess::NotRunning; });
    };
    int writes = 0;
    // hana's directory entry, in and out of frank's contacts.
    const QString hana = run({QStringLiteral("account"), QStringLiteral("list")})
                             .out.section(QStringLiteral("hana\t"), 1)
                             .section(u'\t', 0, 0);
    const QString contact =
        QStringLiteral("<ns1:%1Request><ns1:entityID>%2</ns1:entityID></ns1:%1Request>");
    while (running() || writes == 0) {
        QVERIFY(portalWrites(contact.arg(QStringLiteral("AddToMyContacts"), hana),
                             QStringLiteral("AddToMyContactsRequest")));
        QVERIFY(portalWrites(contact.arg(QStringLiteral("RemoveFromMyContacts"), hana),
                             QStringLiteral("RemoveFromMyContactsRequest")));
        ++writes;
    }
    for (const auto &command : commands) {
        QCOMPARE(command->exitCode(), 0);
        QVERIFY(command->readAllStandardError().isEmpty());
    }
    QVERIFY(signsIn(QStringLiteral("crowd3"), QStringLiteral("crowd-secret")));
}

void TestAccounts::deploymentOnPostgres()
{
    ORVALE_NEEDS(PostgresServer::unavailable());
    PostgresServer postgres;
    QString error;
    QVERIFY2(postgres.start(&error, testHost(2)), qPrintable(error));
    QVERIFY2(postgres.createDatabase(QStringLiteral("orvale"), &error), qPrintable(error));
    const QStringList database{QStringLiteral("--database"),
                               postgres.tcpUrl(QStringLiteral("orvale")),
                               QStringLiteral("--database-password-file"), postgres.passwordFile()};
    auto services =
        std::make_unique<ServicesProcess>(QStringLiteral(ORVALE_SERVICES), testHost(2), database);
    QVERIFY2(services->start(), qPrintable(services->output()));
    // Until the end of this function the helpers reach that deployment and its database.
    std::swap(m_services, services);
    m_database = database;
    const auto restore = qScopeGuard([&] {
        std::swap(m_services, services);
        m_database.clear();
    });
    QVERIFY(loginAccepts(QStringLiteral("demo"), QStringLiteral("demo1234")));
    // Commands adding at once, each waiting for the others' writes.
    std::vector<std::unique_ptr<QProcess>> commands;
    for (int i = 0; i < 3; ++i) {
        auto &command = commands.emplace_back(std::make_unique<QProcess>());
        command->start(QStringLiteral(ORVALE_SERVICES),
                       QStringList{QStringLiteral("account"), QStringLiteral("add"),
                                   QStringLiteral("pg%1").arg(i)} +
                           location());
        command->write("postgres-secret\n");
        command->closeWriteChannel();
    }
    for (const auto &command : commands) {
        QVERIFY(command->state() == QProcess::NotRunning || command->waitForFinished(30000));
        QVERIFY2(command->exitCode() == 0, command->readAllStandardError().constData());
    }
    for (int i = 0; i < 3; ++i)
        QVERIFY(signsIn(QStringLiteral("pg%1").arg(i), QStringLiteral("postgres-secret")));
}

QStringList TestAccounts::location() const
{
    return m_database.isEmpty() ? QStringList{QStringLiteral("--data"), m_services->dataPath()}
                                : m_database;
}

Ran TestAccounts::run(const QStringList &arguments, const QByteArray &input) const
{
    QProcess command;
    command.start(QStringLiteral(ORVALE_SERVICES), arguments + location());
    command.write(input);
    command.closeWriteChannel();
    if (!command.waitForFinished(30000))
        qWarning("the command did not end: %s", qPrintable(arguments.join(u' ')));
    return {command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1,
            QString::fromUtf8(command.readAllStandardOutput()),
            QString::fromUtf8(command.readAllStandardError())};
}

void TestAccounts::add(const QString &user, const QString &password, const QStringList &options)
{
    const Ran ran =
        run(QStringList{QStringLiteral("account"), QStringLiteral("add"), user} + options,
            password.toUtf8() + '\n');
    QVERIFY2(ran.exitCode == 0, qPrintable(ran.err));
}

bool TestAccounts::signsIn(const QString &user, const QString &password)
{
    return loginAccepts(user, password) && portalAccepts(user, password) &&
           conferenceSession(user, password);
}

bool TestAccounts::loginAccepts(const QString &user, const QString &password)
{
    AppStatus::shareStatus()->setIsSignIn(false); // the login call brings its own envelope
    const QString base = QStringLiteral("http://%1:8080").arg(m_services->host());
    NetWork *request = NetWork::initWithUrlString(
        LoginRequest::requestAddress(LoginRequest::Attempt::Plain, base),
        LoginRequest::envelope(QStringLiteral("Linux|WiFi"), user, password, m_services->host()),
        QStringLiteral("loginJson"));
    QVariant value;
    request->setSuccessBlock(QCoreApplication::instance(),
                             [&value](const QVariant &v) { value = v; });
    request->startRequest();
    if (!QTest::qWaitFor([&value] { return value.isValid(); }, 15000))
        return false;
    return LoginRequest::decodeReply(value).outcome == LoginReply::Outcome::Accepted;
}

bool TestAccounts::portalAccepts(const QString &user, const QString &password)
{
    AppStatus::shareStatus()->setIsSignIn(true);
    NetWork *request = NetWork::initWithUrlString(
        m_services->portal() + QStringLiteral("/services/v1_1/PortalUserService?"),
        QStringLiteral("<ns1:MyAccountRequest/>"), QStringLiteral("MyAccountRequest"));
    request->setAuth(LoginRequest::authorization(user, password));
    bool success = false;
    return answered(request, &success) && success;
}

bool TestAccounts::portalWrites(const QString &body, const QString &action)
{
    AppStatus::shareStatus()->setIsSignIn(true);
    NetWork *request = NetWork::initWithUrlString(
        m_services->portal() + QStringLiteral("/services/v1_1/PortalUserService?"), body, action);
    request->setAuth(
        LoginRequest::authorization(QStringLiteral("frank"), QStringLiteral("frank-secret")));
    bool success = false;
    return answered(request, &success) && success;
}

std::unique_ptr<QWebSocket> TestAccounts::conferenceSession(const QString &user,
                                                            const QString &password)
{
    auto socket = std::make_unique<QWebSocket>();
    QString reply;
    connect(socket.get(), &QWebSocket::textMessageReceived, this,
            [&reply](const QString &text) { reply = text; });
    socket->open(QUrl(QStringLiteral("ws://%1:%2/conference")
                          .arg(m_services->host())
                          .arg(m_services->portalPort())));
    if (!QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }, 10000))
        return nullptr;
    socket->sendTextMessage(QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("signIn")},
                                  {QStringLiteral("user"), user},
                                  {QStringLiteral("password"), password}})
            .toJson(QJsonDocument::Compact)));
    if (!QTest::qWaitFor([&reply] { return !reply.isEmpty(); }, 10000))
        return nullptr;
    socket->disconnect(this);
    const QString type =
        QJsonDocument::fromJson(reply.toUtf8()).object().value(QStringLiteral("type")).toString();
    return type == u"signedIn" ? std::move(socket) : nullptr;
}

QTEST_GUILESS_MAIN(TestAccounts)
#include "tst_accounts_e2e.moc"
