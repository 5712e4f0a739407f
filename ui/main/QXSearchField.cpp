#include "ui/main/QXSearchField.h"

QXSearchField::QXSearchField(QWidget *parent)
    : QLineEdit(parent)
{}

void QXSearchField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (m_delegate)
        m_delegate->searchFieldFocused();
}
