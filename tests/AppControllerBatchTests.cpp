#include "ControllerFixture.h"

#include <future>
#include <sys/wait.h>
#include <unistd.h>

// A take behind bext and the remains of its lost fmt chunk (or the chunk the
// repair writes there), with an iXML chunk naming its rate, depth and tracks.
fixture::Bytes withIXml(const std::string& rate, const std::string& depth,
                        const std::string& tracks, const fixture::Bytes& audio,
                        const fixture::Bytes& fmt = fixture::Bytes(24))
{
    using namespace fixture;
    return riff({chunk("bext", bextBody(0)), fmt, chunk("iXML", ascii(ixmlOf(rate, depth, tracks))),
                 chunk("data", audio)});
}

// a, b and c into a destination holding an older b.wav and c.wav.
struct AnswerCase
{
    const char* name;
    int answer; // the button: Yes, Yes to All, Skip, No
    bool bSourceGone;
    std::vector<Kind> kinds;
    std::size_t nQuestions;
    const char* summary;
    bool bLeftovers = false; // temporary files of a gone run and of this one stand there
};

// The kinds of outcome by name, so that a row fits on a line.
using enum korva::FileOutcome::Kind;
const AnswerCase kAnswerCases[] = {
    {"Yes", 0, false, {Repaired, Repaired, Repaired}, 2, "Done: 3 repaired."},
    {"YesToAllAsksOnce", 1, false, {Repaired, Repaired, Repaired}, 1, "Done: 3 repaired."},
    // The gone run's goes, and the summary says so; this run's own is kept.
    {"LeftoversOfAGoneRun",
     1,
     false,
     {Repaired, Repaired, Repaired},
     1,
     "Done: 3 repaired. Removed 1 unfinished temporary file that an interrupted run left in the "
     "destination.",
     true},
    {"NoStops",
     3,
     false,
     {Repaired, NotProcessed, NotProcessed},
     1,
     "Done: 1 repaired, 2 not processed."},
    // Reported before the batch starts, and left out: the rest still runs.
    {"GoneSourceFirst", 0, true, {Failed, Repaired, Repaired}, 2, "Done: 2 repaired, 1 failed."},
};

using AppControllerRun = ControllerFixture<>;
using AppControllerAnswers = ControllerFixture<AnswerCase>;
using AppControllerStop = ControllerFixture<>;

