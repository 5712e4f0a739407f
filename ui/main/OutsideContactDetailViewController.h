#pragma once

#include "model/Entity.h"

#include <QWidget>

#include <memory>

namespace Ui {
class OutsideContactDetailViewController;
}
class ContactDetailViewControllerDelegate;
class NetworkError;
class PinWindow;
class QLabel;
class QLineEdit;
class QPushButton;

/// The outside contact of a search: the typed text taken as "local-part@domain" of a room on
/// another portal, joined as an inter-portal call with an optional PIN.
class OutsideContactDetailViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OutsideContactDetailViewController)

public:
    explicit OutsideContactDetailViewController(QWidget *parent = nullptr);
    ~OutsideContactDetailViewController() override;

    void setDelegate(ContactDetailViewControllerDelegate *delegate) { m_delegate = delegate; }
    void setModel(const std::shared_ptr<Entity> &model);
    std::shared_ptr<Entity> model() const { return m_model; }

    // Actions
    void joinOutsideRoom();
    void passWindowEnsure();
    void passWindowCancle();
    void joinOutsideRoomWithPin(const QString &pin);

    QLabel *name() const;
    QPushButton *joinButton() const;
    PinWindow *passWindow() const { return m_passWindow; }
    QLineEdit *passWindowInput() const;

private:
    void joinFailed(const NetworkError &error);

    std::unique_ptr<Ui::OutsideContactDetailViewController> ui;
    ContactDetailViewControllerDelegate *m_delegate = nullptr;
    std::shared_ptr<Entity> m_model;
    PinWindow *m_passWindow;
};
