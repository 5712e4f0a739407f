#pragma once

#include <QObject>

/// Prints "first-paint <resident KiB>" when the watched window has painted for the first
/// time, then ends the process: what the start-up benchmark waits for.
class FirstPaintProbe final : public QObject
{
    Q_OBJECT

public:
    explicit FirstPaintProbe(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_done = false;
};