// Six takes the format treats each its own way. Once the rate and the channels
// are left to the files, the Format column shows what Start will write, and
// the batch writes that, or fails for the reason shown.
TEST_F(AppControllerRun, WritesWhatTheFormatColumnShowedThenResetsTheWindowOnTheInterfaceThread)
{
    using namespace fixture;
    const Bytes stereo = tone(300, 2, 24), mono16 = tone(300, 1, 16);
    const Strings names = {"1 own.wav",    "2 wide\nmix.wav", "3 16 bit.wav",
                           "4 silent.wav", "5 no bext.wav",   "6 cut.wav"};
    const std::vector<Bytes> takes = {bwf(48000, 16, mono16),
                                      withIXml("96000", "24", "2", stereo),
                                      withIXml("48000", "16", "1", mono16),
                                      damagedFile(4),
                                      riff({chunk("data", mono16)}),
                                      withIXml("48000", "24", "1", samples(61))};
    Strings paths;
    for (std::size_t i = 0; i < names.size(); ++i)
        writeFile(paths.emplace_back(source / names[i]), takes[i]);
    start();
    chooseFiles(paths);
    chooseDestination(destination);
    sampleRate.selectItemAtIndex(12);
    channels.selectItemAtIndex(64);
    controller->popUpChanged();
    EXPECT_EQ(platform.statuses.back(), "Ready: 6 files; 1 of them says another format than the "
                                        "one chosen: see the Format column");
    const Strings formats = {
        "has its own format chunk",
        "96000 Hz, 24 bit, stereo (rate from iXML; channels from iXML)",
        "48000 Hz, 24 bit, mono (rate from iXML; channels from iXML) — warning: written as 24 "
        "bit; iXML says 16 bit",
        "cannot tell the sample rate: no iXML, CodingHistory or time reference gives it; choose "
        "the sample rate in the Sample rate pop-up",
        "no bext chunk: left as it is",
        "its 61 bytes of audio are not whole frames of 3 bytes (48000 Hz, 24 bit, mono): that "
        "cannot be its format"};
    EXPECT_EQ(table.column("Format"), formats);

    std::vector<bool> patchingWhenEnabled;
    browse.onEnabledChange = [&] { patchingWhenEnabled.push_back(controller->isPatching()); };
    controller->DoPatch();
    // A window polls the progress while the worker writes it.
    for (double i = 0, seen = 0; i < 1000; ++i, seen = controller->progressValue())
        EXPECT_GE(controller->progressValue(), seen);
    platform.joinWorkers();
    sampleRate.selectItemAtIndex(0);
    controller->popUpChanged();
    EXPECT_EQ(table.column("Format"), formats) << "the list stays until the reset, unchanged";
    EXPECT_FALSE(controller->validateMenuItem(quitItem)) << "nor can the user quit";
    EXPECT_FALSE(exportReport.bEnabled) << "nor export a report before the end";
    EXPECT_TRUE(controller->validateMenuItem(TestControl()));
    platform.pumpInterfaceQueue();
    EXPECT_TRUE(controller->validateMenuItem(quitItem));
    EXPECT_EQ(patchingWhenEnabled, (std::vector<bool>{true, false}))
        << "disabled once the batch runs, enabled again only after the flags were cleared";
    EXPECT_TRUE(table.column("FileName").empty());

    EXPECT_EQ(platform.kinds, (std::vector<Kind>{Unchanged, Repaired, Kind::RepairedWithWarnings,
                                                 Failed, Unchanged, Failed}));
    for (const std::size_t i : {3, 5})
        EXPECT_EQ(platform.outcomes[i].detail, formats[i]);
    EXPECT_EQ(platform.outcomes[1].detail, "format chunk written over the remains of the lost one "
                                           "at 622: " +
                                               formats[1]);
    EXPECT_EQ(platform.outcomes[2].warnings, Strings{"written as 24 bit; iXML says 16 bit"});
    EXPECT_EQ(listing(destination), (Strings{names[0], names[1], names[2], names[4]}))
        << "no temporary file is left";
    EXPECT_EQ(readFile(destination / names[1]),
              withIXml("96000", "24", "2", stereo, chunk("fmt ", fmtPcm(2, 96000, 24))));
    EXPECT_EQ(readFile(destination / names[2]),
              withIXml("48000", "16", "1", mono16, chunk("fmt ", fmtPcm(1, 48000, 24))));
    for (const std::size_t i : {0, 4})
        EXPECT_EQ(readFile(destination / names[i]), takes[i]);
    // Six steps of 100/6 add up to a little over 100: the last is capped.
    const std::vector<double> progress = {0, 100.0 / 6, 200.0 / 6, 50.0, 400.0 / 6, 500.0 / 6, 100};
    ASSERT_EQ(platform.progress.size(), progress.size());
    for (std::size_t i = 0; i < progress.size(); ++i)
        EXPECT_DOUBLE_EQ(platform.progress[i], progress[i]) << "after file " << i;
    EXPECT_EQ(platform.progress.back(), 100.0) << "the last value is exactly 100";
    EXPECT_EQ(platform.statuses.back(),
              "Done: 1 repaired, 1 repaired with warnings, 2 unchanged, 2 failed.");

    // The batch's report, as Python's csv module reads it: a row per file, in order.
    EXPECT_TRUE(exportReport.bEnabled);
    platform.saveAnswers = {destination / "report.csv", dir / "gone" / "report.txt"};
    controller->ExportReport();
    EXPECT_EQ(platform.savePanelOptions.at(0).startFolder, destination);
    EXPECT_EQ(platform.statuses.back(),
              "The report is written to " + (destination / "report.csv").string() + ".");
    const auto rows = fixture::csvRows(destination / "report.csv");
    ASSERT_EQ(rows.size(), 7u);
    const Strings results = {"unchanged", "repaired",  "repaired with warnings",
                             "failed",    "unchanged", "failed"};
    const Strings written = {"", "96000 Hz, 24 bit, stereo", "48000 Hz, 24 bit, mono", "", "", ""};
    const Strings from = {
        "", "rate from iXML; channels from iXML", "rate from iXML; channels from iXML", "", "", ""};
    // 300 frames at 96 kHz; 300 of 16 bits read as 200 of 24 bits at 48 kHz.
    const Strings durations = {"", "0:00:00.003", "0:00:00.004", "", "", ""};
    const Strings warnings = {"", "", "written as 24 bit; iXML says 16 bit", "", "", ""};
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(rows[i + 1],
                  (Strings{source / names[i], destination / names[i], results[i], written[i],
                           from[i], durations[i], warnings[i], platform.outcomes[i].detail}))
            << names[i];
    // A report that cannot be written is said, and the next try may go elsewhere.
    controller->ExportReport();
    EXPECT_EQ(platform.alerts.back(),
              "The report could not be written to " + (dir / "gone" / "report.txt").string() +
                  ": its folder " + (dir / "gone").string() +
                  " does not exist.\n\nChoose another folder, or make room, and export it again.");

    // A cancelled file chooser leaves the list empty and the start control
    // enabled: the next batch restores every control at once, with no thread.
    const Strings log = platform.logLines;
    choose(std::nullopt, &AppController::GetFilesForFixin);
    ASSERT_TRUE(go.bEnabled);
    controller->DoPatch();
    for (const TestControl* control :
         {&go, &browse, &quitItem, &files, &folder, &sampleRate, &resolution, &channels})
        EXPECT_TRUE(control->bEnabled);
    EXPECT_EQ(quitButton.text, "Quit");
    const std::string text = "\nArray empty - nothing to process - no files found.\n";
    EXPECT_EQ(controller->progressText(), text);
    EXPECT_EQ(platform.statuses.back(), text);
    EXPECT_FALSE(exportReport.bEnabled) << "no batch, no report";
    EXPECT_TRUE(platform.workers.empty());
    EXPECT_EQ(platform.logLines, log);
}

