#pragma once

#include <QWidget>

#include <functional>

/// What the two share lists of the control bar have in common: the size the bar chose for the
/// pop-up and the callback to run once a row was acted on.
class SourceListViewController : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SourceListViewController)

public:
    double maxWidth() const { return m_maxWidth; }
    void setMaxWidth(double width) { m_maxWidth = width; }
    double maxHight() const { return m_maxHight; }
    void setMaxHight(double height) { m_maxHight = height; }
    void setDidSelectSourse(std::function<void()> callback)
    {
        m_didSelectSourse = std::move(callback);
    }

protected:
    explicit SourceListViewController(QWidget *parent = nullptr);
    void didSelectSourse();

private:
    double m_maxWidth = 0;
    double m_maxHight = 0;
    std::function<void()> m_didSelectSourse;
};
