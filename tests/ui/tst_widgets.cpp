#include "model/AppUser.h"
#include "model/Preferences.h"
#include "tests/support/TestHome.h"
#include "tests/support/TestHttpServer.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/AppStyle.h"
#include "ui/widgets/BardgeButton.h"
#include "ui/widgets/ButtonDelegate.h"
#include "ui/widgets/ColorHelper.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/MyButton.h"
#include "ui/widgets/MyView.h"
#include "ui/widgets/SliderCell.h"
#include "ui/widgets/ToastView.h"
#include "ui/widgets/ViewHelper.h"
#include "ui/widgets/ViewTouchEventDelegate.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTest>
#include <QWindow>

#include <cmath>

/// The toast, alerts and custom controls every window uses.
class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void toastOneAtATime();
    void toastWidthFollowsText_data();
    void toastWidthFollowsText();
    void toastWithoutKeyWindow();
    void alertResponses_data();
    void alertResponses();
    void alertNeedsMessageAndButtons();
    void alertStaysOverItsWindow_data();
    void alertStaysOverItsWindow();
    void hoverImage_data();
    void hoverImage();
    void viewForwardsEvents();
    void sliderBar_data();
    void sliderBar();
    void badgeCountsBroadcasts_data();
    void badgeCountsBroadcasts();
    void namedImages();
    void drawnImages_data();
    void drawnImages();
    void styleExtensionIcons_data();
    void styleExtensionIcons();

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QWidget> m_window; ///< the key window, made anew for each case
};

void TestWidgets::init()
{
    m_home = std::make_unique<TestHome>(); // no settings
    // Toasts and alerts of an earlier case go with its window.
    m_window = std::make_unique<QWidget>();
    m_window->resize(600, 400);
    m_window->show();
    m_window->activateWindow();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void TestWidgets::cleanup()
{
    m_window.reset();
}

void TestWidgets::toastOneAtATime()
{
    ToastView *first =
        ToastView::showToastWithString(QStringLiteral("第一条"), QStringLiteral("warning"), 0.3);
    QVERIFY(first);
    QCOMPARE(first->parentWidget(), m_window.get());
    QCOMPARE(ViewHelper::tag(first), ToastView::toastTag);
    // Centred in the key window.
    QCOMPARE(first->x(), (m_window->width() - first->width()) / 2);
    QCOMPARE(first->y(), (m_window->height() - first->height()) / 2);
    QVERIFY(!ToastView::showToastWithString(QStringLiteral("第二条")));
    QCOMPARE(m_window->findChildren<ToastView *>().size(), 1);
    QPointer<ToastView> gone(first);
    QTRY_VERIFY_WITH_TIMEOUT(!gone, 2000); // removed after its delay, no fade
    ToastView *next = ToastView::showToastWithString(QStringLiteral("第三条"));
    QVERIFY(next);
    QVERIFY(!next->imageView()->pixmap().isNull()); // "addSucess" stands in for no image
    delete next;
}

void TestWidgets::toastWidthFollowsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << QStringLiteral("好");
    QTest::newRow("long") << QStringLiteral("无法连接服务器,请检查输入!无法连接服务器");
    QTest::newRow("latin") << QStringLiteral("Wrong PIN");
}

void TestWidgets::toastWidthFollowsText()
{
    QFETCH(QString, text);
    ToastView *toast = ToastView::showToastWithString(text, QStringLiteral("warning"), 5);
    QVERIFY(toast);
    const double textWidth = QFontMetricsF(toast->label()->font()).horizontalAdvance(text);
    QCOMPARE(toast->width(), int(std::ceil(textWidth + toast->label()->x() + 32.0)));
    QCOMPARE(toast->height(), 44); // the layout's height, whatever the text
    delete toast;
}

void TestWidgets::toastWithoutKeyWindow()
{
    QVERIFY(!ToastView::showToastInWindow(nullptr, QStringLiteral("x"), {}, 1));
}

