#include "ControllerFixture.h"

#include <cstdlib>

// Each pop-up's items in ascending order, "From the file" last.
const std::string kAuto = "From the file";
const Strings kRates = {"32 kHz",    "44.1 kHz", "47.952 kHz", "48 kHz",    "48.048 kHz",
                        "88.2 kHz",  "96 kHz",   "128 kHz",    "176.4 kHz", "192 kHz",
                        "352.8 kHz", "384 kHz",  kAuto};
const Strings kResolutions = {"8 bit",        "16 bit",       "24 bit", "32 bit",
                              "32 bit float", "64 bit float", kAuto};
const Strings kChannels = []
{
    Strings items = {"Mono", "Stereo"};
    for (int n = 3; n <= 64; ++n)
        items.push_back(std::to_string(n) + " channels");
    items.push_back(kAuto);
    return items;
}();

struct SettingsCase
{
    const char* name;
    std::optional<int> storedRate, storedResolution, storedChannels;
    Strings selected;   // the three pop-ups' titles; "": no item selected
    std::string format; // the Format column of a take with no evidence of its format
};

const SettingsCase kSettingsCases[] = {
    {"FirstRun", {}, {}, {}, {"44.1 kHz", "24 bit", "Mono"}, "44100 Hz, 24 bit, mono"},
    // Settings stored before the Channels pop-up.
    {"OldIndexesKept", 4, 1, {}, {"128 kHz", "24 bit", "Mono"}, "128000 Hz, 24 bit, mono"},
    // Indexes stored for values added later keep naming them, wherever they now show.
    {"New", 10, 5, 1, {"47.952 kHz", "64 bit float", "Stereo"}, "47952 Hz, 64 bit float, stereo"},
    {"OldAndNewIndexesBeyondEight",
     5,
     2,
     8,
     {"32 kHz", "8 bit", "12 channels"},
     "32000 Hz, 8 bit, 12 channels"},
    // The take's 96 bytes are no whole frames of 10 channels: the chosen format
    // leaves the partial last frame out, and the column says so.
    {"ChannelCountsAddedBehindFromTheFile",
     1,
     2,
     14,
     {"48 kHz", "8 bit", "10 channels"},
     "48000 Hz, 8 bit, 10 channels — warning: its data size of 96 bytes is no whole number of "
     "10-byte frames: its partial last frame is left out"},
    {"FortyEightChannels",
     11,
     2,
     48,
     {"48.048 kHz", "8 bit", "48 channels"},
     "48048 Hz, 8 bit, 48 channels"},
    {"OutsideTheTablesKeepTheValues", -1, 7, 65, {"", "", ""}, "44100 Hz, 24 bit, mono"},
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
    for (const auto& [key, index] : {std::pair{"SampleRate", c.storedRate},
                                     {"Resolution", c.storedResolution},
                                     {"Channels", c.storedChannels}})
        if (index)
            platform.defaults[key] = *index;
    const std::map<std::string, int> firstRun = {
        {"SampleRate", 0}, {"Resolution", 1}, {"Channels", 0}};
    const auto stored = c.storedRate ? platform.defaults : firstRun;
    prepare({"take.wav"});
    EXPECT_EQ(sampleRate.items, kRates);
    EXPECT_EQ(resolution.items, kResolutions);
    EXPECT_EQ(channels.items, kChannels);
    EXPECT_EQ(
        (Strings{sampleRate.selectedTitle(), resolution.selectedTitle(), channels.selectedTitle()}),
        c.selected);
    EXPECT_EQ(table.column("Format"), Strings{c.format});
    EXPECT_EQ(platform.defaults, stored) << "only a first run stores, its defaults";
}

INSTANTIATE_TEST_SUITE_P(, AppControllerSettings, ::testing::ValuesIn(kSettingsCases), rowName);

