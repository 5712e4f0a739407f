#include "ui/conference/SourceListViewController.h"

SourceListViewController::SourceListViewController(QWidget *parent)
    : QWidget(parent)
{}

void SourceListViewController::didSelectSourse()
{
    if (m_didSelectSourse)
        m_didSelectSourse();
}
