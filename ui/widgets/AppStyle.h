#pragma once

#include <QProxyStyle>

/// The platform's style, with the standard icons of the tool bars' and the menu bar's
/// extension buttons made when first shown: each window with a menu bar asks for one at once,
/// and making it reads images through every image format plugin.
class AppStyle final : public QProxyStyle
{
    Q_OBJECT

public:
    explicit AppStyle(QStyle *base);

    /// Puts the application's style under an AppStyle, once.
    static void install();

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
