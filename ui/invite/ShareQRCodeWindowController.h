#pragma once

#include <QDateTime>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class ShareQRCodeWindowController;
}
class QLabel;
class QPushButton;
class QRBackView;
class QRImageMergeView;

/// The invitation window: the QR code of the user's room link with the user's name and how
/// long the code is valid; the link can be copied and the code card saved or dragged out.
class ShareQRCodeWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareQRCodeWindowController)

public:
    static constexpr int qrSide = 300;
    static constexpr int noticeSeconds = 5;

    explicit ShareQRCodeWindowController(QWidget *parent = nullptr);
    ~ShareQRCodeWindowController() override;

    /// The link encoded in the code, fixed when the window opened.
    QString codeStr() const { return m_codeStr; }
    QImage createQRCodeImage() const;
    /// "该二维码2天内(12月10日 15:04前)有效" for a period of 48 hours.
    static QString validitySentence(qint64 periodHours, const QDateTime &now);
    /// "12月10日 15:04前": the expiry `periodHours` after `now`, in local time.
    static QString getInvalidTime(qint64 periodHours, const QDateTime &now);

    void copyLink();
    /// Asks where, then writes the card there.
    void savePhoto();
    /// Writes the card as a PNG to `path` atomically; false when it could not be written.
    bool savePhotoTo(const QString &path);

    QRBackView *qrBackView() const;
    QRImageMergeView *qrCodeImage() const;
    QLabel *userName() const;
    QLabel *textLabel() const;
    QLabel *link() const;
    QPushButton *linkButton() const;
    QPushButton *saveButton() const;
    QTimer *noticeTimer() { return &m_noticeTimer; }

private:
    void windowDidLoad();
    void setValidTime();

    std::unique_ptr<Ui::ShareQRCodeWindowController> ui;
    QString m_codeStr;
    QTimer m_noticeTimer;
};