// A second selection replaces the list, a cancelled one keeps it; so for the destination,
// which the next start takes up again while it is still there.
TEST_F(AppControllerStart, ChoosersListTheWavFilesInPanelOrderAndKeepThemWhenCancelled)
{
    start();
    EXPECT_FALSE(openDestination.bEnabled) << "no destination yet";
    chooseFiles({source / "A.WAV", source / "b.wav", source / "c.aif", source / "d.Wav",
                 source / "e.wave", source / "wav"});
    EXPECT_EQ(table.column("FileName"), (Strings{"A.WAV", "b.wav", "d.Wav"}));
    EXPECT_EQ(table.column("FilePath"), Strings(3, source));
    chooseFiles({destination / "z.wav"});
    choose(std::nullopt, &AppController::GetFilesForFixin);
    EXPECT_EQ(table.column("FileName"), Strings{"z.wav"});
    EXPECT_EQ(table.column("FilePath"), Strings{destination});
    chooseDestination(dir.path());
    choose(std::nullopt, &AppController::SetPath);
    EXPECT_EQ(controller->destinationPath(), dir.path());
    EXPECT_TRUE(openDestination.bEnabled);
    controller->OpenDestination();
    EXPECT_EQ(platform.foldersOpened, Strings{dir.path()});
    // The destination chooser opens at the home folder, then at the last
    // destination, but never in the folder the listed files come from.
    chooseDestination(destination);
    choose(std::nullopt, &AppController::SetPath);
    const auto startFolders = [&]
    {
        Strings folders;
        for (const korva::OpenPanelOptions& options : platform.panelOptions)
            if (options.bCanChooseDirectories)
                folders.push_back(options.startFolder);
        return folders;
    };
    const std::string home = std::getenv("HOME");
    EXPECT_EQ(startFolders(), (Strings{home, dir.path(), dir.path(), home}));
    chooseDestination(dir.path());

    for (const bool bStillThere : {true, false})
    {
        if (!bStillThere)
            platform.texts["Destination"] = dir.path() / "gone";
        pathText.text.clear();
        start();
        EXPECT_EQ(controller->destinationPath(), bStillThere ? dir.path().string() : "");
        EXPECT_EQ(pathText.text, bStillThere ? dir.path().string() : "");
        EXPECT_EQ(openDestination.bEnabled, bStillThere);
    }
    // A destination that goes while it is chosen is named, not opened.
    const fs::path gone = dir / "gone";
    fs::create_directory(gone);
    chooseDestination(gone);
    fs::remove(gone);
    controller->OpenDestination();
    EXPECT_EQ(platform.foldersOpened.size(), 1u);
    EXPECT_EQ(platform.statuses.back(), "The destination " + gone.string() +
                                            " is not there any more. Choose another folder.");
}

