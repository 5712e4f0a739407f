#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

namespace Ui {
class JoinProgressWindow;
}
class Spinner;

/// The small window with a spinner shown while a join is under way.
class JoinProgressWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JoinProgressWindow)

public:
    explicit JoinProgressWindow(QWidget *parent = nullptr);
    ~JoinProgressWindow() override;

    Spinner *joinConferenceActivity() const;
    /// Centred over `over`, spinning, in front.
    void showCentredOver(QWidget *over);
    void hideAndStop();

private:
    std::unique_ptr<Ui::JoinProgressWindow> ui;
    QPointer<QWidget> m_over;
};
