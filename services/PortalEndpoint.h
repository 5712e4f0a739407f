#pragma once

#include "services/Account.h"
#include "services/DirectoryEntry.h"

#include <QHttpServerResponse>
#include <QMap>

#include <functional>
#include <optional>

class ConferenceHub;
class QHttpServerRequest;
class QObject;
class ServiceDatabase;
class SignInGate;
struct ServicesConfig;

/// The conferencing portal's SOAP 1.2 user service.
class PortalEndpoint final
{
public:
    PortalEndpoint(ServiceDatabase &db, const ServicesConfig &config);

    /// Called with the answer and how long to hold it (a throttled failure).
    using Reply = std::function<void(QHttpServerResponse &&response, int holdMs)>;

    /// Answers through `reply` once the caller's credentials are checked (never after
    /// `context` is gone).
    void handle(const QHttpServerRequest &request, QObject *context, const Reply &reply);
    /// The conference service that joins and mutes act on.
    void setConferenceHub(ConferenceHub *hub) { m_hub = hub; }
    /// Where passwords are checked; without one, each request runs the full local check.
    void setSignInGate(SignInGate *gate) { m_signIns = gate; }

    /// "<ns1:Entity>…</ns1:Entity>" of an entry as `viewer` sees it.
    QString entityXml(const DirectoryEntry &entry, const Account &viewer) const;
    QString roomUrl(const DirectoryEntry &entry) const;
    /// The fault text that refuses `caller` a seat in `room`, or nothing when it may join.
    std::optional<QString> refusal(const DirectoryEntry &room, const QString &pin) const;
    /// People in the room now: those in the conference and the seats held outside it.
    int occupancy(const DirectoryEntry &room) const;

private:
    using Fields = QMap<QString, QString>;
    struct Outcome
    {
        QString content; ///< body of the response element
        QString fault;   ///< a fault's reason instead, when not empty
    };

    /// The name and password of the request's Basic authorization.
    static std::optional<std::pair<QString, QString>>
    credentials(const QHttpServerRequest &request);
    QHttpServerResponse answer(const QByteArray &body, const std::optional<Account> &caller);
    Outcome dispatch(const QString &operation, const Fields &fields, const Account &caller);
    Outcome myAccount(const Account &caller) const;
    Outcome inviteContent(const Fields &fields, const Account &caller) const;
    Outcome searchByEntityId(const Fields &fields, const Account &caller) const;
    Outcome searchMyContacts(const Fields &fields, const Account &caller) const;
    Outcome search(const Fields &fields, const Account &caller) const;
    Outcome joinConference(const Fields &fields, const Account &caller) const;
    Outcome joinIpcConference(const Fields &fields, const Account &caller) const;
    /// Lets the caller into the room, or says why not.
    Outcome admit(const std::optional<DirectoryEntry> &room, const QString &pin,
                  const Account &caller) const;
    Outcome addContact(const Fields &fields, const Account &caller);
    Outcome removeContact(const Fields &fields, const Account &caller);
    Outcome muteAudio(const Fields &fields, const Account &caller) const;
    Outcome updatePassword(const Fields &fields, const Account &caller);
    QString entityList(const QList<DirectoryEntry> &entries, const Account &viewer) const;

    ServiceDatabase &m_db;
    const ServicesConfig &m_config;
    ConferenceHub *m_hub = nullptr;
    SignInGate *m_signIns = nullptr;
};
