#pragma once

#include "model/Entity.h"

#include <QWidget>

#include <memory>

namespace Ui {
class QXContactListCellView;
}
class QLabel;
class QPushButton;

/// One row of the contact list: presence or room icon, name, and the add button of a directory
/// member who is not yet a contact.
class QXContactListCellView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QXContactListCellView)

public:
    explicit QXContactListCellView(QWidget *parent = nullptr);
    ~QXContactListCellView() override;

    void setContact(const std::shared_ptr<Entity> &contact);
    std::shared_ptr<Entity> contact() const { return m_contact; }
    /// The icon's image name, empty for a section row.
    QString iconName() const { return m_iconName; }

    QLabel *iconView() const;
    QLabel *nameLabel() const;
    QPushButton *addContactButton() const;

    static QString iconNameFor(const Entity &entity);
    /// What a screen reader says for the row: the entry and its presence.
    static QString accessibleTextFor(const Entity &entity);

Q_SIGNALS:
    void addContactClicked(QPushButton *button);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    std::unique_ptr<Ui::QXContactListCellView> ui;
    std::shared_ptr<Entity> m_contact;
    QString m_iconName;
    bool m_header = false;
};
