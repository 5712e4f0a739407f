#pragma once

class QMimeData;
class QWidget;

/// Drags and drops the way a file manager does, by events sent straight to the target.
class DragAndDrop final
{
public:
    /// Drags `mime` into `target` and drops it there; whether it was taken.
    static bool dropOn(QWidget *target, QMimeData *mime);
};
