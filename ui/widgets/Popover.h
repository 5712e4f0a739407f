#pragma once

#include <QFrame>
#include <QPointer>

/// A pop-over: a panel anchored at a widget that closes when the user clicks outside it.
class Popover final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Popover)

public:
    enum class Edge { Right, Below, Above };

    explicit Popover(QWidget *parent = nullptr);

    /// Puts `content` into the pop-over; the previous content is deleted when `ownsPrevious`.
    void setContent(QWidget *content, bool deletePrevious = false);
    QWidget *content() const { return m_content; }
    void setContentSize(const QSize &size);
    /// Opens beside `rect` of `anchor` (in the anchor's coordinates), kept on its screen.
    void showRelativeTo(QWidget *anchor, const QRect &rect, Edge edge);
    bool isShown() const { return isVisible(); }

Q_SIGNALS:
    void closed();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QPointer<QWidget> m_content;
};
