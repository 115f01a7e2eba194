#pragma once

#include "AppController.h"
#include "TempDir.h"
#include "Trace.h"
#include "WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <thread>
#include <utility>

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Kind = korva::FileOutcome::Kind;

// Any outlet of the window: records what the controller did to it.
class TestControl : public korva::Button,
                    public korva::PopUpButton,
                    public korva::MenuItem,
                    public korva::TableView,
                    public korva::TextView
{
public:
    explicit TestControl(Strings itemTitles = {}) : items(std::move(itemTitles)) {}
    // Every base is a control: this picks one for the outlets that take any.
    korva::Control* control() { return static_cast<korva::Button*>(this); }

    void setEnabled(bool bNow) override
    {
        bEnabled = bNow;
        if (onEnabledChange)
            onEnabledChange();
    }
    void setTitle(const std::string& title) override { text = title; }
    void setString(const std::string& string) override { text = string; }
    void addItemWithTitle(const std::string& title) override { items.push_back(title); }
    void removeAllItems() override { items.clear(), nSelected = -1; }
    void selectItemAtIndex(int n) override { nSelected = unsigned(n) < items.size() ? n : -1; }
    int indexOfSelectedItem() const override { return nSelected; }
    std::string selectedTitle() const { return nSelected < 0 ? "" : items[nSelected]; }
    korva::MenuAction action() const override { return menuAction; }
    void setDataSource(korva::TableDataSource* dataSource) override { pDataSource = dataSource; }
    void reloadData() override {}
    std::vector<std::pair<std::string, std::string>> rows() const
    {
        std::vector<std::pair<std::string, std::string>> out;
        for (int row = 0; row < pDataSource->numberOfRowsInTableView(*this); ++row)
            out.emplace_back(pDataSource->objectValueForTableColumn(*this, "FileName", row),
                             pDataSource->objectValueForTableColumn(*this, "FilePath", row));
        return out;
    }

    bool bEnabled = true;
    std::function<void()> onEnabledChange;
    std::string text; // a button's title or a text view's string
    Strings items;    // a pop-up's; the first is selected at first
    int nSelected = 0;
    korva::TableDataSource* pDataSource = nullptr;
    korva::MenuAction menuAction = korva::MenuAction::Other;
};

// The platform as a test drives it: scripted answers, the rest recorded after
// joinWorkers; the interface thread's work waits for the test to pump it.
class TestPlatform : public korva::PlatformServices
{
public:
    void joinWorkers() { workers.clear(); }
    void pumpInterfaceQueue()
    {
        for (const auto& work : std::exchange(interfaceQueue, {}))
            work();
    }

    std::optional<Strings> runOpenPanel(const korva::OpenPanelOptions&) override
    {
        return panelAnswers.at(nPanels++);
    }
    korva::AlertButton runAlertPanel(const std::string&, const std::string& message,
                                     const std::string&, const std::string&) override
    {
        alerts.push_back(message);
        return alertAnswer;
    }
    void beep() override { ++nBeeps; }
    void log(const std::string& line) override { logLines.push_back(line); }
    bool hasDefault(const std::string& key) const override { return defaults.count(key) != 0; }
    int integerForKey(const std::string& key) const override
    {
        return hasDefault(key) ? defaults.at(key) : 0;
    }
    void setIntegerForKey(const std::string& key, int nValue) override { defaults[key] = nValue; }
    void detachThread(std::function<void()> work) override { workers.emplace_back(work); }
    void runOnInterfaceThread(std::function<void()> work) override
    {
        interfaceQueue.push_back(work);
    }
    void terminate() override {}
    void reportProgress(double value) override
    {
        progress.push_back(value);
        if (onProgress)
            onProgress(value);
    }
    void reportStatus(const std::string& text) override { statuses.push_back(text); }
    void reportFileOutcome(const korva::FileOutcome& outcome) override
    {
        outcomes.push_back(outcome);
        kinds.push_back(outcome.kind);
    }

