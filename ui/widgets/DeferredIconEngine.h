#pragma once

#include <QIcon>
#include <QIconEngine>

#include <functional>

/// An icon made only when it is first drawn or measured: for icons a window asks for at
/// start but rarely shows, whose making costs more than the window's first paint should.
class DeferredIconEngine final : public QIconEngine
{
public:
    using Maker = std::function<QIcon()>;

    explicit DeferredIconEngine(Maker maker);

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QString key() const override;
    QIconEngine *clone() const override;

private:
    const QIcon &icon();

    Maker m_maker;
    QIcon m_icon;
    bool m_made = false;
};
