// The inviting client of the end-to-end invitation test: signs in as the given user with the
// real engine, opens the invitation of the user's own room from its details, saves the code
// card as a PNG and exits.
//   orvale-inviter <server address> <user> <password> <png path>

#include "app/AppDelegate.h"
#include "ui/invite/ShareQRCodeWindowController.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdio>

namespace {

ShareQRCodeWindowController *invitationWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<ShareQRCodeWindowController *>(widget);
            window && window->isVisible())
            return window;
    }
    return nullptr;
}

int fail(const char *what)
{
    std::fprintf(stderr, "orvale-inviter: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 5)
        return fail("usage: orvale-inviter <server> <user> <password> <png path>");
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    if (!QTest::qWaitFor([&] { return delegate.engineStarted(); }, 10000))
        return fail("the engine did not start");
    LoginViewController *login = delegate.loginVc();
    login->ipField()->setText(QString::fromLocal8Bit(argv[1]));
    login->nameField()->setText(QString::fromLocal8Bit(argv[2]));
    login->passField()->setText(QString::fromLocal8Bit(argv[3]));
    login->loginButton()->click();
    const auto mainWindow = [login] { return login->contactWindowController(); };
    if (!QTest::qWaitFor(
            [&] {
                return mainWindow() && mainWindow()->isVisible() &&
                       !mainWindow()->contactList()->rows().isEmpty();
            },
            20000))
        return fail("no signed-in main window with a list");
    ContactListViewController *list = mainWindow()->contactList();
    list->proposeSelection(0); // the user's own room
    QPushButton *share = list->contactDetailVc()->deleteContactButton();
    if (share->isHidden())
        return fail("the details offer no invitation");
    share->click();
    ShareQRCodeWindowController *invitation = invitationWindow();
    if (!invitation || !QTest::qWaitForWindowExposed(invitation))
        return fail("no invitation window");
    if (!invitation->savePhotoTo(QString::fromLocal8Bit(argv[4])))
        return fail("the card was not saved");
    std::printf("%s\n", qPrintable(invitation->codeStr()));
    return 0;
}