    // The panels' paths in order (nullopt cancels), every alert's answer.
    std::vector<std::optional<Strings>> panelAnswers;
    korva::AlertButton alertAnswer = korva::AlertButton::Alternate;
    std::function<void(double)> onProgress; // on the worker, before each file's job
    std::map<std::string, int> defaults;
    // What happened; an alert as its message.
    std::size_t nPanels = 0;
    Strings alerts, logLines, statuses;
    std::vector<double> progress;
    std::vector<korva::FileOutcome> outcomes;
    std::vector<Kind> kinds;
    int nBeeps = 0;
    std::vector<std::function<void()>> interfaceQueue;
    std::vector<std::jthread> workers; // last, so that they end first
};

// A controller on the test platform, the window's outlets, a source and a
// destination folder; Row: a table-driven test's row type. Public, for the rows.
template <typename Row = int> class ControllerFixture : public ::testing::TestWithParam<Row>
{
public:
    // bext, the 24 zero bytes a lost fmt chunk left (or the repair's chunk), data.
    static fixture::Bytes damagedFile(std::size_t seed = 1, fixture::Bytes gap = fixture::Bytes(24))
    {
        const auto n = static_cast<uint32_t>(seed);
        return fixture::riff({fixture::chunk("bext", fixture::bextBody(n * 1000)), gap,
                              fixture::chunk("data", fixture::samples(96, n))});
    }
    static fixture::Bytes repairedFile(uint32_t rate, uint16_t bits, std::size_t seed = 1)
    {
        return damagedFile(seed, fixture::fmtChunkMono(rate, bits));
    }

    void SetUp() override { CTrace::SetStream(nullptr); }
    void TearDown() override { CTrace::SetStream(&std::cout); }

    void start()
    {
        AppController& c = controller.emplace(platform);
        c.ChangeCancelState = c.ChangeQuitState = c.SelectFilesButton = reserved.control();
        c.ChangeGoState = go.control();
        c.ChangeBrowseState = browse.control();
        c.ChangeSelButtonState = files.control();
        c.ChangeSRState = sampleRate.control();
        c.ChangeResState = resolution.control();
        c.ChangeQuitMenuItemState = &quitItem;
        quitItem.menuAction = korva::MenuAction::Terminate;
        c.PathTextCtrl = &pathText;
        c.tableview1 = &table;
        c.sampleRate = &sampleRate;
        c.resolution = &resolution;
        c.QuitButton = &quitButton;
        c.awakeFromNib();
    }
    // Starts, lists names from source (row i's file with seed i + 1), chooses destination.
    void prepare(const Strings& names)
    {
        start();
        Strings paths;
        for (std::size_t i = 0; i < names.size(); ++i)
            fixture::writeFile(paths.emplace_back(source / names[i]), damagedFile(i + 1));
        chooseFiles(paths);
        chooseDestination(destination);
        EXPECT_TRUE(go.bEnabled);
    }
    void chooseFiles(const Strings& paths) { choose(paths, &AppController::GetFilesForFixin); }
    void chooseDestination(const fs::path& to) { choose(Strings{to}, &AppController::SetPath); }
    void choose(std::optional<Strings> paths, void (AppController::*chooser)())
    {
        platform.panelAnswers.push_back(paths);
        ((*controller).*chooser)();
    }
    void runBatch()
    {
        controller->DoPatch();
        platform.joinWorkers();
        platform.pumpInterfaceQueue();
    }

    static Strings listing(const fs::path& where)
    {
        Strings names;
        for (const auto& entry : fs::directory_iterator(where))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    TestPlatform platform;
    TestControl go, browse, files, reserved, pathText, table, quitButton, quitItem;
    TestControl sampleRate{{"44.1 kHz", "48 kHz", "88.2 kHz"}}, resolution{{"8 bit"}};
    TempDir dir, sourceDir, destinationDir;
    fs::path source = sourceDir.path(), destination = destinationDir.path();
    std::optional<AppController> controller;
};

inline constexpr auto rowName = [](const auto& info) { return std::string(info.param.name); };
