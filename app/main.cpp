#include "AppStatus.h"
#include "AppUser.h"
#include "Log.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvale"));
    QApplication::setApplicationName(QStringLiteral("orvale"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvale"));
    QApplication::setApplicationVersion(QStringLiteral(ORVALE_VERSION));

    AppStatus *status = AppStatus::shareStatus();
    const QStringList languages = QLocale::system().uiLanguages();
    status->setIsChinese(!languages.isEmpty() &&
                         languages.first().contains(QLatin1String("zh-Han")));
    qCInfo(lcOrvale).noquote() << QStringLiteral("Orvale %1, last user: %2")
                                      .arg(QApplication::applicationVersion(),
                                           AppUser::defaultUser()->userName);
    return 0;
}
