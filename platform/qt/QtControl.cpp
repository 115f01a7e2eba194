#include "QtControl.h"

#include <QWidget>

void QtControl::setEnabled(bool bEnabled)
{
    m_widget->setEnabled(bEnabled);
}
