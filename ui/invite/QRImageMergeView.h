#pragma once

#include <QLabel>

/// Shows a QR code with the logo "erweima_logo" over its centre in a 40 × 40 box. Error
/// correction M leaves the code readable under it.
class QRImageMergeView final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QRImageMergeView)

public:
    static constexpr int logoSide = 40;

    explicit QRImageMergeView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