// A destination typed or pasted is taken as a chosen one: Start is off, the status line
// saying why, until it is a full path to a folder the files do not come from; only a
// folder is remembered.
TEST_F(AppControllerStart, ATypedDestinationIsCheckedAsAChosenOne)
{
    start();
    chooseFiles({source / "a.wav"});
    fixture::writeFile(dir / "notes.txt", fixture::ascii("notes"));
    const std::string off = "Start is off: the destination ";
    const std::vector<std::pair<std::string, std::string>> typed = {
        {"Repaired", off + "Repaired is no full path (one that starts with /)"},
        {(dir / "gone").string(), off + (dir / "gone").string() + " does not exist"},
        {(dir / "notes.txt").string(), off + (dir / "notes.txt").string() + " is not a folder"},
        {" " + source.string() + "\n", off + "is a folder the files come from: " + source.string()},
        {"", "Choose the folder for the repaired copies."},
        {"\t" + destination.string() + " ",
         "Ready: 1 file to repair into " + destination.string() + "."}};
    for (const auto& [text, status] : typed)
    {
        controller->SetTypedPath(text);
        EXPECT_EQ(platform.statuses.back().substr(0, status.size()), status) << text;
        EXPECT_EQ(go.bEnabled, &text == &typed.back().first) << text;
        EXPECT_EQ(openDestination.bEnabled, !text.empty()) << text;
    }
    EXPECT_EQ(controller->destinationPath(), destination);
    EXPECT_EQ(platform.texts["Destination"], destination) << "a folder is remembered";
    controller->SetTypedPath(dir / "gone");
    EXPECT_EQ(platform.texts["Destination"], destination) << "nothing else";
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

// Each take's overview comes from the background under the format its row would be written
// in: a wrong depth shows as noise, a choice that leaves the row failing drops what was still
// being read for it, and Play plays the selected take from where its waveform was clicked.
TEST_F(AppControllerStart, EachRowShowsItsTakeUnderItsFormatAndPlaysIt)
{
    platform.audio.why = "This computer has no sound output device";
    start();
    channels.nSelected = 1; // stereo, 44.1 kHz, 24 bit
    const fs::path take = source / "a.wav", unwrapped = source / "b.wav";
    const fixture::Bytes audio = fixture::tone(4800, 2, 24);
    fixture::writeFile(take, fixture::riff({fixture::chunk("bext", fixture::bextBody(1)),
                                            fixture::Bytes(24), fixture::chunk("data", audio)}));
    fixture::writeFile(unwrapped, fixture::riff({fixture::chunk("data", audio)}));
    chooseFiles({take, unwrapped});
    const auto settle = [&]
    {
        platform.joinWorkers();
        platform.pumpInterfaceQueue();
    };
    // How far apart the lowest and highest sample of a column lie, on average.
    const auto spread = [&]
    {
        const auto waveform = controller->waveformForTableColumn(table, "Waveform", 0);
        double dSum = 0, dColumns = 0;
        for (const auto& lane : waveform ? waveform->lanes : decltype(waveform->lanes){})
            for (const auto& column : lane)
                dSum += column.fMax - column.fMin, ++dColumns;
        EXPECT_EQ(dColumns, 2.0 * AppController::kWaveformColumns);
        return dSum / std::max(dColumns, 1.0);
    };
    settle();
    EXPECT_EQ(table.column("Duration")[0], "0:00:00.109");
    EXPECT_EQ(table.column("Peak")[0] + ", " + table.column("RMS")[0], "-4.0 dBFS, -8.2 dBFS");
    EXPECT_EQ(controller->toolTipForTableColumn(table, "RMS", 0),
              "Channel 1: peak -4.0 dBFS, RMS -8.2 dBFS\nChannel 2: peak -4.0 dBFS, RMS -8.2 dBFS");
    EXPECT_LT(spread(), 0.3) << "a column is a few samples of a slow tone";
    EXPECT_EQ(table.column("Waveform"), (Strings{"", "left as it is: no bext chunk"}));
    EXPECT_FALSE(controller->waveformForTableColumn(table, "Waveform", 1));
    EXPECT_EQ(table.rowsReloaded, std::vector<int>{0});

    // Read as 16 bit, the same bytes are half as long again, and a wall of noise.
    resolution.nSelected = 1;
    controller->popUpChanged();
    EXPECT_EQ(table.column("Duration")[0], "0:00:00.163");
    EXPECT_EQ(table.column("Waveform")[0], "reading…");
    settle();
    EXPECT_GT(spread(), 1.5) << "each column nearly full scale either way";
    EXPECT_EQ(table.rowsReloaded, (std::vector<int>{0, 0}));
    // Read but not yet shown when a choice leaves the row failing: dropped.
    resolution.nSelected = 2;
    controller->popUpChanged();
    platform.joinWorkers();
    sampleRate.nSelected = 12; // from the file, which does not tell it
    controller->popUpChanged();
    platform.pumpInterfaceQueue();
    EXPECT_EQ(table.column("Waveform")[0].rfind("fails: cannot tell the sample rate", 0), 0u);
    EXPECT_FALSE(controller->waveformForTableColumn(table, "Waveform", 0));
    EXPECT_EQ(table.rowsReloaded.size(), 2u);

    // No device: the control is off and says why.
    sampleRate.nSelected = 1;
    controller->popUpChanged();
    controller->selectionChanged(0);
    EXPECT_FALSE(playButton.bEnabled);
    EXPECT_EQ(playButton.toolTip, platform.audio.why);
    platform.audio.why.clear();
    Strings shown;
    for (const int row : {-1, 1, 0})
    {
        controller->selectionChanged(row);
        shown.push_back(std::to_string(playButton.bEnabled) + " " + playButton.toolTip);
    }
    EXPECT_EQ(shown[0], "0 Choose a take in the list to play it");
    EXPECT_EQ(shown[1], "0 This take cannot be played: left as it is: no bext chunk");
    EXPECT_EQ(shown[2].rfind("1 Plays the selected take", 0), 0u);
    controller->playFrom(0, 0.5);
    ASSERT_EQ(platform.audio.plays.size(), 1u);
    const korva::PlayRequest& request = platform.audio.plays[0];
    EXPECT_EQ(
        std::tuple(request.path, request.nBytes, request.nFromFrame, request.format),
        std::tuple(take.string(), audio.size(), 2400u, WavFormat{WavFormat::kPcm, 2, 44100, 24}));
    EXPECT_EQ(fixture::readFile(take, request.nOffset, 6),
              fixture::Bytes(audio.begin(), audio.begin() + 6));
    // The button and the space bar stop it, then play from the start; a take that cannot be
    // read on says so.
    EXPECT_EQ(playButton.text, "Stop");
    controller->PlayOrStop();
    EXPECT_EQ(std::tuple(platform.audio.nStops, playButton.text), std::tuple(1, "Play"));
    controller->PlayOrStop();
    EXPECT_EQ(platform.audio.plays.back().nFromFrame, 0u);
    platform.audio.ended("the file ended early");
    EXPECT_EQ(playButton.text, "Play");
    EXPECT_EQ(platform.statuses.back(), "a.wav cannot be played: the file ended early.");

    // A take longer than the read budget is sampled, and the tooltip says so.
    fixture::writeFile(
        take, fixture::riff({fixture::chunk("bext", fixture::bextBody(1)), fixture::Bytes(24),
                             fixture::chunk("data", fixture::tone(800000, 2, 24))}));
    chooseFiles({take});
    settle();
    const std::string levels = controller->toolTipForTableColumn(table, "Peak", 0);
    EXPECT_EQ(levels.substr(levels.find('\n', levels.find("Channel 2"))),
              "\nlevels sampled from 4 MiB spread over the take");
}
