#pragma once

#include <QLineEdit>

/// Told when the search field takes the keyboard focus.
class QXSearchFieldDelegate
{
public:
    virtual ~QXSearchFieldDelegate() = default;
    virtual void searchFieldFocused() {}
};

/// The contact list's search input.
class QXSearchField final : public QLineEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QXSearchField)

public:
    explicit QXSearchField(QWidget *parent = nullptr);

    void setSearchDelegate(QXSearchFieldDelegate *delegate) { m_delegate = delegate; }

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    QXSearchFieldDelegate *m_delegate = nullptr;
};
