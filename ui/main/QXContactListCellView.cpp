#include "ui/main/QXContactListCellView.h"

#include "model/ValueConversion.h"
#include "ui/widgets/ColorHelper.h"
#include "ui/widgets/Images.h"
#include "ui/widgets/ViewHelper.h"
#include "ui_QXContactListCellView.h"

#include <QPainter>

QXContactListCellView::QXContactListCellView(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::QXContactListCellView>())
{
    ui->setupUi(this);
    connect(ui->addContactButton, &QPushButton::clicked, this,
            [this] { Q_EMIT addContactClicked(ui->addContactButton); });
}

QXContactListCellView::~QXContactListCellView() = default;

QLabel *QXContactListCellView::iconView() const
{
    return ui->iconView;
}
QLabel *QXContactListCellView::nameLabel() const
{
    return ui->nameLabel;
}
QPushButton *QXContactListCellView::addContactButton() const
{
    return ui->addContactButton;
}

QString QXContactListCellView::iconNameFor(const Entity &entity)
{
    if (entity.EntityType == u"Room")
        return QStringLiteral("room_list");
    if (entity.EntityType == u"Member") {
        if (entity.MemberStatus == u"Online")
            return QStringLiteral("online_list");
        if (entity.MemberStatus == u"Offline")
            return QStringLiteral("offline_list");
        return QStringLiteral("busy_list");
    }
    if (entity.EntityType == u"OutMember")
        return QStringLiteral("online_list");
    return {};
}

QString QXContactListCellView::accessibleTextFor(const Entity &entity)
{
    QString kind;
    if (entity.EntityType == u"Room")
        kind = tr("会议室");
    else if (entity.EntityType == u"OutMember")
        kind = tr("外部联系人");
    else if (entity.EntityType != u"Member")
        return entity.displayName; // a section title
    else if (entity.MemberStatus == u"Online")
        kind = tr("在线");
    else if (entity.MemberStatus == u"Offline")
        kind = tr("离线");
    else
        kind = tr("忙碌");
    //: A contact row read out: the name, then its presence or kind
    return tr("%1，%2").arg(entity.displayName, kind);
}

void QXContactListCellView::setContact(const std::shared_ptr<Entity> &contact)
{
    m_contact = contact;
    m_header = contact->EntityType == u"tableHeader";
    m_iconName = iconNameFor(*contact);
    ui->iconView->setPixmap(Images::pixmap(m_iconName, ui->iconView->size(), devicePixelRatioF()));
    ui->iconView->setVisible(!m_iconName.isEmpty());
    ui->nameLabel->setStyleSheet(
        m_header ? QStringLiteral("font-size: 12px; color: #6b7485; background: transparent;")
                 : QStringLiteral("font-size: 14px; color: #1f2633; background: transparent;"));
    ui->nameLabel->move(m_header ? QPoint(15, 5) : QPoint(48, 12));
    const bool addable = contact->EntityType == u"Member" && contact->isInMyContacts == u"false";
    ui->addContactButton->setVisible(addable);
    if (addable) {
        ViewHelper::setTag(ui->addContactButton, ValueConversion::integerValue(contact->entityID));
        ui->addContactButton->setIcon(Images::icon(QStringLiteral("add")));
        ui->addContactButton->setEnabled(true);
    }
    ui->nameLabel->setText(contact->displayName);
    update();
}

void QXContactListCellView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ui->addContactButton->move(width() - ui->addContactButton->width() - 14,
                               (height() - ui->addContactButton->height()) / 2);
    ui->nameLabel->resize(ui->addContactButton->x() - ui->nameLabel->x() - 8,
                          ui->nameLabel->height());
}

void QXContactListCellView::paintEvent(QPaintEvent *)
{
    if (!m_header)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), ColorHelper::headerColor());
}
