#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QLabel>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

class QAction;
class QMenu;

/// The drop and paste target that reads invitation QR codes. Pictures are read off the main
/// thread; outcomes are applied in order, and a newer picture replaces an older outcome.
class QRImageView final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QRImageView)

public:
    static QString noCodeText() { return tr("没有发现二维码 "); }
    static QString foreignCodeText() { return tr("抱歉,只能识别本系统二维码!"); }
    static QString acceptedText() { return tr("请输入姓名后，进入会议"); }
    static QString placeholder() { return tr("将二维码图片拖到这里\n或按 Ctrl+V 粘贴"); }

    using ResultBlock = std::function<void(const QString &message)>;
    using SuccessBlock = std::function<void(const QVariantMap &invitation)>;

    explicit QRImageView(QWidget *parent = nullptr);
    ~QRImageView() override;

    void setImageResult(ResultBlock block) { m_imageResult = std::move(block); }
    void setSuccess(SuccessBlock block) { m_success = std::move(block); }

    /// Whether pictures are accepted (dropped, pasted); off while a join runs.
    void setEditable(bool editable);
    bool isEditable() const { return m_editable; }

    /// Shows `image` and reads the code in it.
    void setImage(const QImage &image);
    /// Loads the picture at `path` and reads the code in it.
    void setImageFile(const QString &path);
    /// Takes what the clipboard holds: a picture, an invitation link as text, or else the
    /// files named on it through the retry.
    void pasteNow();
    /// Reads a code's text: only links of this system go on to `analyzingResultStr`.
    void takeCodeText(const QString &text);
    void analyzingResultStr(const QString &text);

    /// Set while the files named on the clipboard are being tried.
    bool flag() const { return m_flag; }
    /// Pictures read so far (decoding runs finished), for tests.
    int readCount() const { return m_readCount; }
    bool isReading() const { return m_watcher != nullptr; }
    QMenu *contextMenu() const { return m_menu; }
    QAction *pasteAction() const { return m_pasteAction; }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Outcome
    {
        QImage image; ///< what was read, scaled down
        QString text; ///< the first code's text, null when none
    };

    void cancelReading();
    void read(const QImage &image, const QString &path, bool retrying);
    void apply(const Outcome &outcome);
    void startRetry();
    void retryNext();
    void report(const QString &message);
    void showPicture();

    ResultBlock m_imageResult;
    SuccessBlock m_success;
    QMenu *m_menu = nullptr;
    QAction *m_pasteAction = nullptr;
    std::unique_ptr<QFutureWatcher<Outcome>> m_watcher;
    QImage m_shown;
    QStringList m_retryFiles;
    bool m_flag = false;
    bool m_editable = true;
    int m_readCount = 0;
};
