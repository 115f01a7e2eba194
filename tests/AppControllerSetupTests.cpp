#include "ControllerFixture.h"

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace
{
struct SettingsCase
{
    const char* name;
    std::optional<int> storedRate, storedResolution;
    uint32_t rate;
    uint16_t bits;
    int32_t rateIndex, resolutionIndex;
    const char* rateTitle; // "" = no item selected
    const char* resolutionTitle;
};

const SettingsCase kSettingsCases[] = {
    {"FirstRun", std::nullopt, std::nullopt, 44100, 24, 0, 1, "44.1 kHz", "24 bit"},
    {"Stored96k16", 3, 0, 96000, 16, 3, 0, "96 kHz", "16 bit"},
    {"Stored128k24", 4, 1, 128000, 24, 4, 1, "128 kHz", "24 bit"},
    {"Stored88k", 2, 1, 88200, 24, 2, 1, "88.2 kHz", "24 bit"},
    {"NegativeRate", -1, 1, 44100, 24, -1, 1, "", "24 bit"},
    {"RatesPastTheTables", 5, 2, 44100, 24, 5, 2, "", ""},
    {"ResolutionAbsentReadsZero", 1, std::nullopt, 48000, 16, 1, 0, "48 kHz", "16 bit"},
};

class AppControllerSettings : public ControllerFixture,
                              public ::testing::WithParamInterface<SettingsCase>
{
};
} // namespace

TEST_P(AppControllerSettings, StartsFromTheStoredIndexes)
{
    const SettingsCase& c = GetParam();
    if (c.storedRate)
        platform.defaults["SampleRate"] = *c.storedRate;
    if (c.storedResolution)
        platform.defaults["Resolution"] = *c.storedResolution;
    const auto before = platform.defaults;
    start();

    EXPECT_EQ(controller->sampleRateHz(), c.rate);
    EXPECT_EQ(controller->bitsPerSample(), c.bits);
    EXPECT_EQ(controller->sampleRateIndex(), c.rateIndex);
    EXPECT_EQ(controller->resolutionIndex(), c.resolutionIndex);
    EXPECT_EQ(window.sampleRate.selectedTitle(), c.rateTitle);
    EXPECT_EQ(window.resolution.selectedTitle(), c.resolutionTitle);
    if (c.storedRate)
        EXPECT_EQ(platform.defaults, before) << "stored settings are only read at start";
    else
        EXPECT_EQ(platform.defaults,
                  (std::map<std::string, int>{{"SampleRate", 0}, {"Resolution", 1}}));
}

INSTANTIATE_TEST_SUITE_P(, AppControllerSettings, ::testing::ValuesIn(kSettingsCases),
                         [](const auto& info) { return std::string(info.param.name); });

using AppControllerStart = ControllerFixture;

TEST_F(AppControllerStart, CompletesTheWindow)
{
    start();
    EXPECT_EQ(window.table.dataSource(), &*controller);
    EXPECT_EQ(window.sampleRate.items(),
              (Strings{"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz", "128 kHz"}));
    EXPECT_EQ(window.resolution.items(), (Strings{"16 bit", "24 bit"}));
    EXPECT_EQ(controller->progressText(), "Please set the path to save the repaired files.\n");
    EXPECT_FALSE(controller->isPatching());
}

TEST_F(AppControllerStart, QuitStoresTheSelectionsForTheNextRun)
{
    start();
    window.sampleRate.selectItemAtIndex(4);
    window.resolution.selectItemAtIndex(0);
    controller->terminate();
    EXPECT_EQ(platform.terminations(), 1);
    EXPECT_EQ(platform.defaults,
              (std::map<std::string, int>{{"SampleRate", 4}, {"Resolution", 0}}));

    test::TestWindow nextWindow;
    AppController next(platform);
    nextWindow.connect(next);
    next.awakeFromNib();
    EXPECT_EQ(nextWindow.sampleRate.selectedTitle(), "128 kHz");
    EXPECT_EQ(nextWindow.resolution.selectedTitle(), "16 bit");
    EXPECT_EQ(next.sampleRateHz(), 128000u);
    EXPECT_EQ(next.bitsPerSample(), 16u);
}

TEST_F(AppControllerStart, QuitDuringABatchBeepsAndTheQuitItemIsDisabled)
{
    start();
    const fs::path source = folder("src");
    chooseFiles(writeFiles(source, {"a.wav"}));
    chooseDestination(folder("dst"));
    window.sampleRate.selectItemAtIndex(3);
    const test::TestMenuItem other(korva::MenuAction::Other);
    EXPECT_TRUE(controller->validateMenuItem(window.quitItem));

    controller->DoPatch();
    platform.joinWorkers();
    // The batch lasts until its reset has run on the interface thread.
    ASSERT_TRUE(controller->isPatching());
    controller->terminate();
    EXPECT_EQ(platform.beeps(), 1);
    EXPECT_EQ(platform.terminations(), 0);
    EXPECT_EQ(platform.defaults.at("SampleRate"), 0);
    EXPECT_FALSE(controller->validateMenuItem(window.quitItem));
    EXPECT_TRUE(controller->validateMenuItem(other));

    platform.pumpInterfaceQueue();
    EXPECT_TRUE(controller->validateMenuItem(window.quitItem));
    controller->terminate();
    EXPECT_EQ(platform.terminations(), 1);
    EXPECT_EQ(platform.defaults.at("SampleRate"), 3);
}

