#pragma once

#include <QTranslator>

/// The client's translation table for the fixed label texts looked up through localString():
/// the detail labels get their colon here, since the views join label and value directly.
class TextTable final : public QTranslator
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TextTable)

public:
    explicit TextTable(QObject *parent = nullptr);

    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override;
};
