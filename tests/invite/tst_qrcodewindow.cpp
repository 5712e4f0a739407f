#include "bridge/Helper.h"
#include "bridge/NotificationCenter.h"
#include "bridge/shared/ConfRecords.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "net/StringHelper.h"
#include "tests/invite/QRTestReader.h"
#include "tests/support/DragAndDrop.h"
#include "tests/support/FakeEngine.h"
#include "tests/ui/UiHarness.h"
#include "ui/conference/JoinConferenceWindowController.h"
#include "ui/invite/QRCodeWindowController.h"
#include "ui/invite/QRCodec.h"
#include "ui/invite/QRImageView.h"
#include "ui/main/LoginViewController.h"
#include "ui/widgets/Spinner.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

namespace CR = ConfRecords;

namespace {

const QString host = QStringLiteral("127.0.0.9");

/// An invitation of this system to `key`, valid for `hours` from now (negative: expired).
QString invitation(const QString &key = QStringLiteral("DemoRoom1000"), int hours = 48,
                   const QString &portal = QStringLiteral("http://127.0.0.9:8081"))
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime from = hours < 0 ? now.addSecs(qint64(hours) * 3600 * 2) : now;
    return QStringLiteral("http://%1:8080/pages/Kwuser/l.do?key=%2&portal=%3&pin=%4&period=%5")
        .arg(host, StringHelper::base64(key), StringHelper::base64(portal),
             StringHelper::base64(QStringLiteral("2468")),
             Helper::getPeriodTime(from, std::abs(hours)));
}

/// A code at error correction L, which holds the most text.
QImage largeCode(const QString &text)
{
    const ZXing::BitMatrix matrix = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                                        .setEccLevel(1)
                                        .setMargin(2)
                                        .encode(text.toStdString(), 0, 0);
    QImage image(matrix.width(), matrix.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < matrix.height(); ++y)
        for (int x = 0; x < matrix.width(); ++x)
            image.scanLine(y)[x] = matrix.get(x, y) ? 0 : 255;
    return image.scaled(image.size() * 4);
}

QImage photoOf(const QString &text)
{
    return pictureWith(QRCodec::encode(text), QSize(600, 500), QPoint(150, 100));
}

void setClipboardFiles(const QStringList &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    mime->setUrls(urls);
    QApplication::clipboard()->setMimeData(mime);
}

} // namespace

/// The join-by-QR window and its drop target against the fake engine.
class TestQRCodeWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void reading_data();
    void reading();
    void proposedName_data();
    void proposedName();
    void clipboardRetry_data();
    void clipboardRetry();
    void pasteShortcutAndMenu();
    void drops_data();
    void drops();
    void newerPictureWins();
    void largePictureKeepsTheWindowResponsive();
    void joinTimesOutAndUnlocks();
    void joinRefusedByThePortal();
    void joinWithoutNetwork();
    void joinSucceeds();
    void closingBringsTheLoginWindowBack_data();
    void closingBringsTheLoginWindowBack();

private:
    QString file(const QString &name, const QImage &image)
    {
        const QString path = m_dir.filePath(name);
        image.save(path, "PNG");
        return path;
    }
    void accept()
    {
        m_window->qrImage()->setImage(photoOf(invitation()));
        QTRY_COMPARE(m_window->infoLabel()->text(), QRImageView::acceptedText());
        QVERIFY(m_window->joinButton()->isEnabled());
    }
    void dismissAlert()
    {
        QVERIFY(m_window->alert());
        m_window->alert()->buttons().first()->click();
        QTRY_VERIFY(!m_window->isJoining());
    }

    std::unique_ptr<UiHarness> m_app;
    QPointer<QRCodeWindowController> m_window;
    QTemporaryDir m_dir;
};

void TestQRCodeWindow::initTestCase()
{
    qputenv("USER", "tester");
    m_app = std::make_unique<UiHarness>(QString());
}

