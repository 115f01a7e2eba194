#pragma once

#include "PlatformServices.h"

class QComboBox;

// A combo box as a pop-up menu. Its selection may be read from the batch
// worker: the read is carried over to the combo box's thread, which answers
// while the worker waits.
class QtPopUpButton : public korva::PopUpButton
{
public:
    explicit QtPopUpButton(QComboBox* comboBox) : m_comboBox(comboBox) {}
    void setEnabled(bool bEnabled) override;
    void addItemWithTitle(const std::string& title) override;
    void removeAllItems() override;
    void selectItemAtIndex(int nIndex) override;
    int indexOfSelectedItem() const override;

private:
    QComboBox* m_comboBox;
};
