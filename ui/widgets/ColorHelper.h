#pragma once

#include <QColor>

/// The application's colours.
class ColorHelper final
{
public:
    /// 51, 76, 136: buttons, filled slider parts, links.
    static QColor mainColor()
    {
        return QColor::fromRgbF(0.2f, 0.2980392156862745f, 0.5333333333333333f);
    }
    /// The thin separator lines of forms.
    static QColor lineColor() { return QColor(0xdd, 0xe1, 0xe8); }
    /// Section rows of lists: 236, 236, 236.
    static QColor headerColor() { return QColor(236, 236, 236); }
};
