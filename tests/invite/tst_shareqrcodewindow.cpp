#include "bridge/Helper.h"
#include "model/AppUser.h"
#include "net/StringHelper.h"
#include "tests/invite/QRTestReader.h"
#include "tests/support/TestHome.h"
#include "ui/invite/QRBackView.h"
#include "ui/invite/QRImageMergeView.h"
#include "ui/invite/ShareQRCodeWindowController.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimeZone>

#include <memory>

namespace {

/// The background of the saved and dragged card.
const QColor cardGrey(236, 236, 236);

} // namespace

/// The invitation window: its code, its texts, copying, saving and dragging the card.
class TestShareQRCodeWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void codeRoundTrip();
    void validitySentence_data();
    void validitySentence();
    void copyLink();
    void savePhoto_data();
    void savePhoto();
    void savePanel();
    void dragCard();
    void cleanupTestCase();

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<ShareQRCodeWindowController> m_window;
};

void TestShareQRCodeWindow::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    const auto user = AppUser::defaultUser();
    user->user_portal = QStringLiteral("http://127.0.0.1:8080");
    user->httpPortal = QStringLiteral("http://127.0.0.1:8081");
    user->roomURL = QStringLiteral("sip:room?key=DemoRoom1000");
    user->roomPin = QStringLiteral("2468");
    user->period = 48;
    user->displayName = QStringLiteral("演示用户");
    m_window = std::make_unique<ShareQRCodeWindowController>();
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestShareQRCodeWindow::codeRoundTrip()
{
    const QString link = m_window->codeStr();
    QVERIFY(link.startsWith(QStringLiteral("http://127.0.0.1:8080/pages/Kwuser/l.do?key=")));
    const QVariantMap parsed = Helper::analyzingURLStr(link);
    QCOMPARE(parsed.value(QStringLiteral("key")).toString(), QStringLiteral("DemoRoom1000"));
    QCOMPARE(parsed.value(QStringLiteral("portal")).toString(), AppUser::defaultUser()->httpPortal);
    QCOMPARE(parsed.value(QStringLiteral("pin")).toString(), QStringLiteral("2468"));
    QCOMPARE(readQRCode(m_window->createQRCodeImage()), link);
    // As shown: with the logo over its centre, on the card that is saved and dragged.
    QCOMPARE(readQRCode(m_window->qrCodeImage()->grab().toImage()), link);
    QCOMPARE(readQRCode(m_window->qrBackView()->grab().toImage()), link);
    QCOMPARE(m_window->qrCodeImage()->size(), QSize(300, 300));
    QCOMPARE(m_window->userName()->text(), QStringLiteral("演示用户"));
    QVERIFY(m_window->textLabel()->text().startsWith(QStringLiteral("该二维码2天内(")));
    QVERIFY(m_window->link()->isHidden());
}

void TestShareQRCodeWindow::validitySentence_data()
{
    const QDateTime now(QDate(2026, 12, 8), QTime(15, 4), Qt::LocalTime);
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<qint64>("period");
    QTest::addColumn<QString>("sentence");
    QTest::newRow("48 hours") << now << qint64(48) << "该二维码2天内(12月10日 15:04前)有效";
    QTest::newRow("36 hours") << now << qint64(36) << "该二维码36小时内(12月10日 03:04前)有效";
    QTest::newRow("0 hours") << now << qint64(0) << "该二维码0天内(12月8日 15:04前)有效";
    QTest::newRow("into March") << QDateTime(QDate(2027, 3, 4), QTime(9, 5), Qt::LocalTime)
                                << qint64(24) << "该二维码1天内(3月5日 09:05前)有效";
}

void TestShareQRCodeWindow::validitySentence()
{
    QFETCH(QDateTime, now);
    QFETCH(qint64, period);
    QFETCH(QString, sentence);
    QCOMPARE(ShareQRCodeWindowController::validitySentence(period, now), sentence);
}

