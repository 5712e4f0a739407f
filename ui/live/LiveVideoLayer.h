#pragma once

#include <QImage>
#include <QWidget>

/// The video layer of the live player: draws the newest decoded frame aspect-fit on opaque
/// black. Frames are painted by the widget itself, so the player's overlays stay on top of the
/// picture and a grab of the window shows the video.
class LiveVideoLayer final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveVideoLayer)

public:
    explicit LiveVideoLayer(QWidget *parent = nullptr);

    /// Shows `image`, the stream's newest decoded frame.
    void showPicture(const QImage &image);
    /// Frames received since creation.
    qint64 frameCount() const { return m_frames; }
    QImage currentImage() const { return m_image; }
    /// Where the picture is drawn inside the layer.
    QRect pictureRect() const;

Q_SIGNALS:
    void frameShown();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    qint64 m_frames = 0;
};
