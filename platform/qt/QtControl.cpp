#include "QtControl.h"

#include <QAction>
#include <QWidget>

void QtControl::setEnabled(bool bEnabled)
{
    m_widget->setEnabled(bEnabled);
    if (m_menuItem)
        m_menuItem->setEnabled(bEnabled);
}
