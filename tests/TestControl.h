#pragma once

#include "PlatformServices.h"

#include <functional>
#include <string>
#include <vector>

// Any outlet of the window: records what the controller did to it.
class TestControl : public korva::Button,
                    public korva::PopUpButton,
                    public korva::MenuItem,
                    public korva::TableView,
                    public korva::TextView
{
public:
    // Every base is a control: this picks one for the outlets that take any.
    korva::Control* control() { return static_cast<korva::Button*>(this); }

    void setEnabled(bool bNow) override
    {
        bEnabled = bNow;
        if (onEnabledChange)
            onEnabledChange();
    }
    void setTitle(const std::string& title) override { text = title; }
    void setToolTip(const std::string& tip) override { toolTip = tip; }
    void setString(const std::string& string) override { text = string; }
    void addItemWithTitle(const std::string& title) override { items.push_back(title); }
    void removeAllItems() override { items.clear(), nSelected = -1; }
    void selectItemAtIndex(int n) override { nSelected = unsigned(n) < items.size() ? n : -1; }
    int indexOfSelectedItem() const override { return nSelected; }
    std::string selectedTitle() const { return nSelected < 0 ? "" : items[nSelected]; }
    korva::MenuAction action() const override { return menuAction; }
    void setDataSource(korva::TableDataSource* dataSource) override { pDataSource = dataSource; }
    void reloadData() override {}
    void reloadRow(int row) override { rowsReloaded.push_back(row); }
    // A table's column, row by row.
    std::vector<std::string> column(const char* identifier) const
    {
        std::vector<std::string> out;
        for (int row = 0; row < pDataSource->numberOfRowsInTableView(*this); ++row)
            out.push_back(pDataSource->objectValueForTableColumn(*this, identifier, row));
        return out;
    }

    bool bEnabled = true;
    std::function<void()> onEnabledChange;
    std::string text;               // a button's title or a text view's string
    std::string toolTip;            // a button's
    std::vector<int> rowsReloaded;  // a table's, one by one
    std::vector<std::string> items; // a pop-up's
    int nSelected = 0;
    korva::TableDataSource* pDataSource = nullptr;
    korva::MenuAction menuAction = korva::MenuAction::Other;
};
