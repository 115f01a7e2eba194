#include "QtPopUpButton.h"

#include "InterfaceThread.h"

#include <QComboBox>

void QtPopUpButton::setEnabled(bool bEnabled)
{
    m_comboBox->setEnabled(bEnabled);
}

void QtPopUpButton::addItemWithTitle(const std::string& title)
{
    m_comboBox->addItem(QString::fromStdString(title));
}

void QtPopUpButton::removeAllItems()
{
    m_comboBox->clear();
}

void QtPopUpButton::selectItemAtIndex(int nIndex)
{
    // An index past the end leaves no item selected, and the repair then keeps
    // its previous value.
    m_comboBox->setCurrentIndex(nIndex < m_comboBox->count() ? nIndex : -1);
}

int QtPopUpButton::indexOfSelectedItem() const
{
    return interface_thread::callAndWait(m_comboBox, [this] { return m_comboBox->currentIndex(); });
}