void TestQRCodeWindow::init()
{
    m_app->launch();
    AppStatus::shareStatus()->reachabilityChanged(2);
    QApplication::clipboard()->clear();
    m_window = new QRCodeWindowController;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestQRCodeWindow::cleanup()
{
    if (m_window && m_window->alert())
        m_window->alert()->buttons().first()->click();
    delete m_window;
    QVERIFY(m_app->quit());
}

void TestQRCodeWindow::reading_data()
{
    const QString valid = invitation();
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("portal"); // of an accepted invitation
    QImage blank(640, 480, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QTest::newRow("no code") << file("blank.png", blank) << "没有发现二维码 " << QString();
    QTest::newRow("another system") << file("other.png", photoOf("https://example.com/hello?key=1"))
                                    << "抱歉,只能识别本系统二维码!" << QString();
    QTest::newRow("an incomplete link")
        << file("incomplete.png", photoOf("http://127.0.0.9:8080/pages/Kwuser/l.do?key=abc&pin=1"))
        << "抱歉!只能识别本系统二维码." << QString();
    QTest::newRow("&s=1") << file("s1.png", photoOf(valid + "&s=1")) << "抱歉,只能识别本系统二维码!"
                          << QString();
    QTest::newRow("expired") << file("expired.png", photoOf(invitation("DemoRoom1000", -1)))
                             << "此二维码已经过期了,无法入会" << QString();
    QTest::newRow("markup") << file("markup.png", photoOf(valid + "&x=<b>hi</b>"))
                            << "抱歉,只能识别本系统二维码!" << QString();
    QTest::newRow("a control character") << file("control.png", photoOf(valid + QChar(7)))
                                         << "抱歉,只能识别本系统二维码!" << QString();
    QTest::newRow("3 KB of text") << file("long.png", largeCode(valid + "&pad=" +
                                                                QString(2900 - valid.size(), u'a')))
                                  << "抱歉,只能识别本系统二维码!" << QString();
    // The link's server is the address the inviter signed in at; the portal is the one the
    // deployment named, so the two hosts need not be the same.
    QTest::newRow("a portal on another host")
        << file("host.png", photoOf(invitation("DemoRoom1000", 48, "https://portal.example:8443")))
        << "请输入姓名后，进入会议"
        << "https://portal.example:8443";
    QTest::newRow("a portal that is no web address")
        << file("fileportal.png", photoOf(invitation("DemoRoom1000", 48, "file:///etc/passwd")))
        << "抱歉!只能识别本系统二维码." << QString();
    QTest::newRow("not a picture") << [this] {
        const QString path = m_dir.filePath("notes.png");
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(invitation().toUtf8());
        return path;
    }() << "没有发现二维码 " << QString();
    QTest::newRow("a truncated PNG") << [this] {
        const QString path = file("truncated.png", photoOf(invitation()));
        QFile f(path);
        f.open(QIODevice::ReadWrite);
        f.resize(f.size() / 4);
        return path;
    }() << "没有发现二维码 " << QString();
    QTest::newRow("an invitation") << file("valid.png", photoOf(valid)) << "请输入姓名后，进入会议"
                                   << "http://127.0.0.9:8081";
}

void TestQRCodeWindow::reading()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    QFETCH(QString, portal);
    const bool accepted = message == QRImageView::acceptedText();
    // First an accepted code, so that a refusal visibly replaces it.
    if (!accepted)
        accept();
    m_window->qrImage()->setImageFile(path);
    QTRY_COMPARE(m_window->infoLabel()->text(), message);
    QTRY_VERIFY(!m_window->qrImage()->isReading() && !m_window->qrImage()->flag());
    QCOMPARE(m_window->nameView()->isVisible(), accepted);
    QCOMPARE(m_window->roomDic().isEmpty(), !accepted);
    QCOMPARE(m_window->joinButton()->isEnabled(), accepted);
    const QColor colour = m_window->infoLabel()->palette().color(QPalette::WindowText);
    QCOMPARE(colour, accepted ? QColor(Qt::black)
                              : QColor::fromRgbF(0, 0.5215686274509804f, 0.996078431372549f));
    if (accepted) {
        QVERIFY(QRegularExpression(QStringLiteral("^tester [1-9][0-9]$"))
                    .match(m_window->userName()->text())
                    .hasMatch());
        QCOMPARE(m_window->roomDic().value("roomKey").toString(), QStringLiteral("DemoRoom1000"));
        QCOMPARE(m_window->roomDic().value("portal").toString(), portal);
        QCOMPARE(m_window->roomDic().value("pin").toString(), QStringLiteral("2468"));
        QVERIFY(m_window->userName()->hasFocus());
        m_window->userName()->clear();
        QVERIFY(!m_window->joinButton()->isEnabled());
        QTest::keyClicks(m_window->userName(), QStringLiteral("w"));
        QVERIFY(m_window->joinButton()->isEnabled());
    }
}

void TestQRCodeWindow::proposedName_data()
{
    QTest::addColumn<int>("random");
    QTest::addColumn<QString>("name");
    QTest::newRow("lowest") << 0 << "ann 10";
    QTest::newRow("highest") << 89 << "ann 99";
    QTest::newRow("between") << 5 << "ann 15";
}

void TestQRCodeWindow::proposedName()
{
    QFETCH(int, random);
    QFETCH(QString, name);
    QCOMPARE(QRCodeWindowController::proposedName(QStringLiteral("ann"), random), name);
}

void TestQRCodeWindow::clipboardRetry_data()
{
    QImage blank(400, 300, QImage::Format_RGB32);
    blank.fill(Qt::white);
    const QString code = file("code.png", photoOf(invitation()));
    const QString none = file("none.png", blank);
    const QString text = m_dir.filePath("text.txt");
    QFile f(text);
    f.open(QIODevice::WriteOnly);
    f.write("hello");
    f.close();
    const QString noCode = QRImageView::noCodeText();
    const QString yes = QRImageView::acceptedText();

    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QImage>("pixels");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("reads");
    QTest::newRow("a copied file")
        << QStringList{code} << QImage() << QString() << QStringList{noCode, yes} << 2;
    QTest::newRow("a picture without code, no files")
        << QStringList() << blank << QString() << QStringList{noCode} << 1;
    QTest::newRow("several files, walked once")
        << QStringList{none, code, text, none} << QImage() << QString()
        << QStringList{noCode, noCode, yes, noCode, noCode} << 5;
    QTest::newRow("copied pixels")
        << QStringList() << photoOf(invitation()) << QString() << QStringList{yes} << 1;
    QTest::newRow("a link as text")
        << QStringList() << QImage() << QString(invitation() + "\n") << QStringList{yes} << 0;
    QTest::newRow("other text") << QStringList() << QImage() << QStringLiteral("hello")
                                << QStringList{noCode} << 1;
}

void TestQRCodeWindow::clipboardRetry()
{
    QFETCH(QStringList, files);
    QFETCH(QImage, pixels);
    QFETCH(QString, text);
    QFETCH(QStringList, messages);
    QFETCH(int, reads);
    if (!files.isEmpty())
        setClipboardFiles(files);
    else if (!pixels.isNull())
        QApplication::clipboard()->setImage(pixels);
    else
        QApplication::clipboard()->setText(text);
    QRImageView view;
    QStringList reported;
    int successes = 0;
    view.setImageResult([&](const QString &message) { reported.append(message); });
    view.setSuccess([&](const QVariantMap &) { ++successes; });
    view.pasteNow();
    QTRY_VERIFY(!view.isReading() && !view.flag());
    QCOMPARE(reported, messages);
    QCOMPARE(view.readCount(), reads);
    QCOMPARE(successes, int(messages.count(QRImageView::acceptedText())));
}

void TestQRCodeWindow::pasteShortcutAndMenu()
{
    QApplication::clipboard()->setImage(photoOf(invitation()));
    QTest::keyClick(m_window, Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE(m_window->infoLabel()->text(), QRImageView::acceptedText());
    QMenu *menu = m_window->qrImage()->contextMenu();
    QCOMPARE(menu->title(), QStringLiteral("粘贴"));
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("粘贴"));
    QCOMPARE(menu->actions().first()->shortcut(), QKeySequence(QKeySequence::Paste));
    QTest::mouseClick(m_window->qrImage(), Qt::RightButton);
    QTRY_VERIFY(menu->isVisible());
    menu->close();
    // The menu's paste reads the clipboard again.
    QImage blank(300, 300, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QApplication::clipboard()->setImage(blank);
    menu->actions().first()->trigger();
    QTRY_COMPARE(m_window->infoLabel()->text(), QRImageView::noCodeText());
    QVERIFY(m_window->nameView()->isHidden());
}

void TestQRCodeWindow::drops_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("message");
    QTest::newRow("a file") << "file" << true << QRImageView::acceptedText();
    QTest::newRow("pixels") << "pixels" << true << QRImageView::acceptedText();
    QTest::newRow("a link") << "link" << true << QRImageView::acceptedText();
    QTest::newRow("other text") << "text" << false << QString();
    QTest::newRow("while joining") << "locked" << false << QRImageView::acceptedText();
}

void TestQRCodeWindow::drops()
{
    QFETCH(QString, kind);
    QFETCH(bool, taken);
    QFETCH(QString, message);
    QMimeData mime;
    if (kind == u"file" || kind == u"locked")
        mime.setUrls({QUrl::fromLocalFile(file("drop.png", photoOf(invitation())))});
    else if (kind == u"pixels")
        mime.setImageData(photoOf(invitation()));
    else if (kind == u"link")
        mime.setText(invitation());
    else
        mime.setText(QStringLiteral("hello"));
    if (kind == u"locked") {
        accept();
        m_window->timeoutTimer()->setInterval(60000);
        m_window->joinButton()->click();
        QVERIFY(m_window->isJoining());
    }
    const int reads = m_window->qrImage()->readCount();
    QCOMPARE(DragAndDrop::dropOn(m_window->qrImage(), &mime), taken);
    if (!message.isEmpty())
        QTRY_COMPARE(m_window->infoLabel()->text(), message);
    QTRY_VERIFY(!m_window->qrImage()->isReading());
    QCOMPARE(m_window->qrImage()->readCount(), reads + ((taken && kind != u"link") ? 1 : 0));
}

void TestQRCodeWindow::newerPictureWins()
{
    QImage big(4000, 3000, QImage::Format_RGB32);
    big.fill(Qt::gray);
    QStringList reported;
    m_window->qrImage()->setImageResult([&](const QString &m) { reported.append(m); });
    m_window->qrImage()->setImage(big);
    m_window->qrImage()->setImage(photoOf(invitation()));
    QTRY_VERIFY(!m_window->qrImage()->isReading() && !m_window->qrImage()->flag());
    // The older reading runs on; whatever it finds must not come through.
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
    QCoreApplication::processEvents();
    QCOMPARE(reported, QStringList{QRImageView::acceptedText()});
    QCOMPARE(m_window->qrImage()->readCount(), 1);
}

void TestQRCodeWindow::largePictureKeepsTheWindowResponsive()
{
    // 50 megapixels with a code in it.
    QImage photo = pictureWith(QRCodec::encode(invitation()).scaled(2600, 2600), QSize(7100, 7100),
                               QPoint(2500, 2500));
    const QString path = file("huge.png", photo);
    photo = {};
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(5);
    m_window->qrImage()->setImageFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->infoLabel()->text(), QRImageView::acceptedText(), 30000);
    QVERIFY2(ticks > 5, qPrintable(QString::number(ticks)));
}

