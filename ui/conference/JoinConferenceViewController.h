#pragma once

#include "model/Entity.h"
#include "model/Particants.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class JoinConferenceViewController;
}
class QLabel;
class QListWidget;

class VideoView;

/// The conference window's content: the participant list and the video area the engine draws
/// the call into.
class JoinConferenceViewController final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JoinConferenceViewController)

public:
    static constexpr int retrySeconds = 2;

    explicit JoinConferenceViewController(QWidget *parent = nullptr);
    ~JoinConferenceViewController() override;

    /// Refreshes the participants; an empty answer is asked again 2 seconds later.
    void getContactsInConference();
    void networkChange(qint64 status);

    QString displayName() const { return m_displayName; }
    void setDisplayName(const QString &name);
    std::shared_ptr<Entity> roomOwnerEntity() const { return m_roomOwnerEntity; }
    void setRoomOwnerEntity(const std::shared_ptr<Entity> &entity);
    const QList<std::shared_ptr<Particants>> &contactsArray() const { return m_contactsArray; }
    /// "在<owner>的房间里(<n>人)", or "房间里(<n>人)" without an owner name.
    static QString titleFor(const QString &displayName, qsizetype count);

    VideoView *videoView() const;
    QListWidget *tableView() const;
    QLabel *titleLabel() const;
    bool isRetryPending() const { return m_retry.isActive(); }
    /// How long an empty participant list waits before asking again; tests shorten it.
    std::chrono::milliseconds retryInterval() const { return m_retry.intervalAsDuration(); }
    void setRetryInterval(std::chrono::milliseconds interval) { m_retry.setInterval(interval); }
    QMessageBox *networkAlert() const { return m_networkAlert; }

Q_SIGNALS:
    /// The joining path named the room's owner (or none) after the call had started.
    void roomOwnerEntityChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    std::unique_ptr<Ui::JoinConferenceViewController> ui;
    QList<std::shared_ptr<Particants>> m_contactsArray;
    QString m_displayName;
    std::shared_ptr<Entity> m_roomOwnerEntity;
    QTimer m_retry;
    QMetaObject::Connection m_networkObserver;
    QPointer<QMessageBox> m_networkAlert;
};
