#pragma once

#include <QSlider>

/// A horizontal slider whose bar is a thin grey track with the part up to the value filled in
/// the main colour.
class SliderCell final : public QSlider
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SliderCell)

public:
    explicit SliderCell(QWidget *parent = nullptr);

    /// The filled part of the bar for a bar starting at `bar`.
    QRectF filledRect(const QRectF &bar) const;
    QRectF trackRect(const QRectF &bar) const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