void TestWidgets::alertResponses_data()
{
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<int>("press"); // -1: ended from outside
    QTest::addColumn<int>("response");
    QTest::newRow("first") << QStringList{"确定", "取消"} << 0 << 1000;
    QTest::newRow("second") << QStringList{"确定", "取消"} << 1 << 1001;
    QTest::newRow("third") << QStringList{"a", "b", "c"} << 2 << 1002;
    QTest::newRow("from outside") << QStringList{"确定", "取消"} << -1 << 0;
}

void TestWidgets::alertResponses()
{
    QFETCH(QStringList, buttons);
    QFETCH(int, press);
    QFETCH(int, response);
    int got = -100;
    QMessageBox *box = AlertHelper::showAlertWithTitle(
        QStringLiteral("注意"), QStringLiteral("确定退出吗?"), buttons,
        [&](int code) { got = code; }, m_window.get());
    QVERIFY(box);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->buttons().size(), buttons.size());
    QCOMPARE(box->defaultButton()->text(), buttons.first());
    if (press < 0) {
        box->done(0);
    } else {
        QAbstractButton *button = nullptr;
        for (QAbstractButton *b : box->buttons())
            if (b->text() == buttons[press])
                button = b;
        QVERIFY(button);
        button->click();
    }
    QTRY_COMPARE(got, response);
}

void TestWidgets::alertNeedsMessageAndButtons()
{
    QVERIFY(!AlertHelper::showAlertWithTitle(QStringLiteral("t"), QString(), {"确定"}, {},
                                             m_window.get()));
    QVERIFY(!AlertHelper::showAlertWithTitle(QStringLiteral("t"), QStringLiteral("m"), {}, {},
                                             m_window.get()));
    // Without a completion it still shows and closes quietly.
    QMessageBox *box =
        AlertHelper::showAlertWithMessage(QStringLiteral("账号在别处登陆"), {}, m_window.get());
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("注意"));
    QCOMPARE(box->buttons().first()->text(), QStringLiteral("确定"));
    box->buttons().first()->click();
}

void TestWidgets::alertStaysOverItsWindow_data()
{
    QTest::addColumn<QRect>("later"); // where the window is once the alert is up
    // A window manager places a new window only after the program showed it, so an alert that
    // comes at once opens before its window has its place.
    QTest::newRow("placed after the alert opened") << QRect(180, 120, 600, 400);
    QTest::newRow("made smaller") << QRect(100, 100, 500, 300);
}

void TestWidgets::alertStaysOverItsWindow()
{
    QFETCH(QRect, later);
    m_window->move(0, 0);
    QMessageBox *box = AlertHelper::showAlertWithMessage(QStringLiteral("发现新版本,是否升级"), {},
                                                         m_window.get());
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QCOMPARE(box->windowHandle()->transientParent(), m_window->windowHandle());
    m_window->setGeometry(later);
    QTRY_COMPARE(box->frameGeometry().center(), m_window->frameGeometry().center());
    box->buttons().first()->click();
}

namespace {

class Watcher final : public ButtonDelegate
{
public:
    bool wants = true;
    int entered = 0, exited = 0;
    bool wantsPointerEvents() const override { return wants; }
    void myButton_mouseEntered(MyButton *, QEnterEvent *) override { ++entered; }
    void myButton_mouseExited(MyButton *, QEvent *) override { ++exited; }
};

} // namespace

void TestWidgets::hoverImage_data()
{
    QTest::addColumn<bool>("tracking");
    QTest::addColumn<bool>("delegateWants");
    QTest::addColumn<bool>("swaps");
    QTest::newRow("tracking on") << true << false << true;
    QTest::newRow("delegate wants pointer") << false << true << true;
    QTest::newRow("neither") << false << false << false;
}

