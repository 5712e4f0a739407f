#pragma once

#include <QWidget>

class QMimeData;

/// The card behind an invitation code, with the inviter's name and the validity: what is
/// saved as a picture and what the user drags out of the window as a PNG file.
class QRBackView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QRBackView)

public:
    explicit QRBackView(QWidget *parent = nullptr);

    /// Writes the card as a PNG into the cache folder (created when missing) and returns the
    /// file's path; a null text when it could not be written.
    QString getImagePath();
    /// The card as PNG bytes.
    QByteArray pngData();
    /// What a drag of the card carries: the written file, and the picture itself for targets
    /// that take pictures rather than files. Null when the file could not be written.
    QMimeData *dragData();
    static QString cacheFolder();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QPoint m_pressPosition;
};
