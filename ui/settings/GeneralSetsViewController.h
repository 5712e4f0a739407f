#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class GeneralSetsViewController;
}
class QCheckBox;

/// The general page: five switches, each stored the moment it is clicked. The engine reads
/// the audio and proxy switches with the next configuration; the main window reads the others.
class GeneralSetsViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GeneralSetsViewController)

public:
    explicit GeneralSetsViewController(QWidget *parent = nullptr);
    ~GeneralSetsViewController() override;

    QCheckBox *autoSpeaker() const;
    QCheckBox *autoMic() const;
    QCheckBox *searchOutsideRoom() const;
    QCheckBox *autoAnswer() const;
    QCheckBox *useProxy() const;

private:
    void viewDidLoad();

    std::unique_ptr<Ui::GeneralSetsViewController> ui;
};
