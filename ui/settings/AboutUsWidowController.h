#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class AboutUsWidowController;
}
class QPushButton;

/// The About window: the version, the company's web site, the user's introduction video and
/// the on-demand version check.
class AboutUsWidowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutUsWidowController)

public:
    /// Where the check button sits beside the video button.
    static constexpr int checkButtonX = 263;

    explicit AboutUsWidowController(QWidget *parent = nullptr);
    ~AboutUsWidowController() override;

    QPushButton *playVideo() const;
    QPushButton *checkUpdate() const;
    QPushButton *webButton() const;
    QString webUrl() const { return m_webUrl; }

    void checkUpdateAction();
    void openWeb();
    void playNow();

private:
    void windowDidLoad();
    void showRelease(const QUrl &url);

    std::unique_ptr<Ui::AboutUsWidowController> ui;
    QString m_webUrl;
};
