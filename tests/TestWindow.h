#pragma once

#include "AppController.h"
#include "PlatformServices.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The window's controls as the tests see them: each records what the
// controller did to it. Interface thread only, except the pop-ups' reads.
namespace test
{
// Any control: its enabled state, and an optional hook run after each change.
template <typename Base> class Recording : public Base
{
public:
    void setEnabled(bool bEnabled) override
    {
        m_bEnabled = bEnabled;
        if (onEnabledChange)
            onEnabledChange();
    }
    bool enabled() const { return m_bEnabled; }

    std::function<void()> onEnabledChange;

private:
    bool m_bEnabled = true;
};

using TestControl = Recording<korva::Control>;

class TestButton : public Recording<korva::Button>
{
public:
    void setTitle(const std::string& title) override { m_title = title; }
    const std::string& title() const { return m_title; }

private:
    std::string m_title = "Quit";
};

class TestPopUp : public Recording<korva::PopUpButton>
{
public:
    explicit TestPopUp(std::vector<std::string> items) : m_items(std::move(items)) {}
    void addItemWithTitle(const std::string& title) override { m_items.push_back(title); }
    void removeAllItems() override
    {
        m_items.clear();
        m_nSelected = -1;
    }
    void selectItemAtIndex(int nIndex) override
    {
        const bool bValid = nIndex >= 0 && static_cast<std::size_t>(nIndex) < m_items.size();
        m_nSelected = bValid ? nIndex : -1;
    }
    int indexOfSelectedItem() const override { return m_nSelected; }

    const std::vector<std::string>& items() const { return m_items; }
    std::string selectedTitle() const
    {
        return m_nSelected < 0 ? "" : m_items[static_cast<std::size_t>(m_nSelected)];
    }

private:
    std::vector<std::string> m_items;
    int m_nSelected = 0;
};

class TestMenuItem : public Recording<korva::MenuItem>
{
public:
    explicit TestMenuItem(korva::MenuAction action) : m_action(action) {}
    korva::MenuAction action() const override { return m_action; }

private:
    korva::MenuAction m_action;
};

class TestTable : public korva::TableView
{
public:
    void setDataSource(korva::TableDataSource* dataSource) override { m_pDataSource = dataSource; }
    void reloadData() override { ++m_nReloads; }

    // Every row as (FileName, FilePath), read from the data source now.
    std::vector<std::pair<std::string, std::string>> rows() const
    {
        std::vector<std::pair<std::string, std::string>> out;
        const int n = m_pDataSource ? m_pDataSource->numberOfRowsInTableView(*this) : 0;
        for (int row = 0; row < n; ++row)
            out.emplace_back(m_pDataSource->objectValueForTableColumn(*this, "FileName", row),
                             m_pDataSource->objectValueForTableColumn(*this, "FilePath", row));
        return out;
    }
    korva::TableDataSource* dataSource() const { return m_pDataSource; }
    int reloads() const { return m_nReloads; }

private:
    korva::TableDataSource* m_pDataSource = nullptr;
    int m_nReloads = 0;
};

class TestTextView : public korva::TextView
{
public:
    void setString(const std::string& text) override { m_text = text; }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

// The window: what the interface file would create, with the start control
// disabled at first and the sample-rate pop-up holding its three items.
struct TestWindow
{
    TestControl start, browse, selectFiles, sampleRateControl, resolutionControl;
    TestControl reservedCancel, reservedQuit, reservedSelect;
    TestMenuItem quitItem{korva::MenuAction::Terminate};
    TestTextView pathText;
    TestTable table;
    TestPopUp sampleRate{{"44.1 kHz", "48 kHz", "88.2 kHz"}};
    TestPopUp resolution{{"8 bit"}};
    TestButton quitButton;

    TestWindow() { start.setEnabled(false); }

    void connect(AppController& controller)
    {
        controller.ChangeCancelState = &reservedCancel;
        controller.ChangeGoState = &start;
        controller.ChangeQuitState = &reservedQuit;
        controller.ChangeBrowseState = &browse;
        controller.ChangeSelButtonState = &selectFiles;
        controller.ChangeSRState = &sampleRateControl;
        controller.ChangeResState = &resolutionControl;
        controller.ChangeQuitMenuItemState = &quitItem;
        controller.SelectFilesButton = &reservedSelect;
        controller.PathTextCtrl = &pathText;
        controller.tableview1 = &table;
        controller.sampleRate = &sampleRate;
        controller.resolution = &resolution;
        controller.QuitButton = &quitButton;
    }

    // The enabled state of the six controls a batch switches, in its order.
    std::vector<bool> batchControls() const
    {
        return {start.enabled(),
                browse.enabled(),
                quitItem.enabled(),
                selectFiles.enabled(),
                sampleRateControl.enabled(),
                resolutionControl.enabled()};
    }
};
} // namespace test
