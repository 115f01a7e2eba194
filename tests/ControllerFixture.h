#pragma once

#include "AppController.h"
#include "TempDir.h"
#include "TestControl.h"
#include "TestPlatform.h"
#include "Trace.h"
#include "WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Kind = korva::FileOutcome::Kind;

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
        c.ChangeSelFolderState = folder.control();
        c.OpenDestinationState = openDestination.control();
        c.ExportReportState = exportReport.control();
        c.RetryState = retry.control();
        c.ChangeSRState = sampleRate.control();
        c.ChangeResState = resolution.control();
        c.ChangeQuitMenuItemState = &quitItem;
        quitItem.menuAction = korva::MenuAction::Terminate;
        c.PathTextCtrl = &pathText;
        c.tableview1 = &table;
        c.sampleRate = &sampleRate;
        c.resolution = &resolution;
        c.channels = &channels;
        c.QuitButton = &quitButton;
        c.PlayButton = &playButton;
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
    TestControl go, browse, files, folder, openDestination, exportReport, retry, reserved, pathText,
        table, quitButton, quitItem, playButton;
    TestControl sampleRate, resolution, channels;
    TempDir dir, sourceDir, destinationDir;
    fs::path source = sourceDir.path(), destination = destinationDir.path();
    std::optional<AppController> controller;
};

inline constexpr auto rowName = [](const auto& info) { return std::string(info.param.name); };
