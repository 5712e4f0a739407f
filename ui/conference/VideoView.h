#pragma once

#include <QWidget>

/// The area the conferencing engine draws the call into. It has no behaviour of its own.
class VideoView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VideoView)

public:
    explicit VideoView(QWidget *parent = nullptr);
};
