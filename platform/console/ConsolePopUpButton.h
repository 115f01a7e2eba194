#pragma once

#include "PlatformServices.h"

#include <atomic>
#include <string>
#include <vector>

// A pop-up menu held in memory. Items change only on the interface thread,
// before a batch; the selection may be read from the batch worker.
class ConsolePopUpButton : public korva::PopUpButton
{
public:
    // The items the window's interface file would give the menu.
    explicit ConsolePopUpButton(std::vector<std::string> items = {});

    void setEnabled(bool) override {}
    void addItemWithTitle(const std::string& title) override;
    void removeAllItems() override;
    void selectItemAtIndex(int nIndex) override;
    int indexOfSelectedItem() const override { return m_nSelected; }

private:
    std::vector<std::string> m_items;
    std::atomic<int> m_nSelected = -1;
};