TEST_P(AppControllerAnswers, EachAnswerToTheQuestionKeepsOrReplacesAndTheSummarySaysSo)
{
    const AnswerCase& c = GetParam();
    prepare({"a.wav", "b.wav", "c.wav"});
    const fixture::Bytes older = fixture::ascii("an older copy");
    for (const char* name : {"b.wav", "c.wav"})
        fixture::writeFile(destination / name, older);
    if (c.bSourceGone)
        fs::remove(source / "a.wav");
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string ofGoneRun = ".korva-" + std::to_string(gone) + "-aBc123",
                      ofThisRun = ".korva-" + std::to_string(getpid()) + "-Ab3xYz";
    if (c.bLeftovers)
        for (const std::string& name : {ofGoneRun, ofThisRun})
            fixture::writeFile(destination / name, fixture::ascii("half a copy"));
    platform.alertAnswer = c.answer;
    runBatch();

    EXPECT_EQ(platform.kinds, c.kinds);
    EXPECT_EQ(platform.rows, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(platform.alerts.size(), c.nQuestions);
    EXPECT_EQ(platform.nBeeps, static_cast<int>(c.nQuestions)) << "one beep before each question";
    EXPECT_EQ(platform.statuses.back(), c.summary);
    EXPECT_FALSE(fs::exists(destination / ofGoneRun));
    EXPECT_EQ(fs::exists(destination / ofThisRun), c.bLeftovers);
    for (std::size_t i = 1; i < 3; ++i)
    {
        const auto copy = fixture::readFile(destination / ("abc"[i] + std::string(".wav")));
        EXPECT_EQ(copy, c.kinds[i] == Repaired ? repairedFile(44100, 24, i + 1) : older);
    }
}

INSTANTIATE_TEST_SUITE_P(, AppControllerAnswers, ::testing::ValuesIn(kAnswerCases), rowName);

TEST_F(AppControllerStop, AfterTheCurrentFileWithABeep)
{
    prepare({"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"});
    // The worker waits after the first job until this thread has asked to stop.
    std::promise<void> reached, stopped;
    platform.onProgress = [&](double progress)
    {
        if (progress == 20.0)
            reached.set_value(), stopped.get_future().wait();
    };
    controller->DoPatch();
    reached.get_future().wait();
    // Closing the window says why it stays open, until the batch stops.
    TestControl cancelItem;
    cancelItem.menuAction = korva::MenuAction::Cancel;
    EXPECT_TRUE(controller->validateMenuItem(cancelItem));
    controller->terminate();
    const std::string refused = "A batch is running: Cancel stops it after the current file";
    EXPECT_EQ(platform.statuses.back(), refused);
    EXPECT_EQ(controller->statusText(), refused) << "the next file's status keeps it";
    controller->OnCancel();
    stopped.set_value();
    controller->OnCancel(); // again, while the worker reads it: ThreadSanitizer watches
    platform.joinWorkers();
    platform.pumpInterfaceQueue();
    EXPECT_FALSE(controller->validateMenuItem(cancelItem));
    EXPECT_EQ(platform.nBeeps, 2) << "the refused quit's and the stop's";
    EXPECT_EQ(platform.kinds, (std::vector<Kind>{Repaired, NotProcessed, NotProcessed, NotProcessed,
                                                 NotProcessed}));
    EXPECT_EQ(listing(destination), Strings{"1.wav"});
    EXPECT_EQ(platform.statuses.back(), "Done: 1 repaired, 4 not processed.");
    // The stop request does not outlive its batch.
    chooseFiles({source / "3.wav", source / "4.wav"});
    runBatch();
    EXPECT_EQ(listing(destination).size(), 3u);
    EXPECT_EQ(platform.nBeeps, 2);
    EXPECT_EQ(platform.statuses.back(), "Done: 2 repaired.") << "nor does the refused quit";
}

// Retry runs the rows that failed or were not processed again, with the pop-ups as they
// are now; the rows done with keep their copies and outcomes, in the report too.
TEST_F(AppControllerRun, RetryRunsTheFailedAndNotProcessedRowsAgain)
{
    prepare({"a.wav", "b.wav", "c.wav"});
    const fixture::Bytes b = fixture::readFile(source / "b.wav");
    fs::remove(source / "b.wav");
    fixture::writeFile(destination / "c.wav", fixture::ascii("an older copy"));
    EXPECT_FALSE(retry.bEnabled);
    runBatch(); // b failed; No to c's question
    EXPECT_EQ(platform.kinds, (std::vector<Kind>{Failed, Repaired, NotProcessed}));
    EXPECT_TRUE(retry.bEnabled);

    fixture::writeFile(source / "b.wav", b);
    sampleRate.selectItemAtIndex(3); // 48 kHz
    platform.alertAnswer = 0;        // Yes
    controller->Retry();
    platform.joinWorkers();
    platform.pumpInterfaceQueue();
    EXPECT_EQ(platform.rows, (std::vector<int>{1, 0, 2, 1, 2}));
    EXPECT_EQ(platform.kinds,
              (std::vector<Kind>{Failed, Repaired, NotProcessed, Repaired, Repaired}));
    EXPECT_EQ(platform.statuses.back(), "Done: 2 repaired.");
    EXPECT_FALSE(retry.bEnabled) << "nothing is left to run again";
    EXPECT_EQ(fixture::readFile(destination / "a.wav"), repairedFile(44100, 24, 1));
    for (const std::size_t i : {1, 2})
        EXPECT_EQ(fixture::readFile(destination / ("abc"[i] + std::string(".wav"))),
                  repairedFile(48000, 24, i + 1));
    platform.saveAnswers = {dir / "report.csv"};
    controller->ExportReport();
    const auto rows = fixture::csvRows(dir / "report.csv");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ((Strings{rows[1][2], rows[2][2], rows[3][2]}), Strings(3, "repaired"));
    EXPECT_EQ(rows[1][3], "44100 Hz, 24 bit, mono");
    EXPECT_EQ(rows[3][3], "48000 Hz, 24 bit, mono");

    // A new choice of files ends what Retry can do.
    fs::remove(source / "b.wav");
    runBatch();
    chooseFiles({source / "a.wav"});
    EXPECT_FALSE(retry.bEnabled);
}

// A card chosen as a folder: its two takes of one name, a day apart, each go to
// their own day folder, though Yes to All answered the one question; its
// AppleDouble file, a text file named .WAV and its sound report are not listed.
TEST_F(AppControllerRun, ACardFolderKeepsItsTreeAndListsOnlyItsTakes)
{
    using namespace fixture;
    const fs::path card = source / "CARD";
    const Strings takes = {"2024-06-11/SC12_T01.WAV", "2024-06-12/SC12_T01.WAV"};
    for (std::size_t i = 0; i < takes.size(); ++i)
    {
        fs::create_directories((card / takes[i]).parent_path());
        fs::create_directories((destination / takes[i]).parent_path());
        writeFile(card / takes[i], damagedFile(i + 1));
    }
    writeFile(card / "2024-06-12/._SC12_T01.WAV", cat({le32(0x07160500), Bytes(20, 0)}));
    writeFile(card / "NOTES.WAV", ascii("wind on T02"));
    writeFile(card / "2024-06-11/SOUND_REPORT.CSV", ascii("Take,Notes\nT01,good\n"));
    writeFile(destination / takes[0], ascii("an older copy"));
    start();
    choose(Strings{card}, &AppController::GetFolderForFixin);
    chooseDestination(destination);
    EXPECT_EQ(table.column("FileName"), takes);
    platform.alertAnswer = 1; // Yes to All
    runBatch();

    EXPECT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(platform.statuses.back(), "Done: 2 repaired.");
    Strings copies;
    for (const auto& entry : fs::recursive_directory_iterator(destination))
        if (entry.is_regular_file())
            copies.push_back(fs::relative(entry.path(), destination));
    std::sort(copies.begin(), copies.end());
    EXPECT_EQ(copies, takes);
    for (std::size_t i = 0; i < takes.size(); ++i)
        EXPECT_EQ(readFile(destination / takes[i]), repairedFile(44100, 24, i + 1));
}

// A file of some two and a half progress steps behind a small one: the bar moves on
// within the large file's half of it, and the status says how far its copy is.
TEST_F(AppControllerRun, ALargeFileMovesTheProgressWithinItsCopy)
{
    using namespace fixture;
    const Bytes big =
        riff({chunk("bext", bextBody(0)), Bytes(24), chunk("data", tone(7000000, 1, 24))});
    prepare({"small.wav"});
    writeFile(source / "big.wav", big);
    chooseFiles({source / "small.wav", source / "big.wav"});
    runBatch();

    EXPECT_EQ(platform.kinds, (std::vector<Kind>{Repaired, Repaired}));
    EXPECT_EQ(readFile(destination / "big.wav"),
              riff({chunk("bext", bextBody(0)), fmtChunkMono(44100, 24),
                    chunk("data", tone(7000000, 1, 24))}));
    ASSERT_EQ(platform.progress.size(), 5u) << "0, after the small file, twice within the large";
    EXPECT_EQ(platform.progress[1], 50.0);
    for (std::size_t i = 2; i < 4; ++i)
        EXPECT_TRUE(platform.progress[i] > platform.progress[i - 1] && platform.progress[i] < 100)
            << platform.progress[i];
    EXPECT_EQ(platform.progress.back(), 100.0);
    const Strings statuses = {"Starting…",
                              "Repairing small.wav (1 of 2)…",
                              "Repairing big.wav (2 of 2)…",
                              "Copying big.wav: 8.4 of 21.0 MB (2 of 2)…",
                              "Copying big.wav: 16.8 of 21.0 MB (2 of 2)…",
                              "Done: 2 repaired."};
    EXPECT_EQ(Strings(platform.statuses.end() - 6, platform.statuses.end()), statuses);
}
