#include "ui/widgets/DeferredIconEngine.h"

DeferredIconEngine::DeferredIconEngine(Maker maker)
    : m_maker(std::move(maker))
{}

const QIcon &DeferredIconEngine::icon()
{
    if (!m_made) {
        m_made = true;
        m_icon = m_maker();
    }
    return m_icon;
}

void DeferredIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
                               QIcon::State state)
{
    icon().paint(painter, rect, Qt::AlignCenter, mode, state);
}

QPixmap DeferredIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    return icon().pixmap(size, mode, state);
}

QPixmap DeferredIconEngine::scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                                         qreal scale)
{
    return icon().pixmap(size, scale, mode, state);
}

QSize DeferredIconEngine::actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    return icon().actualSize(size, mode, state);
}

QList<QSize> DeferredIconEngine::availableSizes(QIcon::Mode mode, QIcon::State state)
{
    return icon().availableSizes(mode, state);
}

QString DeferredIconEngine::key() const
{
    return QStringLiteral("DeferredIconEngine");
}

QIconEngine *DeferredIconEngine::clone() const
{
    return new DeferredIconEngine(*this);
}
