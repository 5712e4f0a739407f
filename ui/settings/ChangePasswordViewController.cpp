#include "ui/settings/ChangePasswordViewController.h"

#include "bridge/TRQClientInEvent.h"
#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "net/ContactListNetworking.h"
#include "net/NetWork.h"
#include "ui/widgets/AlertHelper.h"
#include "ui/widgets/ToastView.h"
#include "ui_ChangePasswordViewController.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QRegularExpression>

ChangePasswordViewController::ChangePasswordViewController(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ChangePasswordViewController>())
{
    ui->setupUi(this);
    for (QLineEdit *field : {ui->oldPass, ui->chagePass, ui->confirmPass}) {
        connect(field, &QLineEdit::editingFinished, this, [this, field] { change(field); });
    }
    connect(ui->confirmButton, &QPushButton::clicked, this, [this] { updatePass(); });
}

ChangePasswordViewController::~ChangePasswordViewController() = default;

QLineEdit *ChangePasswordViewController::oldPass() const
{
    return ui->oldPass;
}
QLineEdit *ChangePasswordViewController::chagePass() const
{
    return ui->chagePass;
}
QLineEdit *ChangePasswordViewController::confirmPass() const
{
    return ui->confirmPass;
}
QPushButton *ChangePasswordViewController::confirmButton() const
{
    return ui->confirmButton;
}

QMessageBox *ChangePasswordViewController::successAlert() const
{
    return m_successAlert;
}

bool ChangePasswordViewController::validateNumberOrEnglish(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-zA-Z0-9]*$"));
    return text.size() >= 6 && text.size() <= 12 && pattern.match(text).hasMatch();
}

bool ChangePasswordViewController::change(QLineEdit *sender)
{
    if (sender->text().isEmpty() || sender == ui->oldPass ||
        validateNumberOrEnglish(sender->text()))
        return true;
    refuse(sender, tr("请输入6-12位数字或字母"));
    return false;
}

void ChangePasswordViewController::refuse(QLineEdit *field, const QString &text)
{
    ToastView::showToastInWindow(window(), text, QStringLiteral("warning"),
                                 ToastView::defaultSeconds);
    field->clear();
    field->setFocus();
}

void ChangePasswordViewController::updatePass()
{
    if (ui->oldPass->text().isEmpty() || ui->chagePass->text().isEmpty() ||
        ui->confirmPass->text().isEmpty())
        return;
    if (ui->oldPass->text() != AppUser::defaultUser()->userPassWord) {
        refuse(ui->oldPass, tr("原密码错误"));
        return;
    }
    if (ui->chagePass->text() != ui->confirmPass->text()) {
        ui->confirmPass->clear();
        refuse(ui->chagePass, tr("两次新密码不一致"));
        return;
    }
    // The field's own check runs when it loses the focus, which a click on a button that
    // takes no focus, or the Return key, never causes: the portal gets no password the
    // client would refuse.
    if (!change(ui->chagePass))
        return;
    NetWork *request =
        NetWork::initWithUrlString(ContactListNetworking::plainAddress(),
                                   ContactListNetworking::updatePasswordBody(ui->chagePass->text()),
                                   QStringLiteral("UpdatePasswordRequest"));
    QPointer<ChangePasswordViewController> self(this);
    // The answer matters after this page is gone too: the password has changed either way.
    request->setSuccessBlock(qApp, [self](const QVariant &) {
        if (self)
            self->changed();
        else
            signOutWhenGone(
                AlertHelper::showAlertWithMessage(tr("修改成功,您需要使用新密码登录!"), {}));
    });
    request->setFailBlock(qApp, [self](const NetworkError &) {
        AppStatus::shareStatus()->setIsChangePassword(false);
        if (self)
            self->failed();
    });
    AppStatus::shareStatus()->setIsChangePassword(true);
    request->startRequest();
}

void ChangePasswordViewController::changed()
{
    m_successAlert =
        AlertHelper::showAlertWithMessage(tr("修改成功,您需要使用新密码登录!"), {}, window());
    signOutWhenGone(m_successAlert);
}

/// However the alert goes away — answered, or closed with the window it sits on when the
/// settings are opened again — the user signs in again with the new password.
void ChangePasswordViewController::signOutWhenGone(QMessageBox *alert)
{
    if (!alert)
        return signOutAfterChange();
    connect(alert, &QObject::destroyed, qApp, [] { signOutAfterChange(); });
}

void ChangePasswordViewController::signOutAfterChange()
{
    AppStatus::shareStatus()->setIsChangePassword(false);
    TRQClientInEvent::ClientAsyncRequestLogOut();
}

void ChangePasswordViewController::failed()
{
    ToastView::showToastInWindow(window(), tr("发生了一些错误,修改密码失败."),
                                 QStringLiteral("warning"), ToastView::defaultSeconds);
}
