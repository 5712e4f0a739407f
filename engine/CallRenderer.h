#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

struct EngineState;

/// Draws the call into the client's video view: a tile per participant with the name and the
/// microphone state (and a mark when the participant's connection is poor, which the view's
/// accessible description also says), the pinned participant large, the preview mode as the layout,
/// and the watched share named and, once its pictures arrive, drawn. Lives on the view's (the
/// application's) thread.
class CallRenderer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CallRenderer)

public:
    CallRenderer(QWidget *view, EngineState &state);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void paint();

    QPointer<QWidget> m_view;
    EngineState &m_state;
};
