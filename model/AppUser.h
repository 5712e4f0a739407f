#pragma once

#include "model/RootModel.h"

/// The signed-in user. One shared record, persisted in a file under the application's data
/// folder so that the next start knows the last user.
class AppUser final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppUser)
    Q_PROPERTY(QString userName MEMBER userName)
    Q_PROPERTY(QString userPassWord MEMBER userPassWord)
    Q_PROPERTY(QString roomPin MEMBER roomPin)
    Q_PROPERTY(QString coId MEMBER coId)
    Q_PROPERTY(QString portal MEMBER portal)
    Q_PROPERTY(QString httpPortal MEMBER httpPortal)
    Q_PROPERTY(QVariant isShare MEMBER isShare)
    Q_PROPERTY(QVariant period MEMBER period)
    Q_PROPERTY(QVariant agrees MEMBER agrees)
    Q_PROPERTY(QVariant play MEMBER play)
    Q_PROPERTY(QString address MEMBER address)
    Q_PROPERTY(QString displayName MEMBER displayName)
    Q_PROPERTY(QString entityID MEMBER entityID)
    Q_PROPERTY(QString user_portal MEMBER user_portal)
    Q_PROPERTY(QVariant entityType MEMBER entityType)
    Q_PROPERTY(QString msgType MEMBER msgType)
    Q_PROPERTY(QString msg MEMBER msg)
    Q_PROPERTY(QString upgradeContent MEMBER upgradeContent)
    Q_PROPERTY(QVariant userRole MEMBER userRole)
    Q_PROPERTY(QString roleUrl MEMBER roleUrl)
    Q_PROPERTY(QVariant slienceSpeaker MEMBER slienceSpeaker)
    Q_PROPERTY(QVariant version MEMBER version)
    Q_PROPERTY(QString uri MEMBER uri)
    Q_PROPERTY(QString roomURL MEMBER roomURL)
    Q_PROPERTY(QString auth MEMBER auth)

public:
    explicit AppUser(QObject *parent = nullptr);

    /// The shared user; the first call after start or after delUser() loads the file.
    static std::shared_ptr<AppUser> defaultUser();
    static QString stroePath();
    /// Writes the shared user to stroePath(), replacing the file atomically.
    static void updateUser();
    /// Deletes the file and forgets the shared user.
    static void delUser();

    void setValueForUndefinedKey(const QString &key, const QVariant &value) override;

    /// The archive: every present field under its own name.
    QByteArray encode() const;
    /// The record read back from an archive, or nullptr when the bytes are not one.
    static std::shared_ptr<AppUser> decode(const QByteArray &bytes);

    QString userName;
    QString userPassWord;
    QString roomPin;
    QString coId;
    QString portal;
    QString httpPortal;
    QVariant isShare;
    QVariant period;
    QVariant agrees;
    QVariant play;
    QString address;
    QString displayName;
    QString entityID;
    QString user_portal;
    QVariant entityType;
    QString msgType;
    QString msg;
    QString upgradeContent;
    QVariant userRole;
    QString roleUrl;
    QVariant slienceSpeaker;
    QVariant version;
    QString uri;
    QString roomURL;
    QString auth;
};
