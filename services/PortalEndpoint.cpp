#include "services/PortalEndpoint.h"

#include "services/ConferenceHub.h"
#include "services/ServiceDatabase.h"
#include "services/ServicesConfig.h"
#include "services/SignInGate.h"
#include "services/SoapMessage.h"
#include "services/Throttle.h"

#include <QHttpServerRequest>

namespace {

constexpr qsizetype maxBody = 64 * 1024;
const QString ok = QStringLiteral("<ns1:OK>OK</ns1:OK>");
const QString notAllowed = QStringLiteral("Not authorized to moderate this conference");

bool owns(const DirectoryEntry &room, const Account &account)
{
    return room.entityID == account.entityID || room.ownerID == account.entityID;
}

QHttpServerResponse soapResponse(const QByteArray &body, QHttpServerResponse::StatusCode status)
{
    return QHttpServerResponse(QByteArrayLiteral("application/soap+xml; charset=utf-8"), body,
                               status);
}

QHttpServerResponse
fault(const QString &reason,
      QHttpServerResponse::StatusCode status = QHttpServerResponse::StatusCode::InternalServerError)
{
    return soapResponse(SoapMessage::portalFault(reason), status);
}

int limitOf(const QMap<QString, QString> &fields)
{
    bool isNumber = false;
    const int limit = fields.value(QStringLiteral("limit")).toInt(&isNumber);
    return isNumber ? qBound(1, limit, 500) : 199;
}

} // namespace

PortalEndpoint::PortalEndpoint(ServiceDatabase &db, const ServicesConfig &config)
    : m_db(db)
    , m_config(config)
{}

void PortalEndpoint::handle(const QHttpServerRequest &request, QObject *context, const Reply &reply)
{
    using Status = QHttpServerResponse::StatusCode;
    if (request.body().size() > maxBody)
        return reply(fault(QStringLiteral("Request too large"), Status::PayloadTooLarge), 0);
    const auto given = credentials(request);
    if (!given)
        return reply(fault(QStringLiteral("Authentication failed"), Status::Unauthorized), 0);
    // The request is gone once the route returns; its body is kept for the answer.
    const auto answered = [this, body = request.body(), reply](const SignInGate::Verdict &verdict) {
        reply(answer(body, verdict.account), verdict.holdMs);
    };
    if (!m_signIns)
        return answered({m_db.authenticate(given->first, given->second), 0});
    const QString address = Throttle::clientAddress(
        request.remoteAddress(), request.value(QByteArrayLiteral("X-Forwarded-For")),
        m_config.behindFront());
    m_signIns->check(address, given->first, given->second, context, answered);
}

QHttpServerResponse PortalEndpoint::answer(const QByteArray &body,
                                           const std::optional<Account> &caller)
{
    using Status = QHttpServerResponse::StatusCode;
    if (!caller)
        return fault(QStringLiteral("Authentication failed"), Status::Unauthorized);
    const SoapMessage::Request soap = SoapMessage::parse(body);
    if (!soap.ok)
        return fault(QStringLiteral("Malformed request: ") + soap.error, Status::BadRequest);

    QString name = soap.operation;
    if (name.endsWith(QLatin1String("Request")))
        name.chop(7);
    const Outcome outcome = dispatch(name, soap.fields, *caller);
    if (!outcome.fault.isEmpty())
        return fault(outcome.fault);
    return soapResponse(
        SoapMessage::portalReply(name + QStringLiteral("Response"), outcome.content), Status::Ok);
}

