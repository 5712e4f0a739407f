#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

namespace Ui {
class ChangePasswordViewController;
}
class QLineEdit;
class QMessageBox;
class QPushButton;

/// The password page: the new password is checked as it is typed, the old one against the
/// signed-in user's, then the portal is asked to change it and the user signs in anew.
class ChangePasswordViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChangePasswordViewController)

public:
    explicit ChangePasswordViewController(QWidget *parent = nullptr);
    ~ChangePasswordViewController() override;

    QLineEdit *oldPass() const;
    QLineEdit *chagePass() const;
    QLineEdit *confirmPass() const;
    QPushButton *confirmButton() const;
    /// The success alert while it is shown.
    QMessageBox *successAlert() const;

    /// The rule of a field the user has left; false when the field was refused and emptied.
    bool change(QLineEdit *sender);
    void updatePass();
    /// 6 to 12 letters or digits.
    static bool validateNumberOrEnglish(const QString &text);

private:
    void refuse(QLineEdit *field, const QString &text);
    void changed();
    void failed();
    /// The portal changed the password: the user must sign in with the new one.
    static void signOutAfterChange();
    static void signOutWhenGone(QMessageBox *alert);

    std::unique_ptr<Ui::ChangePasswordViewController> ui;
    QPointer<QMessageBox> m_successAlert;
};
