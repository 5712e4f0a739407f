#include "app/AppLanguage.h"
#include "model/Entity.h"
#include "tests/support/TestHost.h"
#include "tests/ui/UiHarness.h"
#include "ui/main/ContactDetailViewController.h"
#include "ui/main/ContactListViewController.h"
#include "ui/main/ContactWindowController.h"
#include "ui/main/LoginViewController.h"
#include "ui/main/QXSearchField.h"
#include "ui/widgets/AlertHelper.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using Language = AppLanguage::Language;

/// The client in each of its languages: the desktop's language picks it, and a sample of
/// windows, built after the switch, shows the client's texts and Qt's own in that language.
class TestLanguages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void languageRule_data();
    void languageRule();
    void windows_data();
    void windows();
    void backToChinese();

private:
    ContactListViewController *list() const
    {
        return m_app->delegate()->loginVc()->contactWindowController()->contactList();
    }

    std::unique_ptr<UiHarness> m_app;
};

void TestLanguages::initTestCase()
{
    m_app = std::make_unique<UiHarness>(testHost());
    QVERIFY(m_app->services());
}

void TestLanguages::init()
{
    if (QByteArray(QTest::currentTestFunction()) != "windows")
        return;
    m_app->launch();
    QVERIFY(m_app->signInAsDemo());
    QTRY_VERIFY_WITH_TIMEOUT(!list()->contactsArray().isEmpty(), 10000);
}

void TestLanguages::cleanup()
{
    QVERIFY(m_app->quit());
}

void TestLanguages::languageRule_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<Language>("expected");
    QTest::newRow("American English") << QStringList{"en-US", "zh-CN"} << Language::English;
    QTest::newRow("British English") << QStringList{"en-GB"} << Language::English;
    QTest::newRow("bare English") << QStringList{"en"} << Language::English;
    QTest::newRow("underscore form") << QStringList{"en_AU"} << Language::English;
    QTest::newRow("Chinese") << QStringList{"zh-CN", "en-US"} << Language::Chinese;
    QTest::newRow("Taiwanese") << QStringList{"zh-TW"} << Language::Chinese;
    QTest::newRow("English second") << QStringList{"de-DE", "en-US"} << Language::Chinese;
    QTest::newRow("French") << QStringList{"fr-FR"} << Language::Chinese;
    QTest::newRow("C locale") << QStringList{"C"} << Language::Chinese;
    QTest::newRow("C with a codeset") << QStringList{"C.UTF-8"} << Language::Chinese;
    QTest::newRow("POSIX locale") << QStringList{"POSIX"} << Language::Chinese;
    QTest::newRow("nothing") << QStringList{} << Language::Chinese;
    QTest::newRow("garbage") << QStringList{"??"} << Language::Chinese;
}

void TestLanguages::languageRule()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(Language, expected);
    QCOMPARE(AppLanguage::languageFor(uiLanguages), expected);
}

void TestLanguages::windows_data()
{
    QTest::addColumn<Language>("language");
    QTest::addColumn<QStringList>("expected");
    // login button, address placeholder, empty-address toast, list title, empty search title,
    // detail extension and status, alert title and button, Qt's own "Copy" of a text field
    QTest::newRow("Chinese") << Language::Chinese
                             << QStringList{"登录",        "服务器地址",     "请输入登录地址",
                                            "我的联系人:", "未搜索到联系人", "分机号：1005",
                                            "状态：离线",  "注意",           "确定",
                                            "复制(&C)"};
    QTest::newRow("English") << Language::English
                             << QStringList{"Sign In",
                                            "Server address",
                                            "Please enter the server address",
                                            "My Contacts:",
                                            "No contacts found",
                                            "Extension: 1005",
                                            "Status: Offline",
                                            "Attention",
                                            "OK",
                                            "&Copy"};
}

void TestLanguages::windows()
{
    QFETCH(Language, language);
    QFETCH(QStringList, expected);
    AppLanguage languages;
    QVERIFY(languages.use(language));
    QCOMPARE(languages.language(), language);

    // A login view as at start-up, with its form texts and the check of an empty field.
    QMainWindow loginWindow;
    auto *login = new LoginViewController;
    loginWindow.setCentralWidget(login);
    loginWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&loginWindow));
    QCOMPARE(login->loginButton()->text(), expected[0]);
    QCOMPARE(login->ipField()->placeholderText(), expected[1]);
    login->ipField()->clear();
    m_app->takeToasts();
    login->loginButton()->click();
    QTRY_COMPARE(m_app->toasts().value(0), expected[2]);

    // The main window's list: its title after a search, and the title of a search without match.
    list()->searchField()->setText(QStringLiteral("zzzzqqq"));
    list()->searchWhenEnter();
    QTRY_COMPARE(list()->titleLabel()->text(), expected[4]);
    list()->clearSearchBar();
    QTRY_COMPARE(list()->titleLabel()->text(),
                 expected[3] + QString::number(list()->contactsArray().size()));

    // The detail labels, whose colon comes from the translations in both languages.
    ContactDetailViewController details;
    auto contact = std::make_shared<Entity>();
    contact->entityID = QStringLiteral("1005");
    contact->EntityType = QStringLiteral("Member");
    contact->displayName = QStringLiteral("Lee 李");
    contact->roomMode = std::make_shared<RoomMode>();
    contact->extension = QStringLiteral("1005");
    contact->MemberStatus = QStringLiteral("Offline");
    details.setContact(contact);
    QCOMPARE(details.extentionLabel()->text(), expected[5]);
    QCOMPARE(details.statusLabel()->text(), expected[6]);

    // A dialog.
    QPointer<QMessageBox> alert =
        AlertHelper::showAlertWithMessage(QStringLiteral("…"), {}, &loginWindow);
    QVERIFY(alert);
    QCOMPARE(alert->text(), expected[7]);
    QCOMPARE(alert->buttons().value(0)->text(), expected[8]);
    alert->done(0);

    // Qt's own context menu of a text field.
    const std::unique_ptr<QMenu> menu(login->nameField()->createStandardContextMenu());
    QStringList entries;
    for (const QAction *action : menu->actions())
        entries << action->text().section(u'\t', 0, 0); // without the shortcut
    QVERIFY2(entries.contains(expected[9]), qPrintable(entries.join(u' ')));
}

void TestLanguages::backToChinese()
{
    // Leaving the English texts removes them: the sources show again.
    {
        AppLanguage english;
        QVERIFY(english.use(Language::English));
        QCOMPARE(QCoreApplication::translate("Orvale", "我的联系人"),
                 QStringLiteral("My Contacts"));
        QVERIFY(english.use(Language::Chinese));
        QCOMPARE(QCoreApplication::translate("Orvale", "我的联系人"), QStringLiteral("我的联系人"));
        QCOMPARE(QCoreApplication::translate("Orvale", "分机号"), QStringLiteral("分机号："));
        QVERIFY(english.use(Language::English));
    }
    QCOMPARE(QCoreApplication::translate("Orvale", "我的联系人"), QStringLiteral("我的联系人"));
    QCOMPARE(QCoreApplication::translate("Orvale", "分机号"), QStringLiteral("分机号"));
}

QTEST_MAIN(TestLanguages)
#include "tst_languages.moc"
