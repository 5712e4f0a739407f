#include "ui/widgets/BardgeButton.h"

#include "model/AppUser.h"
#include "model/Log.h"
#include "model/Preferences.h"
#include "net/NetWork.h"
#include "ui/widgets/Images.h"

#include <QLabel>

BardgeButton::BardgeButton(QWidget *parent)
    : QPushButton(parent)
    , m_imageView(new QLabel(this))
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    m_imageView->setScaledContents(true);
    m_imageView->setAttribute(Qt::WA_TransparentForMouseEvents);
    placeSubviews();
}

QLabel *BardgeButton::label()
{
    if (!m_label) {
        m_label = new QLabel(this);
        m_label->setAlignment(Qt::AlignCenter);
        m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
        QFont font = m_label->font();
        font.setPixelSize(10);
        m_label->setFont(font);
        m_label->setStyleSheet(
            QStringLiteral("background: #e5484d; color: white; border-radius: 7px;"));
        placeSubviews();
        m_label->show();
    }
    return m_label;
}

void BardgeButton::placeSubviews()
{
    const QRect inner = rect().adjusted(5, 5, -5, -5);
    m_imageView->setGeometry(inner);
    m_imageView->setPixmap(
        Images::pixmap(QStringLiteral("liveicon"), inner.size(), devicePixelRatioF()));
    if (m_label)
        m_label->setGeometry(width() - 14, 0, 14, 14);
}

void BardgeButton::resizeEvent(QResizeEvent *event)
{
    QPushButton::resizeEvent(event);
    placeSubviews();
}

void BardgeButton::showEvent(QShowEvent *event)
{
    QPushButton::showEvent(event);
    if (!m_requested)
        requestLiveCount();
}

void BardgeButton::requestLiveCount()
{
    m_requested = true;
    const QString base = Preferences().liveServiceUrl();
    const QString coId = AppUser::defaultUser()->coId;
    if (base.isEmpty() || coId.isEmpty())
        return;
    NetWork *request = NetWork::initWithJsonReturnUrlString(
        base + QStringLiteral("/rest/LiveService/getLiveList/%1").arg(coId), {});
    request->setSuccessBlock(this, [this](const QVariant &reply) {
        if (reply.typeId() == QMetaType::QVariantList)
            label()->setText(QString::number(reply.toList().size()));
        Q_EMIT liveCountAnswered();
    });
    request->setFailBlock(this, [this](const NetworkError &error) {
        qCInfo(lcOrvale).noquote() << QStringLiteral("error %1").arg(error.message);
        Q_EMIT liveCountAnswered();
    });
}
