#pragma once

#include "PlatformServices.h"

class QAbstractButton;

// A push button whose title the controller changes; the title's letter at
// nMnemonic (its first unless told) is its mnemonic (Alt and that letter
// press it).
class QtButton : public korva::Button
{
public:
    explicit QtButton(QAbstractButton* button, int nMnemonic = 0)
        : m_button(button), m_nMnemonic(nMnemonic)
    {
    }
    void setEnabled(bool bEnabled) override;
    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& text) override;

private:
    QAbstractButton* m_button;
    int m_nMnemonic;
};
