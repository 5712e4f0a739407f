#pragma once

#include "model/Entity.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class NetWork;

using EntityList = QList<std::shared_ptr<Entity>>;

/// The portal user-service operations behind the contact list: the refresh chain (own
/// account, own room and its PIN, then the contacts), the directory search, and the bodies
/// and fault mappings of the operations the windows start.
class ContactListNetworking final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ContactListNetworking)

public:
    /// What a failed join without PIN from the contact details leads to.
    enum class JoinFault { Capacity, WrongPin, Unavailable, Other };
    /// What a failed join of an outside contact leads to.
    enum class OutsideJoinFault { WrongPin, Capacity, Other };

    explicit ContactListNetworking(QObject *parent = nullptr);

    QString url() const { return m_url; }
    const EntityList &conferenceRooms() const { return m_conferenceRooms; }
    const EntityList &searchContactsList() const { return m_searchContactsList; }
    const EntityList &contactsArray() const { return m_contactsArray; }

    /// Starts the refresh chain (announced by refreshStarted()); the list arrives as
    /// getNetworkDataSuccess().
    void getMemberInfo();
    void getMyRoomWithEntityID(const QString &entityId);
    void getRoomPin();
    void getContactsList();
    /// Members only, at most 199, never the user; the result arrives as getSearchDataSuccess(),
    /// a failure as getSearchDataFailed(). A new search supersedes the one in flight.
    void searchContactsByInputStr(const QString &text);
    /// Gives up the search in flight: neither of its signals comes.
    void cancelSearch();
    static EntityList sortEntityWithArray(const EntityList &list);
    /// The automatic version check: a release newer than the last one announced is
    /// remembered and reported once as updateAvailable().
    void checkUpdate();

    /// "<httpPortal>/services/v1_1/PortalUserService?"
    static QString listAddress();
    /// "<httpPortal>/services/v1_1/PortalUserService"
    static QString plainAddress();
    static QString joinConferenceBody(const QString &conferenceId);
    static QString joinConferenceBody(const QString &conferenceId, const QString &pin);
    static QString removeContactBody(const QString &entityId);
    static QString addContactBody(qint64 entityId);
    static QString joinIPCConferenceBody(const QString &address, const QString &pin);
    /// The local part and the domain of an outside address.
    static QPair<QString, QString> splitAddress(const QString &address);
    static QString updatePasswordBody(const QString &password);
    /// The room PIN in an invitation text, or an empty text.
    static QString roomPinFromInvitation(const QString &content);
    /// "a" for rooms; "b" online, "c" busy, "d" offline members.
    static QString sortIdForStatus(const QString &memberStatus);

    static JoinFault joinFault(const QString &reason);
    static OutsideJoinFault outsideJoinFault(const QString &reason);

Q_SIGNALS:
    void refreshStarted();
    void getNetworkDataSuccess(const EntityList &contacts);
    void getSearchDataSuccess(const EntityList &results);
    void getSearchDataFailed();
    /// `url` is empty when the service named no http or https address.
    void updateAvailable(const QString &title, const QString &message, const QUrl &url);

private:
    static NetWork *request(const QString &address, const QString &body, const QString &action);
    static EntityList entitiesUnder(const QVariant &response);

    QString m_url;
    EntityList m_conferenceRooms;
    EntityList m_searchContactsList;
    EntityList m_contactsArray;
    QPointer<NetWork> m_search;
};
