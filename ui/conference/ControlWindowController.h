#pragma once

#include "model/MessageModel.h"
#include "model/ScreenSourseModel.h"
#include "model/ShareListInRoomModel.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class ControlWindowController;
}
class JoinConferenceWindowController;
class Popover;
class QPushButton;
class SourceListViewController;

/// The control bar floating over the conference's video area: microphone, speaker and camera,
/// sharing, watching shares, layout and pinning, the invitation (room owner only) and leaving.
/// It also obeys the forced microphone state and the remote speaker commands.
class ControlWindowController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ControlWindowController)

public:
    /// Makes the invitation window; the invitation button is offered only when one is set.
    using WindowFactory = std::function<QWidget *()>;
    static void setShareQRCodeWindowFactory(WindowFactory factory);

    static constexpr int rowHeight = 40;
    static constexpr int remoteListWidth = 210;

    explicit ControlWindowController(JoinConferenceWindowController *joinWindow);
    ~ControlWindowController() override;

    // Actions
    void microphone();
    void speaker();
    void camera();
    /// From the leave button (`fromButton`) or from the conference window closing.
    void leaveConference(bool fromButton);
    void shareQRCode();
    void share();
    void shareListInRoom();
    void setDisplayModel();
    void showSomeOneBig();
    void goBack(const QString &uri);
    void command();
    void volumeChange(double value);

    // Notification handlers
    void changeMicFormNet(bool isMuted);
    void changeSpeakerFormNet(const MessageModel &message);

    /// The share-source pop-up's size for these sources.
    static QSize shareSourcePopoverSize(const QList<std::shared_ptr<ScreenSourseModel>> &sources);
    /// Height of a pop-up of `rows` rows: 40 each, 320 (scrolling) from 9 rows on.
    static int popoverHeight(qsizetype rows);

    QPushButton *micButton() const;
    QPushButton *speakerButton() const;
    QPushButton *cameraButton() const;
    QPushButton *shareQRCodeButton() const;
    QPushButton *shareButton() const;
    QPushButton *shareListButton() const;
    QPushButton *leaveButton() const;
    QPushButton *pinButton() const;
    Popover *sharePopover() const { return m_sharePopover; }
    QWidget *qrWindow() const { return m_qrWindow; }
    /// The image each toggle shows now.
    QString imageOf(const QPushButton *button) const;
    /// Hands the keyboard to the bar's first button; F6 or Escape hands it back.
    void focusControls();

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void windowDidLoad();
    /// Only the room's owner invites.
    void updateInvitationButton();
    void setImage(QPushButton *button, const QString &name);
    /// Opens the pop-up over `anchor` with a fresh list, which closes it once a row acted.
    void showList(SourceListViewController *list, const QSize &size, QPushButton *anchor);
    Popover *popover();

    std::unique_ptr<Ui::ControlWindowController> ui;
    QPointer<JoinConferenceWindowController> m_joinWindow;
    Popover *m_sharePopover = nullptr;
    QPointer<QWidget> m_qrWindow;
    QString m_pinnedUri;
    bool m_left = false;
};
