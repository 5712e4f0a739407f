#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QAbstractButton;
class QMessageBox;
class QWidget;

/// Alert sheets: a window-modal message box on the key window (or the given window) whose
/// buttons report 1000, 1001, ... in their order. An alert ended another way reports 0.
class AlertHelper final
{
public:
    using Completion = std::function<void(int response)>;

    static constexpr int firstButtonResponse = 1000;
    static constexpr int noButtonResponse = 0;

    /// Title "注意", one button "确定".
    static QMessageBox *showAlertWithMessage(const QString &message, Completion complete = {},
                                             QWidget *window = nullptr);
    /// Nothing is shown when the message or the button list is missing.
    static QMessageBox *showAlertWithTitle(const QString &title, const QString &message,
                                           const QStringList &buttons, Completion complete = {},
                                           QWidget *window = nullptr,
                                           const QString &iconName = QString());
    /// The button of `box` that reports `response`, or null; clicking it ends the alert as the
    /// user's click does.
    static QAbstractButton *buttonForResponse(const QMessageBox *box, int response);
    /// Whether the key window is a sheet, so that a second alert never stacks on a first.
    static bool isSheetShown();
};
