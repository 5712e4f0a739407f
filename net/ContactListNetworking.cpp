#include "net/ContactListNetworking.h"

#include "model/AppUser.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "net/NetWork.h"
#include "net/StringHelper.h"
#include "net/VersionCheck.h"

#include <algorithm>

namespace {

const QString blanks(26, u' ');

QString escaped(const QString &value)
{
    return StringHelper::xmlEscaped(value);
}

void logFailure(const NetworkError &error)
{
    qCInfo(lcOrvale).noquote() << QStringLiteral("error %1").arg(error.message);
}

} // namespace

ContactListNetworking::ContactListNetworking(QObject *parent)
    : QObject(parent)
    , m_url(listAddress())
{}

QString ContactListNetworking::listAddress()
{
    return AppUser::defaultUser()->httpPortal + QStringLiteral("/services/v1_1/PortalUserService?");
}

QString ContactListNetworking::plainAddress()
{
    return AppUser::defaultUser()->httpPortal + QStringLiteral("/services/v1_1/PortalUserService");
}

NetWork *ContactListNetworking::request(const QString &address, const QString &body,
                                        const QString &action)
{
    return NetWork::initWithUrlString(address, body, action);
}

EntityList ContactListNetworking::entitiesUnder(const QVariant &response)
{
    const QVariant value = response.toMap().value(QStringLiteral("Entity"));
    QVariantList dictionaries;
    if (value.typeId() == QMetaType::QVariantList)
        dictionaries = value.toList();
    else if (value.typeId() == QMetaType::QVariantMap)
        dictionaries.append(value);
    EntityList entities;
    for (const QVariant &dictionary : std::as_const(dictionaries)) {
        if (dictionary.typeId() == QMetaType::QVariantMap)
            entities.append(RootModel::fromDictionary<Entity>(dictionary.toMap()));
    }
    return entities;
}

QString ContactListNetworking::sortIdForStatus(const QString &memberStatus)
{
    if (memberStatus == u"Online")
        return QStringLiteral("b");
    if (memberStatus == u"Offline")
        return QStringLiteral("d");
    return QStringLiteral("c");
}

EntityList ContactListNetworking::sortEntityWithArray(const EntityList &list)
{
    EntityList sorted = list;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto &a, const auto &b) { return a->sortId < b->sortId; });
    return sorted;
}

void ContactListNetworking::getMemberInfo()
{
    Q_EMIT refreshStarted();
    NetWork *account = request(m_url, QStringLiteral("<ns1:MyAccountRequest/>"),
                               QStringLiteral("MyAccountRequest"));
    account->setSuccessBlock(this, [this](const QVariant &response) {
        const auto entity = Entity::entityWithDict(response.toMap());
        const auto user = AppUser::defaultUser();
        user->entityID = entity->entityID;
        user->displayName = entity->displayName;
        user->roomURL = entity->roomMode ? entity->roomMode->roomURL : QString();
        getMyRoomWithEntityID(user->entityID);
        getRoomPin();
    });
    account->setFailBlock(this, logFailure);
    account->startRequest();
}

void ContactListNetworking::getRoomPin()
{
    const QString body = QStringLiteral("<ns1:GetInviteContentRequest><ns1:roomID>%1</ns1:roomID>"
                                        "</ns1:GetInviteContentRequest>")
                             .arg(escaped(AppUser::defaultUser()->entityID));
    NetWork *pin = request(m_url, body, QStringLiteral("GetInviteContentRequest"));
    pin->setSuccessBlock(this, [](const QVariant &response) {
        AppUser::defaultUser()->roomPin =
            roomPinFromInvitation(response.toMap().value(QStringLiteral("content")).toString());
    });
    pin->setFailBlock(this, logFailure);
    pin->startRequest();
}

QString ContactListNetworking::roomPinFromInvitation(const QString &content)
{
    if (!content.contains(QLatin1String("Room PIN: ")))
        return QStringLiteral("");
    const QString after = content.split(QStringLiteral("Room PIN:")).last();
    return after.split(u')').first().trimmed();
}

