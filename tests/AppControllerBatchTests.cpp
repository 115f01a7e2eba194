#include "AudioFile.h"
#include "ControllerFixture.h"
#include "TemporaryCopy.h"

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
    std::vector<double> progress;
};

const BatchCase kBatchCases[] = {
    {"OneFile", {"a.wav"}, {100.0}},
    {"ThreeFiles", {"a.wav", "b.wav", "c.wav"}, {100.0 / 3, 200.0 / 3, 100.0}},
    // Six steps of 100/6 add up to a little over 100: the last is capped.
    {"SixFiles",
     {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav", "6.wav"},
     {100.0 / 6, 200.0 / 6, 50.0, 400.0 / 6, 500.0 / 6, 100.0}},
};

struct OverwriteCase
{
    const char* name;
    korva::AlertButton answer;
    bool bSourceMissing, bReplaced, bSameName;
};

const OverwriteCase kOverwriteCases[] = {
    {"Yes", korva::AlertButton::Default, false, true, false},
    {"No", korva::AlertButton::Alternate, false, false, false},
    {"YesButTheCopyFails", korva::AlertButton::Default, true, false, false},
    // take1.wav from src, then one from another folder: the second replaces the first.
    {"SecondRowOfTheSameName", korva::AlertButton::Default, false, true, true},
};

// Set up by its name, a case the job checks before copying a.wav: the line it
// refuses with ("": repaired); nPathLength: of the temporary path.
struct RefusalCase
{
    const char* name;
    const char* refusal;
    std::size_t nPathLength = 0;
};

const RefusalCase kRefusalCases[] = {
    {"SymlinkedFolder", "Source and destination are the same file: "},
    {"HardLink", "Source and destination are the same file: "},
    {"FileOverFourGibibytes", "File larger than 4 GiB, not copied: "},
    {"TemporaryPathJustFits", "", CAudioFile::kPathCapacity - 1},
    // From archive media: the copy stays writable for its owner, to be repaired.
    {"ReadOnlySource", ""},
    {"TemporaryPathTooLong", "Destination path too long: ", CAudioFile::kPathCapacity},
};
using AppControllerBatch = ControllerFixture<>;
using AppControllerRun = ControllerFixture<BatchCase>;
using AppControllerStop = ControllerFixture<bool>;
using AppControllerOverwrite = ControllerFixture<OverwriteCase>;
using AppControllerJobChecks = ControllerFixture<RefusalCase>;

TEST_P(AppControllerRun, RepairsEveryFileThenResetsTheWindowOnTheInterfaceThread)
{
    const BatchCase& c = GetParam();
    prepare(c.files);
    sampleRate.selectItemAtIndex(1);
    resolution.selectItemAtIndex(0);
    std::vector<bool> patchingWhenEnabled;
    browse.onEnabledChange = [&] { patchingWhenEnabled.push_back(controller->isPatching()); };
    controller->DoPatch();
    EXPECT_EQ(batchControls(), std::vector<bool>(6, false));
    EXPECT_EQ(quitButton.text, "Cancel");
    // A window polls the progress while the worker writes it.
    for (double i = 0, seen = 0; i < 1000; ++i, seen = controller->progressValue())
        EXPECT_GE(controller->progressValue(), seen);
    platform.joinWorkers();
    EXPECT_EQ(table.rows().size(), c.files.size()) << "the list stays until the reset";
    platform.pumpInterfaceQueue();
    EXPECT_EQ(batchControls(), (std::vector<bool>{false, true, true, true, true, true}));
    EXPECT_EQ(quitButton.text, "Quit");
    EXPECT_EQ(patchingWhenEnabled, (std::vector<bool>{true, false}))
        << "disabled once the batch runs, enabled again only after the flags were cleared";
    EXPECT_TRUE(table.rows().empty());
    EXPECT_EQ(table.nReloads, 2);
    EXPECT_EQ(platform.nBeeps, 0);
    Strings log = openingLines(source, destination, c.files);
    log.push_back(kClosingLine);
    EXPECT_EQ(platform.logLines, log);
    EXPECT_EQ(listing(destination), c.files) << "no temporary file is left";
    ASSERT_EQ(platform.outcomes.size(), c.files.size());
    for (std::size_t i = 0; i < c.files.size(); ++i)
    {
        EXPECT_EQ(fixture::readFile(destination / c.files[i]), repairedFile(48000, 16, i + 1));
        EXPECT_EQ(fixture::readFile(source / c.files[i]), damagedFile(i + 1));
        EXPECT_EQ(platform.outcomes[i].sourcePath, source / c.files[i]);
        EXPECT_EQ(platform.outcomes[i].destinationPath, destination / c.files[i]);
        EXPECT_EQ(platform.outcomes[i].kind, Kind::Repaired);
        EXPECT_EQ(platform.outcomes[i].detail, "fmt chunk written behind bext");
        EXPECT_DOUBLE_EQ(platform.progress.at(i), c.progress[i]) << "before file " << i + 1;
    }
    EXPECT_EQ(platform.progress.back(), 100.0) << "the last value is exactly 100";
}

INSTANTIATE_TEST_SUITE_P(, AppControllerRun, ::testing::ValuesIn(kBatchCases), rowName);

TEST_F(AppControllerBatch, EmptyListRestoresEveryControlAndStartsNoThread)
{
    start();
    chooseDestination(destination);
    // A cancelled file chooser with a destination set enables the start control.
    choose(std::nullopt, &AppController::GetFilesForFixin);
    ASSERT_TRUE(go.bEnabled);
    controller->DoPatch();
    EXPECT_EQ(batchControls(), std::vector<bool>(6, true));
    EXPECT_EQ(quitButton.text, "Quit");
    EXPECT_FALSE(controller->isPatching());
    const std::string text = "\nArray empty - nothing to process - no files found.\n";
    EXPECT_EQ(controller->progressText(), text);
    EXPECT_EQ(platform.statuses, Strings{text});
    EXPECT_TRUE(platform.workers.empty());
    EXPECT_TRUE(platform.logLines.empty());
}

TEST_P(AppControllerStop, StopDuringTheSecondOfFiveFiles)
{
    const bool bFails = GetParam();
    prepare({"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"});
    if (bFails) // the second file's copy fails
        fs::remove(source / "2.wav");
    controller->OnCancel(); // no batch runs: no effect
    // The worker waits before the second job until this thread has asked to stop.
    std::promise<void> reached, stopped;
    platform.onProgress = [&](double progress)
    {
        if (progress == 40.0)
            reached.set_value(), stopped.get_future().wait();
    };
    controller->DoPatch();
    reached.get_future().wait();
    controller->OnCancel();
    stopped.set_value();
    controller->OnCancel(); // again, while the worker reads it: ThreadSanitizer watches
    platform.joinWorkers();
    platform.pumpInterfaceQueue();
    EXPECT_EQ(platform.nBeeps, bFails ? 0 : 1) << "a failing file never beeps";
    ASSERT_EQ(platform.kinds,
              (std::vector<Kind>{Kind::Repaired, bFails ? Kind::Failed : Kind::Repaired}));
    Strings log = openingLines(source, destination, {"1.wav", "2.wav"});
    if (bFails)
    {
        const std::string error = platform.outcomes[1].detail;
        EXPECT_NE(error.find("copy_file"), std::string::npos) << error;
        log.insert(log.end(), {error, kFailureLine});
    }
    log.push_back(kClosingLine);
    EXPECT_EQ(platform.logLines, log);
    EXPECT_EQ(listing(destination), (bFails ? Strings{"1.wav"} : Strings{"1.wav", "2.wav"}));
    // The stop request does not outlive its batch.
    chooseFiles({source / "3.wav", source / "4.wav"});
    runBatch();
    EXPECT_EQ(listing(destination).size(), bFails ? 3u : 4u);
    EXPECT_EQ(platform.nBeeps, bFails ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerStop, ::testing::Bool(),
                         [](const auto& info)
                         { return info.param ? "FailingFileNeverBeeps" : "AfterTheCurrentFile"; });

// Copied and repaired under a hidden name, only then the old file deleted: a
// failed copy keeps it.
TEST_P(AppControllerOverwrite, AsksBeforeReplacingAFile)
{
    const OverwriteCase& c = GetParam();
    prepare({"take1.wav", "take2.wav"});
    const fixture::Bytes old = fixture::ascii("the copy of an earlier run");
    if (c.bSameName)
        fixture::writeFile(dir / "take1.wav", damagedFile(2));
    c.bSameName ? chooseFiles({source / "take1.wav", dir / "take1.wav"})
                : fixture::writeFile(destination / "take1.wav", old);
    if (c.bSourceMissing)
        fs::remove(source / "take1.wav");
    platform.alertAnswer = c.answer;
    runBatch();
    const Strings alert = {"File Exists", "The file: take1.wav already exists! Overwrite file?",
                           "Yes", "No"};
    EXPECT_EQ(platform.alerts, std::vector<Strings>{alert});
    EXPECT_EQ(platform.nBeeps, 1);
    const Strings& log = platform.logLines;
    const std::string deleting = "Deleting " + (destination / "take1.wav").string();
    EXPECT_EQ(std::count(log.begin(), log.end(), deleting), c.bReplaced ? 1 : 0);
    EXPECT_EQ(fixture::readFile(destination / "take1.wav"),
              c.bReplaced ? repairedFile(44100, 24, c.bSameName ? 2 : 1) : old);
    if (c.bReplaced)
    {
        EXPECT_EQ(log.at(c.bSameName ? 7 : 4), deleting) << "after the question and the copy";
        EXPECT_EQ(platform.kinds, (std::vector<Kind>{Kind::Repaired, Kind::Repaired}));
        return;
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), kFailureLine), 1);
    EXPECT_EQ(platform.kinds, std::vector<Kind>{Kind::Failed}) << "the rest is not processed";
    EXPECT_EQ(listing(destination), Strings{"take1.wav"}) << "no temporary file is left";
}