using AppControllerChoosers = ControllerFixture;

TEST_F(AppControllerChoosers, ListsTheWavFilesOfASelectionInPanelOrder)
{
    start();
    const fs::path f = folder("F");
    const Strings paths = {(f / "A.WAV").string(), (f / "b.wav").string(),  (f / "c.aif").string(),
                           (f / "d.Wav").string(), (f / "e.wave").string(), (f / "wav").string()};
    chooseFiles(paths);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"A.WAV", f.string()}, {"b.wav", f.string()}, {"d.Wav", f.string()}};
    EXPECT_EQ(window.table.rows(), expected);
    EXPECT_EQ(window.table.reloads(), 1);
    EXPECT_EQ(controller->objectValueForTableColumn(window.table, "Size", 0), "");
    ASSERT_EQ(platform.panels().size(), 1u);
    const korva::OpenPanelOptions options = platform.panels()[0];
    EXPECT_TRUE(options.bCanChooseFiles);
    EXPECT_FALSE(options.bCanChooseDirectories);
    EXPECT_TRUE(options.bAllowsMultipleSelection);

    // A second selection replaces the list; a cancelled one keeps it.
    const fs::path g = folder("G");
    chooseFiles({(g / "z.wav").string()});
    EXPECT_EQ(window.table.rows(), (decltype(expected){{"z.wav", g.string()}}));
    platform.answerPanel(std::nullopt);
    controller->GetFilesForFixin();
    EXPECT_EQ(window.table.rows().size(), 1u);
}

TEST_F(AppControllerChoosers, DestinationChooserPicksOneFolderAndShowsIt)
{
    start();
    const fs::path d = folder("D");
    chooseDestination(d);
    EXPECT_EQ(window.pathText.text(), d.string());
    EXPECT_EQ(controller->destinationPath(), d.string());
    const korva::OpenPanelOptions options = platform.panels().at(0);
    EXPECT_FALSE(options.bCanChooseFiles);
    EXPECT_TRUE(options.bCanChooseDirectories);
    EXPECT_FALSE(options.bAllowsMultipleSelection);
    EXPECT_TRUE(options.bCanCreateDirectories);

    platform.answerPanel(std::nullopt);
    controller->SetPath();
    EXPECT_EQ(controller->destinationPath(), d.string()) << "a cancelled chooser keeps it";
    controller->showSourceText();
    EXPECT_EQ(window.pathText.text(), "");
}

namespace
{
// Steps: "files F" (a.wav from F), "files none" (only a .txt), "files cancel",
// "dest D", "dest F", "dest cancel".
struct StartRuleCase
{
    const char* name;
    Strings steps;
    bool bStartEnabled;
};

const StartRuleCase kStartRuleCases[] = {
    {"NothingChosen", {"files cancel"}, false},
    {"SourcesOnly", {"files F"}, false},
    {"DestinationOnly", {"dest D"}, false},
    {"SourcesThenOtherFolder", {"files F", "dest D"}, true},
    {"SourcesThenTheirOwnFolder", {"files F", "dest F"}, false},
    {"DestinationThenSources", {"dest D", "files F"}, true},
    {"DestinationThenSourcesFromIt", {"dest F", "files F"}, false},
    {"ReadyThenSameFolder", {"files F", "dest D", "dest F"}, false},
    {"SameFolderThenOther", {"files F", "dest F", "dest D"}, true},
    {"CancelledFirstDestination", {"files F", "dest cancel"}, false},
    {"CancelledLaterDestination", {"files F", "dest D", "dest cancel"}, true},
    {"NoWavFilesThenDestination", {"files none", "dest D"}, false},
    {"ReadyThenNoWavFiles", {"files F", "dest D", "files none"}, true},
};

class AppControllerStartRule : public ControllerFixture,
                               public ::testing::WithParamInterface<StartRuleCase>
{
};
} // namespace

TEST_P(AppControllerStartRule, EnablesStartOnlyForTwoDifferentFolders)
{
    start();
    const fs::path f = folder("F");
    const fs::path d = folder("D");
    for (const std::string& step : GetParam().steps)
    {
        if (step == "files F")
            chooseFiles({(f / "a.wav").string()});
        else if (step == "files none")
            chooseFiles({(f / "notes.txt").string()});
        else if (step == "dest D")
            chooseDestination(d);
        else if (step == "dest F")
            chooseDestination(f);
        else
        {
            platform.answerPanel(std::nullopt);
            if (step == "files cancel")
                controller->GetFilesForFixin();
            else
                controller->SetPath();
        }
    }
    EXPECT_EQ(window.start.enabled(), GetParam().bStartEnabled);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerStartRule, ::testing::ValuesIn(kStartRuleCases),
                         [](const auto& info) { return std::string(info.param.name); });
