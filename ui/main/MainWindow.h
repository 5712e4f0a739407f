#pragma once

#include <QMainWindow>

/// The application's own window: it shows the login view and hosts the alerts of the
/// application delegate. Its icon is the delegate's to set, once the window is on screen.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(QWidget *parent = nullptr);

Q_SIGNALS:
    /// The user closed the window from its title bar.
    void closedByUser();

protected:
    void closeEvent(QCloseEvent *event) override;
};
