#include "QtMenuItem.h"

#include <QAction>

void QtMenuItem::setEnabled(bool bEnabled)
{
    m_action->setEnabled(bEnabled);
}
