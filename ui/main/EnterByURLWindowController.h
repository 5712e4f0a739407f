#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class EnterByURLWindowController;
}
class QLineEdit;
class QPushButton;
class Spinner;

/// The guest-join dialog of an invitation link opened while nobody is signed in: the user
/// confirms a display name and joins the link's room as a guest.
class EnterByURLWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EnterByURLWindowController)

public:
    static constexpr int timeoutSeconds = 20;

    explicit EnterByURLWindowController(QWidget *parent = nullptr);
    ~EnterByURLWindowController() override;

    QString roomKey() const { return m_roomKey; }
    void setRoomKey(const QString &key) { m_roomKey = key; }
    QString confPortal() const { return m_confPortal; }
    void setConfPortal(const QString &portal) { m_confPortal = portal; }
    QString pinNum() const { return m_pinNum; }
    void setPinNum(const QString &pin) { m_pinNum = pin; }

    /// "<first five letters of the host name> <10..99>"
    static QString proposedName(const QString &hostName, int random);

    void joinByUrl();
    void joinConferenceSucess();
    void joinError(const QString &reason);

    QLineEdit *nameTextFiled() const;
    QPushButton *joinBtn() const;
    Spinner *indicator() const;
    bool isTimeoutArmed() const { return m_timeout.isActive(); }
    QTimer *timeoutTimer() { return &m_timeout; }

private:
    void windowDidLoad();
    void setJoining(bool joining);

    std::unique_ptr<Ui::EnterByURLWindowController> ui;
    QString m_roomKey;
    QString m_confPortal;
    QString m_pinNum;
    QTimer m_timeout;
    bool m_joining = false;
    bool m_awaiting = false; ///< a join of this dialog may still become a conference
};
