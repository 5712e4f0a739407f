#include "services/LdapWorker.h"

#include <ldap.h>

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace {

struct Unbind
{
    void operator()(LDAP *ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using Connection = std::unique_ptr<LDAP, Unbind>;

struct FreeMessage
{
    void operator()(LDAPMessage *message) const { ldap_msgfree(message); }
};
using Message = std::unique_ptr<LDAPMessage, FreeMessage>;

using Clock = std::chrono::steady_clock;

constexpr int timeoutS = 10;
constexpr auto signInTime = std::chrono::seconds(20);
constexpr auto refreshTime = std::chrono::minutes(5);
constexpr int searchTimeoutS = 30; // a page; stopping the service waits for it
// Directories cap one answer (slapd at 500 entries): a company is read page by page.
constexpr int pageSize = 250;

QString failure(LDAP *ld, int code)
{
    QString text = QString::fromUtf8(ldap_err2string(code));
    char *diagnostic = nullptr;
    if (ld && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
        diagnostic) {
        if (*diagnostic)
            text += QStringLiteral(" (") + QString::fromUtf8(diagnostic) + u')';
        ldap_memfree(diagnostic);
    }
    return text;
}

bool setOption(LDAP *ld, int option, const void *value)
{
    return ldap_set_option(ld, option, value) == LDAP_OPT_SUCCESS;
}

bool encrypted(const LdapSettings &s)
{
    return s.startTls || s.url.startsWith(QLatin1String("ldaps://"), Qt::CaseInsensitive);
}

/// A connection whose certificate must chain to the CA file and name the host, encrypted
/// before anything is sent: a failed check fails the call, nothing goes in clear.
Connection open(const LdapSettings &s, ldap_conncb *callbacks, QString *why)
{
    if (!encrypted(s)) {
        *why = QStringLiteral("the directory is not reached over TLS");
        return {};
    }
    LDAP *raw = nullptr;
    const int rc = ldap_initialize(&raw, s.url.toUtf8().constData());
    Connection ld(raw);
    if (rc != LDAP_SUCCESS) {
        *why = failure(nullptr, rc);
        return {};
    }
    const int version = LDAP_VERSION3;
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    const int newContext = 0;
    const timeval timeout{timeoutS, 0};
    const QByteArray ca = s.caFile.toUtf8();
    // The options set here win over ldap.conf and ~/.ldaprc, which could lower the check.
    if (!setOption(raw, LDAP_OPT_PROTOCOL_VERSION, &version) ||
        !setOption(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) ||
        !setOption(raw, LDAP_OPT_NETWORK_TIMEOUT, &timeout) ||
        !setOption(raw, LDAP_OPT_TIMEOUT, &timeout) ||
        !setOption(raw, LDAP_OPT_CONNECT_CB, callbacks) ||
        !setOption(raw, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand) ||
        (!ca.isEmpty() && !setOption(raw, LDAP_OPT_X_TLS_CACERTFILE, ca.constData())) ||
        !setOption(raw, LDAP_OPT_X_TLS_NEWCTX, &newContext)) {
        *why = QStringLiteral("the TLS options were refused");
        return {};
    }
    if (s.startTls) {
        const int started = ldap_start_tls_s(raw, nullptr, nullptr);
        if (started != LDAP_SUCCESS) {
            *why = QStringLiteral("StartTLS: ") + failure(raw, started);
            return {};
        }
    }
    return ld;
}

int bind(LDAP *ld, const QString &dn, const QString &password)
{
    QByteArray secret = password.toUtf8();
    berval credentials{ber_len_t(secret.size()), secret.data()};
    const int rc = ldap_sasl_bind_s(ld, dn.toUtf8().constData(), LDAP_SASL_SIMPLE, &credentials,
                                    nullptr, nullptr, nullptr);
    secret.fill('\0');
    return rc;
}

QString firstValue(LDAP *ld, LDAPMessage *entry, const QString &attribute)
{
    berval **values = ldap_get_values_len(ld, entry, attribute.toUtf8().constData());
    if (!values)
        return {};
    const QString value =
        values[0] ? QString::fromUtf8(values[0]->bv_val, qsizetype(values[0]->bv_len)) : QString();
    ldap_value_free_len(values);
    return value;
}

DirectoryPerson personOf(LDAP *ld, LDAPMessage *entry, const LdapSettings &s)
{
    DirectoryPerson p;
    p.userName = firstValue(ld, entry, s.userAttribute);
    p.displayName = firstValue(ld, entry, s.nameAttribute);
    if (p.displayName.isEmpty())
        p.displayName = firstValue(ld, entry, QStringLiteral("cn"));
    if (p.displayName.isEmpty())
        p.displayName = p.userName;
    p.emailAddress = firstValue(ld, entry, s.mailAttribute);
    p.phone = firstValue(ld, entry, s.phoneAttribute);
    return p;
}

/// The cookie of the next page from a search answer, or null after the last one.
berval *nextPage(LDAP *ld, LDAPMessage *answer)
{
    LDAPControl **controls = nullptr;
    int code = 0;
    if (ldap_parse_result(ld, answer, &code, nullptr, nullptr, nullptr, &controls, 0) !=
        LDAP_SUCCESS)
        return nullptr;
    berval *next = nullptr;
    if (LDAPControl *page = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr)) {
        ber_int_t estimate = 0;
        berval cookie{0, nullptr};
        if (ldap_parse_pageresponse_control(ld, page, &estimate, &cookie) == LDAP_SUCCESS &&
            cookie.bv_len > 0)
            next = ber_bvdup(&cookie);
        ber_memfree(cookie.bv_val);
    }
    ldap_controls_free(controls);
    return next;
}

/// Every entry under the base that `filter` selects, page by page; false on any failure, so
/// that a cut-off answer is never taken for the whole directory.
bool search(LDAP *ld, const LdapSettings &s, const QString &filter,
            const std::function<void(LDAPMessage *)> &each, QString *why)
{
    const QByteArray base = s.base.toUtf8();
    const QByteArray selected = filter.toUtf8();
    QByteArray names[] = {s.userAttribute.toUtf8(), s.nameAttribute.toUtf8(),
                          s.mailAttribute.toUtf8(), s.phoneAttribute.toUtf8(), "cn"};
    char *attributes[] = {names[0].data(), names[1].data(), names[2].data(),
                          names[3].data(), names[4].data(), nullptr};
    timeval timeout{searchTimeoutS, 0};
    berval *cookie = nullptr;
    do {
        LDAPControl *page = nullptr;
        int rc = ldap_create_page_control(ld, pageSize, cookie, 0, &page);
        ber_bvfree(cookie);
        cookie = nullptr;
        if (rc != LDAP_SUCCESS) {
            *why = failure(ld, rc);
            return false;
        }
        LDAPControl *controls[] = {page, nullptr};
        LDAPMessage *raw = nullptr;
        rc = ldap_search_ext_s(ld, base.constData(), LDAP_SCOPE_SUBTREE, selected.constData(),
                               attributes, 0, controls, nullptr, &timeout, 0, &raw);
        ldap_control_free(page);
        const Message answer(raw);
        if (rc != LDAP_SUCCESS) {
            *why = QStringLiteral("search: ") + failure(ld, rc);
            return false;
        }
        for (LDAPMessage *e = ldap_first_entry(ld, raw); e; e = ldap_next_entry(ld, e))
            each(e);
        cookie = nextPage(ld, raw);
    } while (cookie);
    return true;
}

QString escapedValue(const QString &value)
{
    QByteArray bytes = value.toUtf8();
    berval in{ber_len_t(bytes.size()), bytes.data()};
    berval out{0, nullptr};
    if (ldap_bv2escaped_filter_value(&in, &out) != 0)
        return {};
    const QString escaped = QString::fromUtf8(out.bv_val, qsizetype(out.bv_len));
    ber_memfree(out.bv_val);
    return escaped;
}

} // namespace

/// The socket of the call in progress and when that call must be over.
struct LdapWorker::Watch
{
    std::mutex lock;
    ber_socket_t socket = -1;
    Clock::time_point deadline = Clock::time_point::max();
    bool stopped = false; ///< the service is stopping: no new call
    ldap_conncb callbacks{&Watch::added, &Watch::removed, this};

    static int added(LDAP *, Sockbuf *sb, LDAPURLDesc *, sockaddr *, ldap_conncb *self)
    {
        auto *watch = static_cast<Watch *>(self->lc_arg);
        const std::lock_guard guard(watch->lock);
        ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &watch->socket);
        return 0;
    }
    static void removed(LDAP *, Sockbuf *, ldap_conncb *self)
    {
        auto *watch = static_cast<Watch *>(self->lc_arg);
        const std::lock_guard guard(watch->lock);
        watch->socket = -1; // closed next: its number may soon be another socket's
    }
    /// Sets the deadline of the call in scope.
    struct Call
    {
        Call(Watch &w, Clock::duration time)
            : watch(w)
        {
            const std::lock_guard guard(watch.lock);
            watch.deadline = Clock::now() + time;
            stopped = watch.stopped;
        }
        ~Call()
        {
            const std::lock_guard guard(watch.lock);
            watch.deadline = Clock::time_point::max();
        }
        Watch &watch;
        bool stopped = false;
    };
};