void TestWidgets::hoverImage()
{
    QFETCH(bool, tracking);
    QFETCH(bool, delegateWants);
    QFETCH(bool, swaps);
    MyButton button(m_window.get());
    Watcher watcher;
    watcher.wants = delegateWants;
    button.setDelegate(&watcher);
    button.setEnableTrackingArea(tracking);
    button.setNormalImageName(QStringLiteral("mic_on"));
    button.setHoverImageName(QStringLiteral("mic_off"));
    QCOMPARE(button.currentImageName(), QStringLiteral("mic_on"));
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&button, &enter);
    QCOMPARE(button.currentImageName(),
             swaps ? QStringLiteral("mic_off") : QStringLiteral("mic_on"));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    QCOMPARE(button.currentImageName(), QStringLiteral("mic_on"));
    QCOMPARE(watcher.entered, swaps ? 1 : 0);
    QCOMPARE(watcher.exited, swaps ? 1 : 0);
}

namespace {

class Recorder final : public ViewTouchEventDelegate
{
public:
    QStringList seen;
    void myView_mouseDown(QMouseEvent *) override { seen << "down"; }
    void myView_mouseUp(QMouseEvent *) override { seen << "up"; }
    void myView_rightMouseDown(QMouseEvent *) override { seen << "rightDown"; }
    void myView_rightMouseUp(QMouseEvent *) override { seen << "rightUp"; }
    void myView_keyDown(QKeyEvent *) override { seen << "keyDown"; }
    void myView_keyUp(QKeyEvent *) override { seen << "keyUp"; }
};

} // namespace

void TestWidgets::viewForwardsEvents()
{
    MyView view(m_window.get());
    view.resize(100, 100);
    view.show();
    Recorder recorder;
    // Without a delegate nothing happens and nothing breaks.
    QTest::mouseClick(&view, Qt::LeftButton);
    view.setDelegate(&recorder);
    QTest::mouseClick(&view, Qt::LeftButton);
    QTest::mouseClick(&view, Qt::RightButton);
    QTest::keyClick(&view, Qt::Key_A);
    QCOMPARE(recorder.seen,
             (QStringList{"down", "up", "rightDown", "rightUp", "keyDown", "keyUp"}));
}

void TestWidgets::sliderBar_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<double>("filled");
    QTest::newRow("minimum") << 0 << 0.0;
    QTest::newRow("half") << 50 << 96.0;
    QTest::newRow("maximum") << 100 << 192.0; // 8 shorter than the control
}

void TestWidgets::sliderBar()
{
    QFETCH(int, value);
    QFETCH(double, filled);
    SliderCell slider;
    slider.resize(200, 20);
    slider.setRange(0, 100);
    slider.setValue(value);
    const QRectF bar(4, 7, 192, 5);
    QCOMPARE(slider.filledRect(bar).width(), filled);
    QCOMPARE(slider.filledRect(bar).height(), 5.0);
    QCOMPARE(slider.trackRect(bar).width(), 192.0);
    // The filled part is drawn in the main colour; at the minimum only the grey track.
    const QImage image = slider.grab().toImage();
    const QColor atStart = image.pixelColor(6, 9);
    QCOMPARE(atStart == ColorHelper::mainColor(), value > 0);
}

void TestWidgets::badgeCountsBroadcasts_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("badge"); // empty: no badge
    QTest::newRow("two broadcasts") << QByteArray(R"([{"liveId":"a"},{"liveId":"b"}])") << "2";
    QTest::newRow("none") << QByteArray("[]") << "0";
    QTest::newRow("a dictionary") << QByteArray(R"({"error":"x"})") << "";
    QTest::newRow("not json") << QByteArray("<html/>") << "";
}