void ContactListNetworking::getMyRoomWithEntityID(const QString &entityId)
{
    const QString body = QStringLiteral("<ns1:SearchByEntityIDRequest>") + blanks +
                         QStringLiteral("<ns1:entityID>%1</ns1:entityID>").arg(escaped(entityId)) +
                         blanks + QStringLiteral("</ns1:SearchByEntityIDRequest>");
    NetWork *room = request(m_url, body, QStringLiteral("SearchByEntityIDRequest"));
    room->setSuccessBlock(this, [this](const QVariant &response) {
        m_conferenceRooms.clear();
        for (const auto &entity : entitiesUnder(response)) {
            entity->EntityType = QStringLiteral("Room");
            entity->sortId = QStringLiteral("a");
            entity->entityIsSearched = 0;
            m_conferenceRooms.append(entity);
        }
        getContactsList();
    });
    room->setFailBlock(this, logFailure);
    room->startRequest();
}

void ContactListNetworking::getContactsList()
{
    const QString body = QStringLiteral("<ns1:SearchMyContactsRequest>    <ns1:Filter>    "
                                        "<ns1:limit>199</ns1:limit>    </ns1:Filter>    "
                                        "</ns1:SearchMyContactsRequest>");
    NetWork *contacts = request(m_url, body, QStringLiteral("SearchMyContactsRequest"));
    contacts->setSuccessBlock(this, [this](const QVariant &response) {
        EntityList list = m_conferenceRooms;
        for (const auto &entity : entitiesUnder(response)) {
            entity->entityIsSearched = 0;
            entity->sortId = sortIdForStatus(entity->MemberStatus);
            list.append(entity);
        }
        m_contactsArray = sortEntityWithArray(list);
        Q_EMIT getNetworkDataSuccess(m_contactsArray);
    });
    contacts->setFailBlock(this, logFailure);
    contacts->startRequest();
}

void ContactListNetworking::searchContactsByInputStr(const QString &text)
{
    const QString body =
        QStringLiteral("<ns1:SearchRequest>") + blanks + QStringLiteral("<ns1:Filter>") + blanks +
        QStringLiteral("<ns1:limit>199</ns1:limit>") + blanks +
        QStringLiteral("<ns1:EntityType>Member</ns1:EntityType>") + blanks +
        QStringLiteral("<ns1:query>%1</ns1:query>").arg(escaped(text)) + blanks +
        QStringLiteral("</ns1:Filter>") + blanks + QStringLiteral("</ns1:SearchRequest>");
    cancelSearch();
    NetWork *search = request(m_url, body, QStringLiteral("SearchRequest"));
    m_search = search;
    search->setSuccessBlock(this, [this, search](const QVariant &response) {
        if (m_search != search)
            return;
        m_search = nullptr;
        const QString own = AppUser::defaultUser()->entityID;
        EntityList found;
        for (const auto &entity : entitiesUnder(response)) {
            entity->entityIsSearched = 1;
            entity->sortId = sortIdForStatus(entity->MemberStatus);
            if (entity->entityID != own)
                found.append(entity);
        }
        m_searchContactsList = sortEntityWithArray(found);
        Q_EMIT getSearchDataSuccess(m_searchContactsList);
    });
    search->setFailBlock(this, [this, search](const NetworkError &error) {
        logFailure(error);
        if (m_search != search)
            return;
        m_search = nullptr;
        Q_EMIT getSearchDataFailed();
    });
    search->startRequest();
}

void ContactListNetworking::cancelSearch()
{
    if (NetWork *running = m_search) {
        m_search = nullptr;
        running->cancelNetworkOperations();
    }
}

void ContactListNetworking::checkUpdate()
{
    if (VersionCheck::userChannel() < VersionCheck::firstUpdateChannel)
        return;
    NetWork *version = VersionCheck::versionRequest();
    version->setSuccessBlock(this, [this](const QVariant &reply) {
        const VersionCheck::Release release = VersionCheck::releaseFromReply(reply);
        Preferences prefs;
        if (!release.answered || release.systemTime <= prefs.systemTime())
            return;
        prefs.setSystemTime(release.systemTime);
        const auto prompt = VersionCheck::promptText(AppUser::defaultUser()->upgradeContent);
        Q_EMIT updateAvailable(prompt.title, prompt.message, release.url);
    });
    version->setFailBlock(this, [](const NetworkError &) {});
    version->startRequest();
}