LdapWorker::LdapWorker(const LdapSettings &settings)
    : m_settings(settings)
    , m_watch(std::make_unique<Watch>())
{}

LdapWorker::~LdapWorker() = default;

void LdapWorker::interrupt(bool now)
{
    const std::lock_guard guard(m_watch->lock);
    m_watch->stopped = m_watch->stopped || now;
    if (m_watch->socket < 0 || (!now && Clock::now() < m_watch->deadline))
        return;
    // The blocked call sees the connection end and fails; the socket is closed by its owner.
    ::shutdown(m_watch->socket, SHUT_RDWR);
    m_watch->socket = -1;
    if (!now)
        qWarning("directory: a call ran out of time, its connection is cut");
}

void LdapWorker::verify(quint64 ticket, const QString &userName, const QString &password)
{
    DirectoryPerson person;
    QString why;
    const bool accepted = check(userName, password, &person, &why);
    Q_EMIT verified(ticket, accepted, person, why);
}

bool LdapWorker::check(const QString &userName, const QString &password, DirectoryPerson *person,
                       QString *why) const
{
    // A simple bind without a password is an anonymous bind, which directories accept.
    if (userName.isEmpty() || password.isEmpty()) {
        *why = QStringLiteral("no name or no password");
        return false;
    }
    const Watch::Call call(*m_watch, signInTime);
    if (call.stopped) {
        *why = QStringLiteral("the service is stopping");
        return false;
    }
    const Connection ld = open(m_settings, &m_watch->callbacks, why);
    if (!ld)
        return false;
    int rc = bind(ld.get(), m_settings.bindDn, m_settings.bindPassword);
    if (rc != LDAP_SUCCESS) {
        *why = QStringLiteral("service bind: ") + failure(ld.get(), rc);
        return false;
    }
    const QString filter =
        QStringLiteral("(&%1(%2=%3))")
            .arg(m_settings.filter, m_settings.userAttribute, escapedValue(userName));
    QString dn;
    int found = 0;
    const bool searched = search(
        ld.get(), m_settings, filter,
        [&](LDAPMessage *entry) {
            if (++found > 1)
                return;
            char *name = ldap_get_dn(ld.get(), entry);
            dn = QString::fromUtf8(name);
            ldap_memfree(name);
            *person = personOf(ld.get(), entry, m_settings);
        },
        why);
    if (!searched)
        return false;
    if (found != 1 || dn.isEmpty()) {
        *why = found == 0 ? QStringLiteral("not in the directory")
                          : QStringLiteral("several directory entries");
        return false;
    }
    rc = bind(ld.get(), dn, password);
    if (rc != LDAP_SUCCESS) {
        *why = failure(ld.get(), rc);
        return false;
    }
    return true;
}

void LdapWorker::refresh()
{
    QString why;
    const Watch::Call call(*m_watch, refreshTime);
    if (call.stopped)
        return Q_EMIT refreshFailed(QStringLiteral("the service is stopping"));
    const Connection ld = open(m_settings, &m_watch->callbacks, &why);
    if (!ld)
        return Q_EMIT refreshFailed(why);
    const int rc = bind(ld.get(), m_settings.bindDn, m_settings.bindPassword);
    if (rc != LDAP_SUCCESS)
        return Q_EMIT refreshFailed(QStringLiteral("service bind: ") + failure(ld.get(), rc));
    QList<DirectoryPerson> people;
    const bool searched = search(
        ld.get(), m_settings, m_settings.filter,
        [&](LDAPMessage *entry) {
            DirectoryPerson p = personOf(ld.get(), entry, m_settings);
            if (!p.userName.isEmpty())
                people.append(p);
        },
        &why);
    if (!searched)
        return Q_EMIT refreshFailed(why);
    Q_EMIT refreshed(people);
}
