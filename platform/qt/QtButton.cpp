#include "QtButton.h"

#include <QAbstractButton>

void QtButton::setEnabled(bool bEnabled)
{
    m_button->setEnabled(bEnabled);
}

void QtButton::setTitle(const std::string& title)
{
    m_button->setText(QString::fromStdString(title).insert(m_nMnemonic, '&'));
}

void QtButton::setToolTip(const std::string& text)
{
    m_button->setToolTip(QString::fromStdString(text));
}
