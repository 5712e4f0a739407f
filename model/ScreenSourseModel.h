#pragma once

#include "model/ConfRect.h"
#include "model/RootModel.h"

/// One local share source: a whole screen or an application window.
class ScreenSourseModel final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScreenSourseModel)
    Q_PROPERTY(QString appWindowName MEMBER appWindowName)
    Q_PROPERTY(QString appName MEMBER appName)
    Q_PROPERTY(qint64 appWindowId MEMBER appWindowId)
    Q_PROPERTY(ConfRect ConfRect MEMBER confRect)

public:
    explicit ScreenSourseModel(QObject *parent = nullptr);

    QString appWindowName;
    QString appName;
    qint64 appWindowId = 0;
    ::ConfRect confRect;

protected:
    QString describeField(const QString &key) const override;
};