std::optional<std::pair<QString, QString>>
PortalEndpoint::credentials(const QHttpServerRequest &request)
{
    const QByteArray header = request.value(QByteArrayLiteral("Authorization"));
    if (!header.startsWith("Basic "))
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(header.mid(6).trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QString credentials = QString::fromUtf8(*decoded);
    const qsizetype colon = credentials.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    return std::pair(credentials.left(colon), credentials.mid(colon + 1));
}

PortalEndpoint::Outcome PortalEndpoint::dispatch(const QString &operation, const Fields &fields,
                                                 const Account &caller)
{
    if (operation == u"MyAccount")
        return myAccount(caller);
    if (operation == u"GetInviteContent")
        return inviteContent(fields, caller);
    if (operation == u"SearchByEntityID")
        return searchByEntityId(fields, caller);
    if (operation == u"SearchMyContacts")
        return searchMyContacts(fields, caller);
    if (operation == u"Search")
        return search(fields, caller);
    if (operation == u"JoinConference")
        return joinConference(fields, caller);
    if (operation == u"JoinIPCConference")
        return joinIpcConference(fields, caller);
    if (operation == u"AddToMyContacts")
        return addContact(fields, caller);
    if (operation == u"RemoveFromMyContacts")
        return removeContact(fields, caller);
    if (operation == u"MuteAudio")
        return muteAudio(fields, caller);
    if (operation == u"UpdatePassword")
        return updatePassword(fields, caller);
    return {{}, QStringLiteral("Unknown operation: ") + operation};
}

QString PortalEndpoint::roomUrl(const DirectoryEntry &entry) const
{
    return m_config.portalBase() + QStringLiteral("/flex.html?roomdirect.html&key=") +
           entry.roomKey;
}

QString PortalEndpoint::entityXml(const DirectoryEntry &e, const Account &viewer) const
{
    using S = SoapMessage;
    const bool member = e.kind == u"Member";
    const bool owner = owns(e, viewer);
    // The key lets guests in: only for those who may enter without knowing more than it.
    const bool mayJoin = owner || (!e.locked && e.pin.isEmpty());
    QString xml = QStringLiteral("<ns1:Entity>");
    xml += S::element(QStringLiteral("entityID"), QString::number(e.entityID));
    xml += S::element(QStringLiteral("EntityType"), e.kind);
    xml += S::element(QStringLiteral("ownerID"), QString::number(e.ownerID));
    xml += S::element(QStringLiteral("displayName"), e.displayName);
    xml += S::element(QStringLiteral("extension"), e.extension);
    xml += S::element(QStringLiteral("tenant"), e.tenant);
    if (member) {
        xml += S::element(QStringLiteral("emailAddress"), e.emailAddress);
        xml += S::element(QStringLiteral("MemberStatus"), e.presence);
    } else {
        const int present = occupancy(e);
        xml +=
            S::element(QStringLiteral("RoomStatus"), present >= e.capacity ? QStringLiteral("Full")
                                                     : present > 0 ? QStringLiteral("Occupied")
                                                                   : QStringLiteral("Empty"));
    }
    xml += S::element(QStringLiteral("isInMyContacts"), m_db.isContact(viewer.entityID, e.entityID)
                                                            ? QStringLiteral("true")
                                                            : QStringLiteral("false"));
    xml += QStringLiteral("<ns1:RoomMode>");
    xml += S::element(QStringLiteral("roomURL"), mayJoin ? roomUrl(e) : QString());
    xml += S::element(QStringLiteral("isLocked"),
                      e.locked ? QStringLiteral("true") : QStringLiteral("false"));
    xml += S::element(QStringLiteral("hasPIN"),
                      e.pin.isEmpty() ? QStringLiteral("false") : QStringLiteral("true"));
    if (owner && !e.pin.isEmpty())
        xml += S::element(QStringLiteral("roomPIN"), e.pin); // only the owner learns the PIN
    xml += S::element(QStringLiteral("hasModeratorPIN"), QStringLiteral("false"));
    xml += QStringLiteral("</ns1:RoomMode>");
    xml += S::element(QStringLiteral("description"), member ? QString() : e.displayName);
    xml += S::element(QStringLiteral("canCallDirect"),
                      member ? QStringLiteral("true") : QStringLiteral("false"));
    xml += QStringLiteral("</ns1:Entity>");
    return xml;
}

QString PortalEndpoint::entityList(const QList<DirectoryEntry> &entries,
                                   const Account &viewer) const
{
    QString xml = SoapMessage::element(QStringLiteral("total"), QString::number(entries.size()));
    for (const DirectoryEntry &e : entries)
        xml += entityXml(e, viewer);
    return xml;
}

PortalEndpoint::Outcome PortalEndpoint::myAccount(const Account &caller) const
{
    const auto own = m_db.entry(caller.entityID);
    if (!own)
        return {{}, QStringLiteral("Account has no directory entry")};
    return {entityXml(*own, caller), {}};
}

PortalEndpoint::Outcome PortalEndpoint::inviteContent(const Fields &fields,
                                                      const Account &caller) const
{
    const auto room = m_db.entry(fields.value(QStringLiteral("roomID")).toLongLong());
    if (!room)
        return {{}, QStringLiteral("Invalid roomID")};
    if (!owns(*room, caller)) // the invitation carries the key and the PIN
        return {{}, notAllowed};
    QString text = QStringLiteral("%1 邀请您加入视频会议。\n会议室: %1\n会议链接: %2\n(分机号: %3")
                       .arg(room->displayName, roomUrl(*room), room->extension);
    text += room->pin.isEmpty() ? QStringLiteral(")")
                                : QStringLiteral(", Room PIN: %1)").arg(room->pin);
    return {SoapMessage::element(QStringLiteral("content"), text), {}};
}

PortalEndpoint::Outcome PortalEndpoint::searchByEntityId(const Fields &fields,
                                                         const Account &caller) const
{
    const auto found = m_db.entry(fields.value(QStringLiteral("entityID")).toLongLong());
    return {entityList(found ? QList<DirectoryEntry>{*found} : QList<DirectoryEntry>{}, caller),
            {}};
}

PortalEndpoint::Outcome PortalEndpoint::searchMyContacts(const Fields &fields,
                                                         const Account &caller) const
{
    return {entityList(m_db.contacts(caller.entityID).mid(0, limitOf(fields)), caller), {}};
}

PortalEndpoint::Outcome PortalEndpoint::search(const Fields &fields, const Account &caller) const
{
    const QString type = fields.value(QStringLiteral("EntityType"), QStringLiteral("Member"));
    if (type != u"Member")
        return {entityList({}, caller), {}};
    return {entityList(m_db.searchMembers(fields.value(QStringLiteral("query")), limitOf(fields)),
                       caller),
            {}};
}

std::optional<QString> PortalEndpoint::refusal(const DirectoryEntry &room, const QString &pin) const
{
    if (room.locked)
        return QStringLiteral("Room is locked");
    if (!room.pin.isEmpty() && pin != room.pin)
        return QStringLiteral("Wrong PIN");
    if (occupancy(room) >= room.capacity)
        return QStringLiteral("Room capacity has been reached");
    if ((m_hub ? m_hub->linesInUse() : 0) >= m_config.maxLines)
        return QStringLiteral("All Lines in use. Please try again later.");
    return std::nullopt;
}

int PortalEndpoint::occupancy(const DirectoryEntry &room) const
{
    return room.occupants + (m_hub ? m_hub->occupancy(room.entityID) : 0);
}

PortalEndpoint::Outcome PortalEndpoint::admit(const std::optional<DirectoryEntry> &room,
                                              const QString &pin, const Account &caller) const
{
    if (!room)
        return {{}, QStringLiteral("Unable to join the conference")};
    if (const auto reason = refusal(*room, pin))
        return {{}, *reason};
    if (!m_hub || !m_hub->joinByPortal(caller.entityID, room->entityID))
        return {{}, QStringLiteral("Not signed in to the conference service")};
    return {ok, {}};
}

PortalEndpoint::Outcome PortalEndpoint::joinConference(const Fields &fields,
                                                       const Account &caller) const
{
    bool isNumber = false;
    const qint64 id = fields.value(QStringLiteral("conferenceID")).toLongLong(&isNumber);
    return admit(isNumber ? m_db.entry(id) : std::nullopt, fields.value(QStringLiteral("PIN")),
                 caller);
}

PortalEndpoint::Outcome PortalEndpoint::joinIpcConference(const Fields &fields,
                                                          const Account &caller) const
{
    const QString domain = fields.value(QStringLiteral("domain"));
    if (domain != m_config.host && domain != m_config.advertisedHost() &&
        domain != m_config.portalAuthority())
        return {{}, QStringLiteral("Unable to join the conference")};
    return admit(m_db.entryByExtensionOrName(fields.value(QStringLiteral("local-part"))),
                 fields.value(QStringLiteral("PIN")), caller);
}

PortalEndpoint::Outcome PortalEndpoint::addContact(const Fields &fields, const Account &caller)
{
    const qint64 id = fields.value(QStringLiteral("entityID")).toLongLong();
    if (!m_db.entry(id) || id == caller.entityID)
        return {{}, QStringLiteral("Invalid entityID")};
    if (!m_db.addContact(caller.entityID, id))
        return {{}, QStringLiteral("Unable to add the contact")};
    return {ok, {}};
}

PortalEndpoint::Outcome PortalEndpoint::removeContact(const Fields &fields, const Account &caller)
{
    if (!m_db.removeContact(caller.entityID, fields.value(QStringLiteral("entityID")).toLongLong()))
        return {{}, QStringLiteral("Entity is not in your contacts")};
    return {ok, {}};
}

PortalEndpoint::Outcome PortalEndpoint::muteAudio(const Fields &fields, const Account &caller) const
{
    const auto room = m_db.entry(fields.value(QStringLiteral("conferenceID")).toLongLong());
    if (!room || !owns(*room, caller))
        return {{}, notAllowed};
    const QString participant = fields.value(QStringLiteral("participantID"));
    if (participant.isEmpty())
        return {{}, QStringLiteral("Invalid participantID")};
    if (!m_hub || !m_hub->muteParticipant(room->entityID, participant))
        return {{}, QStringLiteral("Participant is not in the conference")};
    return {ok, {}};
}

PortalEndpoint::Outcome PortalEndpoint::updatePassword(const Fields &fields, const Account &caller)
{
    const QString password = fields.value(QStringLiteral("password"));
    if (password.isEmpty() || password.size() > 128)
        return {{}, QStringLiteral("Invalid password")};
    // A directory person's password is changed in the directory, not here.
    if (m_db.isDirectoryAccount(caller.userName))
        return {{}, QStringLiteral("The password is kept by the company directory")};
    if (!m_db.setPassword(caller.userName, password))
        return {{}, QStringLiteral("Unable to change the password")};
    return {ok, {}};
}