QString ContactListNetworking::joinConferenceBody(const QString &conferenceId)
{
    return QStringLiteral("<ns1:JoinConferenceRequest>") + blanks +
           QStringLiteral("<ns1:conferenceID>%1</ns1:conferenceID>").arg(escaped(conferenceId)) +
           blanks + QStringLiteral("</ns1:JoinConferenceRequest>");
}

QString ContactListNetworking::joinConferenceBody(const QString &conferenceId, const QString &pin)
{
    return QStringLiteral("<ns1:JoinConferenceRequest>") + blanks +
           QStringLiteral("<ns1:conferenceID>%1</ns1:conferenceID>").arg(escaped(conferenceId)) +
           blanks + QStringLiteral("<ns1:PIN>%1</ns1:PIN>").arg(escaped(pin)) + blanks +
           QStringLiteral("</ns1:JoinConferenceRequest>");
}

QString ContactListNetworking::removeContactBody(const QString &entityId)
{
    return QStringLiteral("<ns1:RemoveFromMyContactsRequest>") + blanks +
           QStringLiteral("<ns1:entityID>%1</ns1:entityID>").arg(escaped(entityId)) + blanks +
           QStringLiteral("</ns1:RemoveFromMyContactsRequest>");
}

QString ContactListNetworking::addContactBody(qint64 entityId)
{
    return QStringLiteral("<ns1:AddToMyContactsRequest>") + blanks +
           QStringLiteral("<ns1:entityID>%1</ns1:entityID>").arg(entityId) + blanks +
           QStringLiteral("</ns1:AddToMyContactsRequest>");
}

QPair<QString, QString> ContactListNetworking::splitAddress(const QString &address)
{
    const QStringList pieces = address.split(u'@');
    return {pieces.first(), pieces.last()};
}

QString ContactListNetworking::joinIPCConferenceBody(const QString &address, const QString &pin)
{
    const QString inner(29, u' ');
    const auto [local, domain] = splitAddress(address);
    return QStringLiteral("<ns1:JoinIPCConferenceRequest>") + inner +
           QStringLiteral("<ns1:local-part>%1</ns1:local-part>").arg(escaped(local)) + inner +
           QStringLiteral("<ns1:domain>%1</ns1:domain>").arg(escaped(domain)) + inner +
           QStringLiteral("<ns1:PIN>%1</ns1:PIN>").arg(escaped(pin)) + inner +
           QStringLiteral("</ns1:JoinIPCConferenceRequest>");
}

QString ContactListNetworking::updatePasswordBody(const QString &password)
{
    return QStringLiteral("<ns1:UpdatePasswordRequest><ns1:password>%1</ns1:password>"
                          "</ns1:UpdatePasswordRequest>")
        .arg(escaped(password));
}

ContactListNetworking::JoinFault ContactListNetworking::joinFault(const QString &reason)
{
    qCInfo(lcOrvale).noquote() << QStringLiteral("JoinConferenceRequest fail %1").arg(reason);
    if (reason == u"All Lines in use. Please try again later." ||
        reason == u"Room capacity has been reached")
        return JoinFault::Capacity;
    if (reason == u"Wrong PIN")
        return JoinFault::WrongPin;
    if (reason == u"Unable to join the conference")
        return JoinFault::Unavailable;
    return JoinFault::Other;
}

ContactListNetworking::OutsideJoinFault
ContactListNetworking::outsideJoinFault(const QString &reason)
{
    if (reason == u"Wrong PIN")
        return OutsideJoinFault::WrongPin;
    if (reason == u"All Lines in use. Please try again later." ||
        reason == u"Room capacity has been reached")
        return OutsideJoinFault::Capacity;
    return OutsideJoinFault::Other;
}
