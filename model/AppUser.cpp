#include "model/AppUser.h"

#include "model/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <mutex>

namespace {

std::mutex userMutex;
std::shared_ptr<AppUser> sharedUser;

constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto groupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                              QFileDevice::WriteOther | QFileDevice::ExeOther;

// Where the record lived before it moved to the application's data folder, relative to the
// same base folder as it is now.
constexpr auto recordPath = "/com.Tesvane.Korrin.www/Document/user";

QString oldStroePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           QLatin1String(recordPath);
}

/// Writes `bytes` to `path` atomically, readable by the owner only from the first byte on.
bool writePrivately(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly) && file.setPermissions(ownerOnly) &&
              file.write(bytes) == bytes.size() && file.commit();
    if (ok && (QFile::permissions(path) & groupOrOther))
        ok = QFile::setPermissions(path, ownerOnly);
    return ok;
}

/// Brings a record of an earlier version over from the Documents folder, once: only when there
/// is none at the new place yet, and only a record that reads back; anything else stays where
/// it is, untouched.
void moveOldRecord()
{
    const QString path = AppUser::stroePath();
    const QString old = oldStroePath();
    if (old == path || QFileInfo::exists(path) || !QFileInfo(old).isFile())
        return;
    QFile file(old);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    file.close();
    if (!AppUser::decode(bytes) || !writePrivately(path, bytes))
        return;
    if (!QFile::remove(old))
        return;
    // The folders the record came in, when nothing else is in them; Documents itself stays.
    QDir folder = QFileInfo(old).dir();
    if (folder.rmdir(folder.absolutePath()) && folder.cdUp())
        folder.rmdir(folder.absolutePath());
    qCInfo(lcOrvale).noquote() << "AppUser moved" << old << "to" << path;
}

std::shared_ptr<AppUser> loadUser()
{
    moveOldRecord();
    QFile file(AppUser::stroePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::make_shared<AppUser>();
    auto user = AppUser::decode(file.readAll());
    return user ? user : std::make_shared<AppUser>();
}

} // namespace

AppUser::AppUser(QObject *parent)
    : RootModel(parent)
{}

std::shared_ptr<AppUser> AppUser::defaultUser()
{
    std::lock_guard lock(userMutex);
    if (!sharedUser)
        sharedUser = loadUser();
    return sharedUser;
}

QString AppUser::stroePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QLatin1String(recordPath);
}

void AppUser::updateUser()
{
    // The archive holds credentials: it is never readable by anyone but the owner, not even
    // for the moment between writing and renaming.
    if (!writePrivately(stroePath(), defaultUser()->encode()))
        qCWarning(lcOrvale) << "error : AppUser同步用户数据失败";
}

void AppUser::delUser()
{
    const QString path = stroePath();
    if (QFileInfo::exists(path) && !QFile::remove(path))
        qCWarning(lcOrvale) << "error : AppUser删除本地数据失败";
    // A record of an earlier version still at the old place would come back at the next start.
    if (const QString old = oldStroePath(); old != path && QFileInfo(old).isFile())
        QFile::remove(old);
    std::lock_guard lock(userMutex);
    sharedUser.reset();
}

void AppUser::setValueForUndefinedKey(const QString &key, const QVariant &value)
{
    if (key == u"isshare")
        setValue(QStringLiteral("isShare"), value);
}

QByteArray AppUser::encode() const
{
    QJsonObject archive;
    for (const QString &name : ownFieldNames()) {
        // The password, plain or inside the authorization, lives only in memory: the file needs
        // neither, and a remembered password is the keychain's (PasswordStore).
        if (name == u"userPassWord" || name == u"auth")
            continue;
        const QVariant v = value(name);
        if (v.typeId() == QMetaType::QString && v.toString().isNull())
            continue;
        if (v.typeId() == QMetaType::QVariant || !v.isValid())
            continue;
        const QJsonValue json = QJsonValue::fromVariant(v);
        if (!json.isNull() && !json.isUndefined())
            archive.insert(name, json);
    }
    return QJsonDocument(archive).toJson(QJsonDocument::Compact);
}

std::shared_ptr<AppUser> AppUser::decode(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return nullptr;
    auto user = std::make_shared<AppUser>();
    const QVariantMap archive = document.object().toVariantMap();
    const QStringList fields = user->ownFieldNames();
    for (auto it = archive.cbegin(); it != archive.cend(); ++it) {
        if (fields.contains(it.key()))
            user->setValue(it.key(), it.value());
    }
    return user;
}
