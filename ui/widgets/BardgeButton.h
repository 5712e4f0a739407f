#pragma once

#include <QPushButton>

class QLabel;

/// The live-broadcast button: the live icon with a red badge counting the company's broadcasts.
class BardgeButton final : public QPushButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BardgeButton)

public:
    explicit BardgeButton(QWidget *parent = nullptr);

    QLabel *imageView() const { return m_imageView; }
    /// The badge, created on first use.
    QLabel *label();
    /// Asks the live service for the broadcast list and shows its length on the badge.
    void requestLiveCount();

Q_SIGNALS:
    /// The live service answered the count request, with a list or not, or failed.
    void liveCountAnswered();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeSubviews();

    QLabel *m_imageView;
    QLabel *m_label = nullptr;
    bool m_requested = false;
};
