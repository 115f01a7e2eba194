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

// Set up by its name, what the job meets at a.wav, with b.wav listed behind it.
struct JobCase
{
    const char* name;
    const char* line;            // how the job's own line begins (nullptr: none),
    bool bSourceNamed;           // then the source's path, or the destination's
    bool bAsked;                 // to replace a file: Yes, but No in "OverwriteNo"
    bool bRepaired;              // a.wav, then b.wav; else the batch stops at a.wav
    std::size_t nPathLength = 0; // of the temporary path
};

const JobCase kJobCases[] = {
    {"OverwriteYes", "Deleting ", false, true, true},
    {"OverwriteNo", nullptr, false, true, false},
    // A folder that cannot be removed: the repaired copy goes too.
    {"OverwriteYesButTheOldFileStays", "Deleting ", false, true, false},
    // Copied and repaired under a hidden name, only then the old file deleted.
    {"OverwriteYesButTheCopyFails", "filesystem error: copy_file: No such file or directory [",
     true, true, false},
    // a.wav from another folder, then from src: the second replaces the first.
    {"SecondRowOfTheSameName", "Deleting ", false, true, true},
    {"SymlinkedFolder", "Source and destination are the same file: ", true, false, false},
    {"HardLink", "Source and destination are the same file: ", true, false, false},
    {"FileOverFourGibibytes", "File larger than 4 GiB, not copied: ", true, false, false},
    {"TemporaryPathJustFits", nullptr, false, false, true, CAudioFile::kPathCapacity - 1},
    // From archive media: the copy stays writable for its owner, to be repaired.
    {"ReadOnlySource", nullptr, false, false, true},
    {"TemporaryPathTooLong", "Destination path too long: ", false, false, false,
     CAudioFile::kPathCapacity},
};
using AppControllerRun = ControllerFixture<BatchCase>;
using AppControllerStop = ControllerFixture<>;
using AppControllerJob = ControllerFixture<JobCase>;

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
        EXPECT_EQ(platform.outcomes[i].sourcePath, source / c.files[i]);
        EXPECT_EQ(platform.outcomes[i].destinationPath, destination / c.files[i]);
        EXPECT_EQ(platform.outcomes[i].detail,
                  "format chunk written over the remains of the lost one at 622");
        EXPECT_DOUBLE_EQ(platform.progress.at(i), c.progress[i]) << "before file " << i + 1;
    }
    EXPECT_EQ(platform.progress.back(), 100.0) << "the last value is exactly 100";

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
    EXPECT_EQ(platform.statuses, Strings{text});
    EXPECT_TRUE(platform.workers.empty());
    EXPECT_EQ(platform.logLines, log);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerRun, ::testing::ValuesIn(kBatchCases), rowName);

TEST_F(AppControllerStop, AfterTheCurrentFileWithABeep)
{
    prepare({"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"});
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
    EXPECT_EQ(platform.nBeeps, 1);
    EXPECT_EQ(platform.kinds, (std::vector<Kind>{Kind::Repaired, Kind::Repaired}));
    Strings log = openingLines(source, destination, {"1.wav", "2.wav"});
    log.push_back(kClosingLine);
    EXPECT_EQ(platform.logLines, log);
    EXPECT_EQ(listing(destination), (Strings{"1.wav", "2.wav"}));
    // The stop request does not outlive its batch.
    chooseFiles({source / "3.wav", source / "4.wav"});
    runBatch();
    EXPECT_EQ(listing(destination).size(), 4u);
    EXPECT_EQ(platform.nBeeps, 1);
}

TEST_P(AppControllerJob, AsksBeforeReplacingRefusesWhatItMustAndKeepsTheCopyWritable)
{
    const JobCase& c = GetParam();
    const std::string name = c.name;
    prepare({"a.wav", "b.wav"});
    const fs::path a = source / "a.wav";
    const fixture::Bytes old = fixture::ascii("the copy of an earlier run");
    fs::path to = destination;
    const fs::path kept = // the existing file, which a failing job keeps
        to / (name == "OverwriteYesButTheOldFileStays" ? "a.wav/a.wav" : "a.wav");
    if (name.starts_with("Overwrite"))
    {
        fs::create_directories(kept.parent_path());
        fixture::writeFile(kept, old);
    }
    if (name == "OverwriteYesButTheCopyFails")
        fs::remove(a);
    else if (name == "SecondRowOfTheSameName")
    {
        fixture::writeFile(dir / "a.wav", damagedFile(2));
        chooseFiles({dir / "a.wav", a});
    }
    else if (name == "SymlinkedFolder")
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
    if (name != "OverwriteNo")
        platform.alertAnswer = korva::AlertButton::Default;
    if (!c.bRepaired) // a stop asked for as well: a failing file never beeps
        platform.onProgress = [&](double) { controller->OnCancel(); };
    std::error_code ec; // a missing source has no size
    const auto nSize = fs::file_size(a, ec);
    const auto permissions = fs::status(a).permissions();
    const Strings before = listing(to);
    runBatch();

    const Strings question = {"The file: a.wav already exists! Overwrite file?"};
    EXPECT_EQ(platform.alerts, c.bAsked ? question : Strings{});
    EXPECT_EQ(platform.nBeeps, c.bAsked ? 1 : 0) << "a beep before the question, no other";
    EXPECT_EQ(fs::file_size(a, ec), nSize);
    EXPECT_EQ(fs::status(a).permissions(), permissions);
    // The line after a.wav's opening lines: the job's own, then the failure line.
    const Strings& log = platform.logLines;
    const std::string copying = "Copying " + a.string() + " to " + (to / "a.wav").string();
    std::size_t next = std::find(log.begin(), log.end(), copying) - log.begin() + 1;
    if (c.line)
    {
        const std::string line = c.line + (c.bSourceNamed ? a : to / "a.wav").string();
        EXPECT_EQ(log.at(next++).substr(0, line.size()), line);
    }
    if (name == "OverwriteYesButTheOldFileStays") // then the folder's error
    {
        const std::string error = "filesystem error: remove: Directory not empty [";
        EXPECT_EQ(log.at(next++), error + (to / "a.wav").string() + "]");
    }
    EXPECT_EQ(log.at(next) == kFailureLine, !c.bRepaired) << log.at(next);
    if (!c.bRepaired)
    {
        EXPECT_EQ(platform.kinds, std::vector<Kind>{Kind::Failed}) << "the rest is not processed";
        EXPECT_EQ(listing(to), before) << "nothing copied, no temporary file left";
        EXPECT_TRUE(!c.bAsked || fixture::readFile(kept) == old) << "the old file kept";
        return;
    }
    EXPECT_EQ(platform.kinds, (std::vector<Kind>{Kind::Repaired, Kind::Repaired}));
    EXPECT_EQ(fixture::readFile(to / "a.wav"), repairedFile(44100, 24));
    EXPECT_EQ(fs::status(to / "a.wav").permissions(), permissions | fs::perms::owner_write);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerJob, ::testing::ValuesIn(kJobCases), rowName);
