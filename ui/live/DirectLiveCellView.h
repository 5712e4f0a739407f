#pragma once

#include "net/HttpTransport.h"

#include <QFutureWatcher>
#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>

class LiveModel;
class QAbstractButton;
class QLabel;

namespace Ui {
class DirectLiveCellView;
}

/// One row of the live-broadcast list: cover picture, name, time and whether it runs already.
class DirectLiveCellView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DirectLiveCellView)

public:
    using SelectBlock = std::function<void(const std::shared_ptr<LiveModel> &)>;

    explicit DirectLiveCellView(QWidget *parent = nullptr);
    ~DirectLiveCellView() override;

    std::shared_ptr<LiveModel> model() const { return m_model; }
    void setModel(const std::shared_ptr<LiveModel> &model);
    void setSlectDirectRoom(SelectBlock block) { m_slectDirectRoom = std::move(block); }
    /// Hands the row's record to the selection callback.
    void playDirect();

    /// " 2026-12-08 15:03-18:13" from "2026-12-08 15:03" and "2026-12-08 18:13".
    static QString timeText(const QString &liveStart, const QString &liveEnd);
    static QColor comingColor();
    static QColor runningColor();

    QLabel *backImage() const;
    QLabel *name() const;
    QLabel *time() const;
    QLabel *state() const;
    QAbstractButton *playButton() const;
    /// The cover picture shown, or a null image while "playimg" or nothing is shown.
    QImage shownImage() const { return m_shownImage; }

Q_SIGNALS:
    /// A downloaded cover picture has been decoded and shown, unless it was the one shown.
    void pictureDecoded();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void awakeFromNib();
    void loadPicture(const QString &url);
    void pictureArrived(const HttpTransport::Reply &reply);
    void forgetPicture();
    void showPicture(const QImage &image);

    std::unique_ptr<Ui::DirectLiveCellView> ui;
    std::shared_ptr<LiveModel> m_model;
    QString m_cover; ///< the path of the picture the row shows or loads; empty: none
    SelectBlock m_slectDirectRoom;
    std::unique_ptr<HttpTransport::Exchange> m_picture;
    QFutureWatcher<QImage> m_decoder;
    QImage m_shownImage;
};