void TestShareQRCodeWindow::copyLink()
{
    QApplication::clipboard()->setText(QStringLiteral("something else"));
    m_window->linkButton()->click();
    const QString copied = QApplication::clipboard()->text();
    QVERIFY(copied.startsWith(QStringLiteral("http://127.0.0.1:8080/pages/Kwuser/l.do?key=")));
    QCOMPARE(Helper::analyzingURLStr(copied).value(QStringLiteral("key")).toString(),
             QStringLiteral("DemoRoom1000"));
    // The notice stays for five seconds, then goes when its timer fires.
    QVERIFY(m_window->link()->isVisible());
    QTimer *notice = m_window->noticeTimer();
    QVERIFY(notice->isActive());
    QVERIFY(notice->isSingleShot());
    QCOMPARE(notice->interval(), 5000);
    QVERIFY(QMetaObject::invokeMethod(notice, "timeout"));
    QVERIFY(m_window->link()->isHidden());
}

void TestShareQRCodeWindow::savePhoto_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<bool>("written");
    QTest::newRow("the Desktop") << "Desktop/二维码.png" << true;
    QTest::newRow("replacing a file") << "Desktop/二维码.png" << true;
    QTest::newRow("a missing folder") << "nowhere/at/all/二维码.png" << false;
}

void TestShareQRCodeWindow::savePhoto()
{
    QFETCH(QString, relativePath);
    QFETCH(bool, written);
    QDir(m_home->path()).mkpath(QStringLiteral("Desktop"));
    const QString path = m_home->path() + u'/' + relativePath;
    QCOMPARE(m_window->savePhotoTo(path), written);
    QCOMPARE(QFile::exists(path), written);
    if (written) {
        const QImage saved(path, "PNG");
        QCOMPARE(saved.size(), m_window->qrBackView()->grab().toImage().size());
        QCOMPARE(saved.pixelColor(0, 0), cardGrey); // the card's own background
        QCOMPARE(readQRCode(saved), m_window->codeStr());
    }
}

void TestShareQRCodeWindow::savePanel()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QDir(desktop).mkpath(QStringLiteral("."));
    QFile::remove(desktop + QStringLiteral("/二维码.png"));
    m_window->saveButton()->click();
    auto *panel = m_window->findChild<QFileDialog *>();
    QVERIFY(panel);
    QTRY_VERIFY(panel->isVisible());
    QCOMPARE(panel->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(QDir(panel->directory()).canonicalPath(), QDir(desktop).canonicalPath());
    QCOMPARE(panel->selectedFiles().value(0), desktop + QStringLiteral("/二维码.png"));
    static_cast<QDialog *>(panel)->accept(); // the panel's own accept, as its button does
    QTRY_VERIFY(QFile::exists(desktop + QStringLiteral("/二维码.png")));
    QCOMPARE(readQRCode(QImage(desktop + QStringLiteral("/二维码.png"), "PNG")),
             m_window->codeStr());
}

void TestShareQRCodeWindow::dragCard()
{
    QDir(QRBackView::cacheFolder()).removeRecursively();
    std::unique_ptr<QMimeData> mime(m_window->qrBackView()->dragData());
    QVERIFY(mime);
    QCOMPARE(mime->urls().size(), 1);
    const QString path = mime->urls().first().toLocalFile();
    QCOMPARE(path, QRBackView::cacheFolder() + QStringLiteral("/二维码.png"));
    QVERIFY(path.startsWith(m_home->path())); // the user's cache folder
    QVERIFY(path.contains(QStringLiteral("/com.Tesvale.Korrin.www/QRCodeImage/")));
    const QImage dragged(path, "PNG");
    QCOMPARE(readQRCode(dragged), m_window->codeStr());
    QCOMPARE(dragged.pixelColor(dragged.width() - 1, dragged.height() - 1), cardGrey);
    QVERIFY(mime->hasImage());
    QCOMPARE(readQRCode(qvariant_cast<QImage>(mime->imageData())), m_window->codeStr());
}

void TestShareQRCodeWindow::cleanupTestCase()
{
    m_window.reset();
    m_home.reset();
}

QTEST_MAIN(TestShareQRCodeWindow)
#include "tst_shareqrcodewindow.moc"