INSTANTIATE_TEST_SUITE_P(, AppControllerOverwrite, ::testing::ValuesIn(kOverwriteCases), rowName);

TEST_P(AppControllerJobChecks, RefusesTheSameFileALongPathOrAHugeFileAndKeepsTheCopyWritable)
{
    const RefusalCase& c = GetParam();
    const std::string name = c.name;
    prepare({"a.wav"});
    const fs::path a = source / "a.wav";
    fs::path to = destination;
    if (name == "SymlinkedFolder")
        fs::create_directory_symlink(source, to = dir / "link");
    else if (name == "HardLink")
        fs::create_hard_link(a, to / "a.wav");
    else if (name == "FileOverFourGibibytes") // sparse: its size is what counts
        fs::resize_file(a, (uintmax_t{1} << 32) + 1);
    else if (name == "ReadOnlySource")
        fs::permissions(a, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto pathLength = [&] { return TemporaryCopy::pattern(to, "a.wav").string().size(); };
    for (std::size_t n; (n = c.nPathLength - std::min(pathLength(), c.nPathLength));)
        to /= std::string(n > 202 ? 200 : n - 1, 'd');
    fs::create_directories(to);
    chooseDestination(to);
    sampleRate.selectItemAtIndex(-1); // no item: the rate stays at its start value
    ASSERT_TRUE(go.bEnabled) << "the folders differ as strings";
    const auto nSize = fs::file_size(a);
    const auto permissions = fs::status(a).permissions();
    const Strings before = listing(to);
    runBatch();
    EXPECT_TRUE(platform.alerts.empty());
    EXPECT_EQ(fs::file_size(a), nSize);
    EXPECT_EQ(fs::status(a).permissions(), permissions);
    if (!*c.refusal)
    {
        EXPECT_EQ(platform.logLines.at(4), kClosingLine);
        EXPECT_EQ(fixture::readFile(to / "a.wav"), repairedFile(44100, 24));
        EXPECT_EQ(fs::status(to / "a.wav").permissions(), permissions | fs::perms::owner_write);
        return;
    }
    EXPECT_EQ(platform.logLines.at(4), c.refusal + (c.nPathLength ? to / "a.wav" : a).string());
    EXPECT_EQ(platform.logLines.at(5), kFailureLine);
    EXPECT_EQ(listing(to), before) << "nothing copied, no temporary file left";
    EXPECT_EQ(platform.kinds, std::vector<Kind>{Kind::Failed});
}

INSTANTIATE_TEST_SUITE_P(, AppControllerJobChecks, ::testing::ValuesIn(kRefusalCases), rowName);

TEST_F(AppControllerBatch, FileOperationsLogWhatTheyDoAndReportFailure)
{
    start();
    const std::string a = source / "a.wav", b = source / "b.wav";
    fixture::writeFile(a, damagedFile());
    fixture::writeFile(b, fixture::ascii("b"));
    EXPECT_FALSE(controller->copyFile(a, b)) << "never onto an existing file";
    EXPECT_EQ(fixture::readFile(b), fixture::ascii("b"));
    EXPECT_TRUE(controller->deleteFile(b));
    EXPECT_FALSE(controller->deleteFile(b));
    const Strings& log = platform.logLines;
    ASSERT_EQ(log.size(), 5u);
    EXPECT_NE(log[1].find("File exists"), std::string::npos) << log[1];
    EXPECT_NE(log[4].find("No such file"), std::string::npos) << log[4];
    EXPECT_EQ((Strings{log[0], log[2], log[3]}),
              (Strings{"Copying " + a + " to " + b, "Deleting " + b, "Deleting " + b}));
}
