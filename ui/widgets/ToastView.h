#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class ToastView;
}
class QLabel;

/// A short message with an icon in the middle of the key window. One at a time per window:
/// a toast that arrives while another is shown there is dropped.
class ToastView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToastView)

public:
    static constexpr int toastTag = 873;
    static constexpr double defaultSeconds = 1.5;

    explicit ToastView(QWidget *parent = nullptr);
    ~ToastView() override;

    /// A fresh toast from its layout.
    static ToastView *toast();
    static ToastView *showToastWithString(const QString &text);
    static ToastView *showToastWithString(const QString &text, const QString &imageName);
    /// Shows the toast over the key window; null when nothing was shown.
    static ToastView *showToastWithString(const QString &text, const QString &imageName,
                                          double seconds);
    /// The same on a given window instead of the key window.
    static ToastView *showToastInWindow(QWidget *window, const QString &text,
                                        const QString &imageName, double seconds);

    /// The toast shown now in `window`, or null.
    static ToastView *shownIn(const QWidget *window);

    QLabel *imageView() const;
    QLabel *label() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::unique_ptr<Ui::ToastView> ui;
};
