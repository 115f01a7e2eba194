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

// Steps: "files F|none" (F: a.wav in source; none: a .txt), "dest D|F|cancel".
struct StartRuleCase
{
    const char* name;
    Strings steps;
    std::vector<bool> enabled; // the start control's state after each step
    Strings statuses;          // how the status line begins after each step
};

const std::string kChoose = "Choose the damaged WAV files", kFolder = "Choose the folder",
                  kReady = "Ready: 1 file to repair into ", kSame = "Start is off: the destination";
const StartRuleCase kStartRuleCases[] = {
    {"SourcesFirst",
     {"files F", "dest cancel", "dest F", "dest D", "dest cancel", "files none"},
     {false, false, false, true, true, true},
     {kFolder, kFolder, kSame, kReady, kReady, kChoose + " to repair"}},
    {"DestinationFirst",
     {"dest D", "files F", "dest F"},
     {false, true, false},
     {kChoose + " to repair", kReady, kSame}},
    {"DestinationIsTheSourcesFolder",
     {"dest F", "files F"},
     {false, false},
     {kChoose + " to repair", kSame}},
    {"NoWavFiles", {"files none", "dest D"}, {false, false}, {kChoose + ", then", kChoose + " to"}},
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
}

INSTANTIATE_TEST_SUITE_P(, AppControllerSettings, ::testing::ValuesIn(kSettingsCases), rowName);

// A second selection replaces the list, a cancelled one keeps it; so for the destination,
// which the next start takes up again while it is still there.
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
    chooseDestination(dir.path());
    choose(std::nullopt, &AppController::SetPath);
    EXPECT_EQ(controller->destinationPath(), dir.path());

    for (const bool bStillThere : {true, false})
    {
        if (!bStillThere)
            platform.texts["Destination"] = dir.path() / "gone";
        pathText.text.clear();
        start();
        EXPECT_EQ(controller->destinationPath(), bStillThere ? dir.path().string() : "");
        EXPECT_EQ(pathText.text, bStillThere ? dir.path().string() : "");
    }
}

TEST_P(AppControllerStartRule, EnablesStartOnlyForTwoDifferentFolders)
{
    start();
    std::vector<bool> enabled;
    Strings statuses;
    for (const std::string& step : GetParam().steps)
    {
        if (step == "files F" || step == "files none")
            chooseFiles({source / (step == "files F" ? "a.wav" : "notes.txt")});
        else if (step == "dest D" || step == "dest F")
            chooseDestination(step == "dest D" ? destination : source);
        else
            choose(std::nullopt, &AppController::SetPath);
        enabled.push_back(go.bEnabled);
        statuses.push_back(
            platform.statuses.back().substr(0, GetParam().statuses.at(statuses.size()).size()));
    }
    EXPECT_EQ(enabled, GetParam().enabled);
    EXPECT_EQ(statuses, GetParam().statuses);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerStartRule, ::testing::ValuesIn(kStartRuleCases), rowName);