void TestQRCodeWindow::joinTimesOutAndUnlocks()
{
    accept();
    m_window->userName()->setText(QStringLiteral("来访者"));
    m_window->timeoutTimer()->setInterval(200);
    QTest::mouseClick(m_window->joinButton(), Qt::LeftButton);
    QCOMPARE(FakeEngine::instance().calls(CR::EventGuestJoin).size(), 1);
    QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::RoomKey, 128), "DemoRoom1000");
    QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::DisplayName, 128), "来访者");
    QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::Pin, 17), "2468");
    QCOMPARE(UiHarness::sentText(CR::EventGuestJoin, CR::GuestJoin::Portal, CR::TextWidth),
             "http://127.0.0.9:8081");
    QCOMPARE(AppUser::defaultUser()->displayName, QStringLiteral("来访者"));
    // Locked while joining.
    QVERIFY(m_window->isJoining());
    QVERIFY(!m_window->qrImage()->isEditable());
    QVERIFY(!m_window->qrImage()->acceptDrops());
    QVERIFY(!m_window->userName()->isEnabled());
    QVERIFY(!m_window->joinButton()->isEnabled());
    QVERIFY(m_window->indicator()->isAnimating());
    QVERIFY(!(m_window->windowFlags() & Qt::WindowCloseButtonHint));
    m_window->close();
    QVERIFY(m_window && m_window->isVisible());
    QTest::keyClick(m_window, Qt::Key_Return);
    QCOMPARE(FakeEngine::instance().calls(CR::EventGuestJoin).size(), 1);
    // The time-out.
    QTRY_VERIFY(m_window->alert());
    QCOMPARE(m_window->alert()->informativeText(), QStringLiteral("请求超时,检查网络再试"));
    QCOMPARE(FakeEngine::instance().calls(CR::EventCancelJoin).size(), 1);
    QVERIFY(m_window->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!m_window->indicator()->isAnimating());
    dismissAlert();
    QVERIFY(m_window->qrImage()->isEditable());
    QVERIFY(m_window->userName()->isEnabled());
    QVERIFY(m_window->joinButton()->isEnabled());
    QCOMPARE(m_window->roomDic().value("roomKey").toString(), QStringLiteral("DemoRoom1000"));
}

