#pragma once

#include "model/Entity.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class ContactDetailViewController;
}
class ContactDetailViewControllerDelegate;
class NetworkError;
class PinWindow;
class QLabel;
class QLineEdit;
class QPushButton;

/// The details of a directory member or room: fields, presence, join (with the PIN window
/// when the room asks for one), remove from contacts, share the room's invitation.
class ContactDetailViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ContactDetailViewController)

public:
    static constexpr int deleteTag = 100;
    static constexpr int shareTag = 101;

    /// Makes the share-QR-code window; the share action is offered only when one is set.
    using WindowFactory = std::function<QWidget *()>;
    static void setShareWindowFactory(WindowFactory factory);

    explicit ContactDetailViewController(QWidget *parent = nullptr);
    ~ContactDetailViewController() override;

    void setDelegate(ContactDetailViewControllerDelegate *delegate) { m_delegate = delegate; }
    void setContactType(int type) { m_contactType = type; }
    int contactType() const { return m_contactType; }
    void setContact(const std::shared_ptr<Entity> &contact);
    std::shared_ptr<Entity> contact() const { return m_contact; }
    QString urlStr() const { return m_urlStr; }

    // Actions
    void joinMyConferenceRoom();
    void joinConferenceRoomWithPassword();
    void canclePassWindow();
    void deleteContact();

    // Outlets
    QLabel *nameLabel() const;
    QLabel *extentionLabel() const;
    QLabel *tenantLabel() const;
    QLabel *ownerLabel() const;
    QLabel *statusLabel() const;
    QLabel *iconView() const;
    QPushButton *deleteContactButton() const;
    QPushButton *joinConferenceButton() const;
    PinWindow *passWindow() const { return m_passWindow; }
    QLineEdit *roomPassField() const;
    QString iconName() const { return m_iconName; }

private:
    void joinSucceeded();
    void joinFailed(const NetworkError &error);
    void removeContact();
    void openShareWindow();

    std::unique_ptr<Ui::ContactDetailViewController> ui;
    ContactDetailViewControllerDelegate *m_delegate = nullptr;
    std::shared_ptr<Entity> m_contact;
    int m_contactType = 0;
    QString m_urlStr;
    QString m_iconName;
    PinWindow *m_passWindow;
    QPointer<QWidget> m_qrWindow;
};
