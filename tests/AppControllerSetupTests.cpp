#include "ControllerFixture.h"

struct SettingsCase
{
    const char* name;
    std::optional<int> storedRate, storedResolution;
    uint32_t rate;
    uint16_t bits;
    const char *rateTitle, *resolutionTitle; // "" = no item selected
};

const SettingsCase kSettingsCases[] = {
    {"FirstRun", std::nullopt, std::nullopt, 44100, 24, "44.1 kHz", "24 bit"},
    {"Stored96k16", 3, 0, 96000, 16, "96 kHz", "16 bit"},
    {"Stored128k24", 4, 1, 128000, 24, "128 kHz", "24 bit"},
    {"NegativeRate", -1, 1, 44100, 24, "", "24 bit"},
    {"RatesPastTheTables", 5, 2, 44100, 24, "", ""},
    {"ResolutionAbsentReadsZero", 1, std::nullopt, 48000, 16, "48 kHz", "16 bit"},
};

// Steps: "files F|none|cancel" (F: a.wav in source; none: a .txt), "dest D|F|cancel".
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
using AppControllerSettings = ControllerFixture<SettingsCase>;
using AppControllerStartRule = ControllerFixture<StartRuleCase>;
using AppControllerStart = ControllerFixture<>;

TEST_P(AppControllerSettings, StartsFromTheStoredIndexesAndCompletesTheWindow)
{
    const SettingsCase& c = GetParam();
    if (c.storedRate)
        platform.defaults["SampleRate"] = *c.storedRate;
    if (c.storedResolution)
        platform.defaults["Resolution"] = *c.storedResolution;
    const std::map<std::string, int> firstRun = {{"SampleRate", 0}, {"Resolution", 1}};
    const auto stored = c.storedRate ? platform.defaults : firstRun;
    start();

    EXPECT_EQ(controller->sampleRateHz(), c.rate);
    EXPECT_EQ(controller->bitsPerSample(), c.bits);
    EXPECT_EQ(sampleRate.selectedTitle(), c.rateTitle);
    EXPECT_EQ(resolution.selectedTitle(), c.resolutionTitle);
    EXPECT_EQ(platform.defaults, stored) << "only a first run stores, its defaults";
    EXPECT_EQ(table.pDataSource, &*controller);
    EXPECT_EQ(sampleRate.items, (Strings{"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz", "128 kHz"}));
    EXPECT_EQ(resolution.items, (Strings{"16 bit", "24 bit"}));
    EXPECT_EQ(controller->progressText(), "Please set the path to save the repaired files.\n");
}

INSTANTIATE_TEST_SUITE_P(, AppControllerSettings, ::testing::ValuesIn(kSettingsCases), rowName);

TEST_F(AppControllerStart, QuitBeepsDuringABatchAndThenStoresTheSelections)
{
    prepare({"a.wav"});
    sampleRate.selectItemAtIndex(4);
    resolution.selectItemAtIndex(0);
    controller->DoPatch();
    platform.joinWorkers();
    // The batch lasts until its reset has run on the interface thread.
    ASSERT_TRUE(controller->isPatching());
    controller->terminate();
    EXPECT_EQ(platform.nBeeps, 1);
    EXPECT_EQ(platform.nTerminations, 0);
    EXPECT_FALSE(controller->validateMenuItem(quitItem));
    EXPECT_TRUE(controller->validateMenuItem(TestControl()));
    platform.pumpInterfaceQueue();
    EXPECT_TRUE(controller->validateMenuItem(quitItem));
    controller->terminate();
    EXPECT_EQ(platform.nTerminations, 1);
    EXPECT_EQ(platform.defaults,
              (std::map<std::string, int>{{"SampleRate", 4}, {"Resolution", 0}}));
}

// A second selection replaces the list, a cancelled one keeps it; so for the destination.
TEST_F(AppControllerStart, ChoosersListTheWavFilesInPanelOrderAndKeepThemWhenCancelled)
{
    start();
    chooseFiles({source / "A.WAV", source / "b.wav", source / "c.aif", source / "d.Wav",
                 source / "e.wave", source / "wav"});
    using Rows = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(table.rows(), (Rows{{"A.WAV", source}, {"b.wav", source}, {"d.Wav", source}}));
    chooseFiles({destination / "z.wav"});
    choose(std::nullopt, &AppController::GetFilesForFixin);
    EXPECT_EQ(table.rows(), (Rows{{"z.wav", destination}}));
    EXPECT_EQ(table.nReloads, 2);
    chooseDestination(dir.path());
    choose(std::nullopt, &AppController::SetPath);
    EXPECT_EQ(pathText.text, dir.path());
    EXPECT_EQ(controller->destinationPath(), dir.path());
}

TEST_P(AppControllerStartRule, EnablesStartOnlyForTwoDifferentFolders)
{
    start();
    for (const std::string& step : GetParam().steps)
    {
        if (step == "files F" || step == "files none")
            chooseFiles({source / (step == "files F" ? "a.wav" : "notes.txt")});
        else if (step == "dest D" || step == "dest F")
            chooseDestination(step == "dest D" ? destination : source);
        else
            choose(std::nullopt, step == "files cancel" ? &AppController::GetFilesForFixin
                                                        : &AppController::SetPath);
    }
    EXPECT_EQ(go.bEnabled, GetParam().bStartEnabled);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerStartRule, ::testing::ValuesIn(kStartRuleCases), rowName);