void TestQRCodeWindow::joinRefusedByThePortal()
{
    accept();
    // A refusal while nothing is being joined is not this window's.
    NotificationCenter::defaultCenter()->postNotificationName(NotificationCenter::roomLinkError,
                                                              QVariantMap{{"reason", "别的窗口"}});
    QVERIFY(!m_window->alert()); // posted on the main thread: delivered at once
    m_window->joinButton()->click();
    NotificationCenter::defaultCenter()->postNotificationName(
        NotificationCenter::roomLinkError, QVariantMap{{"reason", "入会失败,请检查入会链接"}});
    QTRY_VERIFY(m_window->alert());
    QCOMPARE(m_window->alert()->informativeText(), QStringLiteral("入会失败,请检查入会链接"));
    QVERIFY(!m_window->timeoutTimer()->isActive());
    dismissAlert();
    QVERIFY(m_window->joinButton()->isEnabled());
}

void TestQRCodeWindow::joinWithoutNetwork()
{
    accept();
    AppStatus::shareStatus()->reachabilityChanged(0);
    m_window->joinButton()->click();
    QTRY_COMPARE(UiHarness::toastIn(m_window), QStringLiteral("好像无法连接到网络了"));
    QVERIFY(FakeEngine::instance().calls(CR::EventGuestJoin).isEmpty());
    QVERIFY(!m_window->isJoining());
    AppStatus::shareStatus()->reachabilityChanged(2);
}

