#include "ControllerFixture.h"

#include <future>

const std::string kFailureLine = "UHOH ---------------------------------------!!!!!!!";
const std::string kClosingLine = "==========================================";

// "Start the thread", then the three lines each job starts with.
Strings openingLines(const fs::path& from, const fs::path& to, const Strings& names)
{
    Strings lines = {"Start the thread"};
    for (const std::string& name : names)
        lines.insert(lines.end(),
                     {"---- PATCHFILE Function ----", "Copy file = " + (from / name).string(),
                      "Copying " + (from / name).string() + " to " + (to / name).string()});
    return lines;
}

struct BatchCase
{
    const char* name;
    Strings files;
    std::vector<double> progress; // 0 at the start, then after each file
};

const BatchCase kBatchCases[] = {
    {"OneFile", {"a.wav"}, {0, 100.0}},
    {"ThreeFiles", {"a.wav", "b.wav", "c.wav"}, {0, 100.0 / 3, 200.0 / 3, 100.0}},
    // Six steps of 100/6 add up to a little over 100: the last is capped.
    {"SixFiles",
     {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav", "6.wav"},
     {0, 100.0 / 6, 200.0 / 6, 50.0, 400.0 / 6, 500.0 / 6, 100.0}},
};

// What the destination holds before the batch (an older b.wav and c.wav), which
// listed source is gone by the time Start is pressed, the answer to every question;
// what becomes of a, b and c, and how often the user is asked.
struct AnswerCase
{
    const char* name;
    int answer; // the button: Yes, Yes to All, Skip, No
    bool bSourceGone;
    std::vector<Kind> kinds;
    std::size_t nQuestions;
    const char* summary;
};

const AnswerCase kAnswerCases[] = {
    {"Yes", 0, false, {Kind::Repaired, Kind::Repaired, Kind::Repaired}, 2, "Done: 3 repaired."},
    {"YesToAllAsksOnce",
     1,
     false,
     {Kind::Repaired, Kind::Repaired, Kind::Repaired},
     1,
     "Done: 3 repaired."},
    {"SkipGoesOn",
     2,
     false,
     {Kind::Repaired, Kind::Skipped, Kind::Skipped},
     2,
     "Done: 1 repaired, 2 skipped."},
    {"NoStopsAndTheRestIsNotProcessed",
     3,
     false,
     {Kind::Repaired, Kind::NotProcessed, Kind::NotProcessed},
     1,
     "Done: 1 repaired, 2 not processed."},
    // Reported before the batch starts, and left out: the rest still runs.
    {"GoneSourceToldFirst",
     0,
     true,
     {Kind::Failed, Kind::Repaired, Kind::Repaired},
     2,
     "Done: 2 repaired, 1 failed."},
};

using AppControllerRun = ControllerFixture<BatchCase>;
using AppControllerAnswers = ControllerFixture<AnswerCase>;
using AppControllerStop = ControllerFixture<>;

TEST_P(AppControllerRun, RepairsEveryFileThenResetsTheWindowOnTheInterfaceThread)
{
    const BatchCase& c = GetParam();
    prepare(c.files);
    sampleRate.selectItemAtIndex(1);
    resolution.selectItemAtIndex(0);
    std::vector<bool> patchingWhenEnabled;
    browse.onEnabledChange = [&] { patchingWhenEnabled.push_back(controller->isPatching()); };
    controller->DoPatch();
    // A window polls the progress while the worker writes it.
    for (double i = 0, seen = 0; i < 1000; ++i, seen = controller->progressValue())
        EXPECT_GE(controller->progressValue(), seen);
    platform.joinWorkers();
    EXPECT_EQ(table.rows().size(), c.files.size()) << "the list stays until the reset";
    EXPECT_FALSE(controller->validateMenuItem(quitItem)) << "nor can the user quit";
    EXPECT_TRUE(controller->validateMenuItem(TestControl()));
    platform.pumpInterfaceQueue();
    EXPECT_TRUE(controller->validateMenuItem(quitItem));
    EXPECT_EQ(patchingWhenEnabled, (std::vector<bool>{true, false}))
        << "disabled once the batch runs, enabled again only after the flags were cleared";
    EXPECT_TRUE(table.rows().empty());
    Strings log = openingLines(source, destination, c.files);
    log.push_back(kClosingLine);
    EXPECT_EQ(platform.logLines, log);
    EXPECT_EQ(listing(destination), c.files) << "no temporary file is left";
    ASSERT_EQ(platform.kinds, std::vector<Kind>(c.files.size(), Kind::Repaired));
    for (std::size_t i = 0; i < c.files.size(); ++i)
    {
        EXPECT_EQ(fixture::readFile(destination / c.files[i]), repairedFile(48000, 16, i + 1));
        EXPECT_EQ(fixture::readFile(source / c.files[i]), damagedFile(i + 1));
        EXPECT_EQ(platform.rows[i], static_cast<int>(i));
        EXPECT_EQ(platform.outcomes[i].destinationPath, destination / c.files[i]);
        EXPECT_EQ(platform.outcomes[i].detail,
                  "format chunk written over the remains of the lost one at 622: 48000 Hz, 16 "
                  "bit, mono");
    }
    ASSERT_EQ(platform.progress.size(), c.progress.size());
    for (std::size_t i = 0; i < c.progress.size(); ++i)
        EXPECT_DOUBLE_EQ(platform.progress[i], c.progress[i]) << "after file " << i;
    EXPECT_EQ(platform.progress.back(), 100.0) << "the last value is exactly 100";
    EXPECT_EQ(platform.statuses.back(), "Done: " + std::to_string(c.files.size()) + " repaired.");

    // A cancelled file chooser leaves the list empty and the start control
    // enabled: the next batch restores every control at once, with no thread.
    choose(std::nullopt, &AppController::GetFilesForFixin);
    ASSERT_TRUE(go.bEnabled);
    controller->DoPatch();
    for (const TestControl* control : {&go, &browse, &quitItem, &files, &sampleRate, &resolution})
        EXPECT_TRUE(control->bEnabled);
    EXPECT_EQ(quitButton.text, "Quit");
    const std::string text = "\nArray empty - nothing to process - no files found.\n";
    EXPECT_EQ(controller->progressText(), text);
    EXPECT_EQ(platform.statuses.back(), text);
    EXPECT_TRUE(platform.workers.empty());
    EXPECT_EQ(platform.logLines, log);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerRun, ::testing::ValuesIn(kBatchCases), rowName);

TEST_P(AppControllerAnswers, EachAnswerToTheQuestionKeepsOrReplacesAndTheSummarySaysSo)
{
    const AnswerCase& c = GetParam();
    prepare({"a.wav", "b.wav", "c.wav"});
    const fixture::Bytes older = fixture::ascii("an older copy");
    for (const char* name : {"b.wav", "c.wav"})
        fixture::writeFile(destination / name, older);
    if (c.bSourceGone)
        fs::remove(source / "a.wav");
    platform.alertAnswer = c.answer;
    runBatch();

    EXPECT_EQ(platform.kinds, c.kinds);
    EXPECT_EQ(platform.rows, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(platform.alerts.size(), c.nQuestions);
    EXPECT_EQ(platform.alerts.front(), "The file: b.wav already exists! Overwrite file?");
    EXPECT_EQ(platform.nBeeps, static_cast<int>(c.nQuestions)) << "one beep before each question";
    EXPECT_EQ(platform.statuses.back(), c.summary);
    const bool bStopped = c.kinds.back() == Kind::NotProcessed;
    EXPECT_EQ(std::count(platform.logLines.begin(), platform.logLines.end(), kFailureLine),
              bStopped ? 1 : 0);
    for (std::size_t i = 1; i < 3; ++i)
    {
        const auto copy = fixture::readFile(destination / ("abc"[i] + std::string(".wav")));
        EXPECT_EQ(copy, c.kinds[i] == Kind::Repaired ? repairedFile(44100, 24, i + 1) : older);
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
    controller->OnCancel();
    stopped.set_value();
    controller->OnCancel(); // again, while the worker reads it: ThreadSanitizer watches
    platform.joinWorkers();
    platform.pumpInterfaceQueue();
    EXPECT_EQ(platform.nBeeps, 1);
    EXPECT_EQ(platform.kinds,
              (std::vector<Kind>{Kind::Repaired, Kind::NotProcessed, Kind::NotProcessed,
                                 Kind::NotProcessed, Kind::NotProcessed}));
    Strings log = openingLines(source, destination, {"1.wav"});
    log.push_back(kClosingLine);
    EXPECT_EQ(platform.logLines, log);
    EXPECT_EQ(listing(destination), Strings{"1.wav"});
    EXPECT_EQ(platform.statuses.back(), "Done: 1 repaired, 4 not processed.");
    // The stop request does not outlive its batch.
    chooseFiles({source / "3.wav", source / "4.wav"});
    runBatch();
    EXPECT_EQ(listing(destination).size(), 3u);
    EXPECT_EQ(platform.nBeeps, 1);
}