void TestWidgets::badgeCountsBroadcasts()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, badge);
    TestHttpServer server;
    QVERIFY(server.listen());
    server.enqueue({200, "application/json", body});
    Preferences().setLiveServiceUrl(server.baseUrl());
    AppUser::defaultUser()->coId = QStringLiteral("C001");
    BardgeButton button(m_window.get());
    QSignalSpy answered(&button, &BardgeButton::liveCountAnswered);
    button.resize(40, 40);
    button.show();
    QTRY_COMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().first().target, QByteArray("/rest/LiveService/getLiveList/C001"));
    QCOMPARE(button.imageView()->geometry(), QRect(5, 5, 30, 30));
    QTRY_COMPARE(answered.size(), 1);
    if (badge.isEmpty()) {
        QCOMPARE(button.findChildren<QLabel *>().size(), 1); // the image, and no badge
        return;
    }
    QCOMPARE(button.label()->text(), badge);
    QCOMPARE(button.label()->geometry(), QRect(26, 0, 14, 14));
}

void TestWidgets::namedImages()
{
    for (const char *name :
         {"warning",       "addSucess",      "add",          "search",    "close",
          "room_list",     "online_list",    "offline_list", "busy_list", "room_detail",
          "online_detail", "offline_detail", "busy_detail",  "delete",    "share",
          "invite_camera", "tips",           "liveicon",     "mic_on",    "mic_off",
          "voice_on",      "voice_off",      "camera_on",    "camera_off"}) {
        const QPixmap pixmap = Images::pixmap(QString::fromLatin1(name), QSize(24, 24), 2.0);
        QVERIFY2(!pixmap.isNull(), name);
        QCOMPARE(pixmap.size(), QSize(48, 48)); // drawn for the screen's pixel ratio
    }
    QVERIFY(Images::icon(QStringLiteral("no_such_image")).isNull());
    QVERIFY(Images::icon(QString()).isNull());
}

void TestWidgets::drawnImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("logo") << "logo" << 64 << 1.0;
    QTest::newRow("logo, twice over") << "logo" << 64 << 2.0;
    QTest::newRow("QR code") << "qrcode" << 18 << 1.0;
    QTest::newRow("QR code, twice over") << "qrcode" << 18 << 2.0;
}

void TestWidgets::drawnImages()
{
    // The login window's images show exactly the pixels of the PNGs drawn from their SVGs.
    QFETCH(QString, name);
    QFETCH(int, size);
    QFETCH(qreal, ratio);
    const int pixels = int(size * ratio);
    const QImage png(QStringLiteral(ORVALE_DRAWN_DIR "/%1-%2.png").arg(name).arg(pixels));
    QVERIFY(!png.isNull());
    const QPixmap drawn = Images::drawnPixmap(name, size, ratio);
    QPixmap expected = QPixmap::fromImage(png);
    expected.setDevicePixelRatio(ratio);
    QCOMPARE(drawn.toImage(), expected.toImage());
}

void TestWidgets::styleExtensionIcons_data()
{
    QTest::addColumn<QStyle::StandardPixmap>("icon");
    QTest::addColumn<Qt::LayoutDirection>("direction");
    QTest::newRow("horizontal") << QStyle::SP_ToolBarHorizontalExtensionButton << Qt::LeftToRight;
    QTest::newRow("horizontal, right to left")
        << QStyle::SP_ToolBarHorizontalExtensionButton << Qt::RightToLeft;
    QTest::newRow("vertical") << QStyle::SP_ToolBarVerticalExtensionButton << Qt::LeftToRight;
}

/// The extension buttons' icons, made late, are the platform style's own.
void TestWidgets::styleExtensionIcons()
{
    QFETCH(QStyle::StandardPixmap, icon);
    QFETCH(Qt::LayoutDirection, direction);
    const QString name = QApplication::style()->name();
    AppStyle style(QStyleFactory::create(name));
    const std::unique_ptr<QStyle> base(QStyleFactory::create(name));
    QStyleOption option;
    option.direction = direction;
    const QImage made = style.standardIcon(icon, &option).pixmap(QSize(16, 16)).toImage();
    QVERIFY(!made.isNull());
    QCOMPARE(made, base->standardIcon(icon, &option).pixmap(QSize(16, 16)).toImage());
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