void TestQRCodeWindow::joinSucceeds()
{
    QMainWindow *login = m_app->delegate()->window();
    login->show();
    accept();
    m_window->joinButton()->click();
    AppStatus::shareStatus()->setIsInConference(true);
    NotificationCenter::defaultCenter()->postNotificationName(
        NotificationCenter::joinConferenceSuccess);
    QTRY_VERIFY(!m_window);
    QVERIFY(!login->isVisible());
    JoinConferenceWindowController *conference = JoinConferenceWindowController::sharedJoinWindow();
    QVERIFY(conference->isVisible());
    conference->hide();
}

void TestQRCodeWindow::closingBringsTheLoginWindowBack_data()
{
    QTest::addColumn<bool>("inConference");
    QTest::newRow("outside a call") << false;
    QTest::newRow("in a call") << true;
}

void TestQRCodeWindow::closingBringsTheLoginWindowBack()
{
    QFETCH(bool, inConference);
    delete m_window;
    QMainWindow *login = m_app->delegate()->window();
    login->show();
    LoginViewController *view = m_app->delegate()->loginVc();
    QVERIFY(!view->qrButton()->isHidden()); // offered once the window exists
    view->qrButton()->click();
    m_window = qobject_cast<QRCodeWindowController *>(view->qrWindow());
    QVERIFY(m_window);
    QVERIFY(m_window->isVisible());
    QVERIFY(!login->isVisible());
    AppStatus::shareStatus()->setIsInConference(inConference);
    m_window->close();
    QTRY_VERIFY(!m_window); // gone with its window
    QCOMPARE(login->isVisible(), !inConference);
}

QTEST_MAIN(TestQRCodeWindow)
#include "tst_qrcodewindow.moc"
