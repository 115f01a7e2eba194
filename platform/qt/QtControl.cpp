#include "QtControl.h"

#include <QVariant>

void QtControl::setEnabled(bool bEnabled)
{
    // Widgets and actions alike have the property.
    for (QObject* part : m_parts)
        part->setProperty("enabled", bEnabled);
}
