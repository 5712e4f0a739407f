#pragma once

#include <QMetaType>

/// A share source's rectangle as the conferencing engine reports it.
struct ConfRect
{
    Q_GADGET
    Q_PROPERTY(qint32 xPos MEMBER xPos)
    Q_PROPERTY(qint32 yPos MEMBER yPos)
    Q_PROPERTY(quint32 width MEMBER width)
    Q_PROPERTY(quint32 height MEMBER height)

public:
    qint32 xPos = 0;
    qint32 yPos = 0;
    quint32 width = 0;
    quint32 height = 0;

    friend bool operator==(const ConfRect &, const ConfRect &) = default;
};
