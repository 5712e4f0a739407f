#pragma once

#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>

#include <memory>

namespace Ui {
class QRCodeWindowController;
}
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QRImageView;
class Spinner;

/// The join-by-QR window: the user drops or pastes a picture of an invitation code, types a
/// display name and joins the room as a guest.
class QRCodeWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QRCodeWindowController)

public:
    static constexpr int timeoutSeconds = 20;

    explicit QRCodeWindowController(QWidget *parent = nullptr);
    ~QRCodeWindowController() override;

    /// "<account name> <10..99>"
    static QString proposedName(const QString &accountName, int random);

    void enterRoom();
    void controlTextDidChange();
    void joinConferenceSucess();
    void joinError(const QString &reason);
    void showAlertWithMessage(const QString &message);

    QVariantMap roomDic() const { return m_roomDic; }
    bool isJoining() const { return m_joining; }
    QRImageView *qrImage() const;
    QLabel *infoLabel() const;
    QWidget *nameView() const;
    QLineEdit *userName() const;
    QPushButton *joinButton() const;
    Spinner *indicator() const;
    QTimer *timeoutTimer() { return &m_timeout; }
    QMessageBox *alert() const { return m_alert; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void windowDidLoad();
    void showMessage(const QString &message);
    void showInvitation(const QVariantMap &invitation);
    void setLocked(bool locked);
    void setClosable(bool closable);
    void windowWillClose();

    std::unique_ptr<Ui::QRCodeWindowController> ui;
    QVariantMap m_roomDic;
    QTimer m_timeout;
    QPointer<QMessageBox> m_alert;
    QMetaObject::Connection m_successObserver;
    QMetaObject::Connection m_errorObserver;
    bool m_joining = false;
    bool m_joined = false;
};
