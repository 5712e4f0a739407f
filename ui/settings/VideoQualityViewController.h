#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class VideoQualityViewController;
}
class QAbstractButton;
class QButtonGroup;

/// The video-quality page: levels 0 to 3 in the main group, and behind its "more" button
/// (tag 99) a second group with the higher levels. Buttons carry the tag 100 + level.
class VideoQualityViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VideoQualityViewController)

public:
    static constexpr int moreTag = 99;
    static constexpr int levelTagBase = 100;
    static constexpr int highestMainLevel = 3;

    explicit VideoQualityViewController(QWidget *parent = nullptr);
    ~VideoQualityViewController() override;

    QWidget *specialView() const;
    /// The button with `tag` in either group, or null.
    QAbstractButton *buttonWithTag(int tag) const;

    void selectOne(QAbstractButton *sender);
    void selectSpecial(QAbstractButton *sender);

private:
    void viewDidLoad();

    std::unique_ptr<Ui::VideoQualityViewController> ui;
};
