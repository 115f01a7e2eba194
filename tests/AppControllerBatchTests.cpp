#include "AudioFile.h"
#include "ControllerFixture.h"
#include "TemporaryCopy.h"

#include <future>
#include <thread>

namespace fs = std::filesystem;
using fixture::Bytes;
using Kind = korva::FileOutcome::Kind;
using Strings = std::vector<std::string>;

namespace
{
const std::string kFailureLine = "UHOH ---------------------------------------!!!!!!!";
const std::string kClosingLine = "==========================================";

// The three lines every job starts with.
Strings jobOpening(const fs::path& source, const fs::path& destination)
{
    return {"---- PATCHFILE Function ----", "Copy file = " + source.string(),
            "Copying " + source.string() + " to " + destination.string()};
}

void expectProgress(const std::vector<double>& actual, const std::vector<double>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_DOUBLE_EQ(actual[i], expected[i]) << "before file " << i + 1;
    EXPECT_EQ(actual.back(), 100.0) << "the last value is capped at exactly 100";
}

Strings concat(std::initializer_list<Strings> parts)
{
    Strings out;
    for (const Strings& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

class AppControllerBatch : public ControllerFixture
{
protected:
    // Lists names from "src" (each file with its own samples), chooses "dst".
    void prepare(const Strings& names)
    {
        start();
        source = folder("src");
        destination = folder("dst");
        Strings paths;
        for (std::size_t i = 0; i < names.size(); ++i)
            paths.push_back(writeFiles(source, {names[i]}, damagedFile(seed(i))).front());
        chooseFiles(paths);
        chooseDestination(destination);
        ASSERT_TRUE(window.start.enabled());
    }
    static uint32_t seed(std::size_t row) { return static_cast<uint32_t>(row) + 1; }

    std::vector<Kind> outcomeKinds() const
    {
        std::vector<Kind> kinds;
        for (const korva::FileOutcome& outcome : platform.outcomes())
            kinds.push_back(outcome.kind);
        return kinds;
    }

    fs::path source, destination;
};
} // namespace

TEST_F(AppControllerBatch, RepairsEveryFileAndResetsTheWindow)
{
    prepare({"a.wav", "b.wav", "c.wav"});
    window.sampleRate.selectItemAtIndex(1);
    window.resolution.selectItemAtIndex(0);
    std::vector<bool> patchingWhenEnabled;
    window.browse.onEnabledChange = [&]
    { patchingWhenEnabled.push_back(controller->isPatching()); };
    const int reloadsBefore = window.table.reloads();

    controller->DoPatch();
    EXPECT_EQ(window.batchControls(), std::vector<bool>(6, false));
    EXPECT_EQ(window.quitButton.title(), "Cancel");
    platform.joinWorkers();
    EXPECT_EQ(window.table.rows().size(), 3u) << "the list stays until the interface thread resets";
    EXPECT_EQ(platform.pumpInterfaceQueue(), 1);

    EXPECT_EQ(window.batchControls(), (std::vector<bool>{false, true, true, true, true, true}));
    EXPECT_EQ(window.quitButton.title(), "Quit");
    EXPECT_EQ(patchingWhenEnabled, (std::vector<bool>{true, false}))
        << "disabled once the batch runs, enabled again only after the flags were cleared";
    EXPECT_TRUE(window.table.rows().empty());
    EXPECT_EQ(window.table.reloads(), reloadsBefore + 1);
    EXPECT_FALSE(controller->isPatching());
    EXPECT_EQ(platform.beeps(), 0);

    const Strings names = {"a.wav", "b.wav", "c.wav"};
    Strings expectedLog = {"Start the thread"};
    for (std::size_t i = 0; i < names.size(); ++i)
    {
        expectedLog = concat({expectedLog, jobOpening(source / names[i], destination / names[i])});
        EXPECT_EQ(fixture::readFile(destination / names[i]), repairedFile(48000, 16, seed(i)));
        EXPECT_EQ(fixture::readFile(source / names[i]), damagedFile(seed(i)));
    }
    expectedLog.push_back(kClosingLine);
    EXPECT_EQ(platform.logLines(), expectedLog);
    EXPECT_EQ(listing(destination), names) << "no temporary file is left";
    expectProgress(platform.progress(), {100.0 / 3, 200.0 / 3, 100.0});
    EXPECT_EQ(controller->progressValue(), 100.0);

    const auto outcomes = platform.outcomes();
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[1].sourcePath, (source / "b.wav").string());
    EXPECT_EQ(outcomes[1].destinationPath, (destination / "b.wav").string());
    EXPECT_EQ(outcomes[1].kind, Kind::Repaired);
    EXPECT_EQ(outcomes[1].detail, "fmt chunk written behind bext");
    EXPECT_EQ(controller->sampleRateIndex(), 1);
    EXPECT_EQ(controller->resolutionIndex(), 0);
}

namespace
{
class AppControllerProgress
    : public AppControllerBatch,
      public ::testing::WithParamInterface<std::pair<int, std::vector<double>>>
{
};
} // namespace

TEST_P(AppControllerProgress, IsSetBeforeEachFileAndCappedAtOneHundred)
{
    const auto& [n, expected] = GetParam();
    Strings names;
    for (int i = 0; i < n; ++i)
        names.push_back("f" + std::to_string(i) + ".wav");
    prepare(names);
    runBatch();
    expectProgress(platform.progress(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    , AppControllerProgress,
    ::testing::Values(std::pair<int, std::vector<double>>{1, {100.0}},
                      std::pair<int, std::vector<double>>{
                          6, {100.0 / 6, 200.0 / 6, 50.0, 400.0 / 6, 500.0 / 6, 100.0}}),
    [](const auto& info) { return std::to_string(info.param.first) + "Files"; });

TEST_F(AppControllerBatch, EmptyListRestoresEveryControlAndStartsNoThread)
{
    start();
    chooseDestination(folder("dst"));
    // A cancelled file chooser with a destination set enables the start control.
    platform.answerPanel(std::nullopt);
    controller->GetFilesForFixin();
    ASSERT_TRUE(window.start.enabled());

    controller->DoPatch();
    EXPECT_EQ(window.batchControls(), std::vector<bool>(6, true));
    EXPECT_EQ(window.quitButton.title(), "Quit");
    EXPECT_FALSE(controller->isPatching());
    const std::string text = "\nArray empty - nothing to process - no files found.\n";
    EXPECT_EQ(controller->progressText(), text);
    EXPECT_EQ(platform.statuses(), Strings{text});
    EXPECT_EQ(platform.workersStarted(), 0);
    EXPECT_TRUE(platform.logLines().empty());
}

namespace
{
struct StopCase
{
    const char* name;
    bool bSecondFails;
    int nBeeps;
    std::vector<Kind> outcomes;
    bool bFailureLine;
};

const StopCase kStopCases[] = {
    {"AfterTheCurrentFile", false, 1, {Kind::Repaired, Kind::Repaired}, false},
    {"FailingFileNeverBeeps", true, 0, {Kind::Repaired, Kind::Failed}, true},
};

class AppControllerStop : public AppControllerBatch, public ::testing::WithParamInterface<StopCase>
{
};
} // namespace

TEST_P(AppControllerStop, StopDuringTheSecondOfFiveFiles)
{
    const StopCase& c = GetParam();
    prepare({"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"});
    if (c.bSecondFails)
        fs::remove(source / "2.wav");
    // The worker waits before the second job until this thread has asked to stop.
    std::promise<void> reached, stopped;
    platform.onProgress = [&, nCalls = 0](double) mutable
    {
        if (++nCalls != 2)
            return;
        reached.set_value();
        stopped.get_future().wait();
    };
    controller->DoPatch();
    reached.get_future().wait();
    controller->OnCancel();
    stopped.set_value();
    platform.joinWorkers();
    platform.pumpInterfaceQueue();

    EXPECT_EQ(platform.beeps(), c.nBeeps);
    EXPECT_EQ(outcomeKinds(), c.outcomes);
    const Strings log = platform.logLines();
    EXPECT_EQ(std::count(log.begin(), log.end(), kFailureLine), c.bFailureLine ? 1 : 0);
    EXPECT_EQ(log.back(), kClosingLine);
    const Strings expectedCopies = c.bSecondFails ? Strings{"1.wav"} : Strings{"1.wav", "2.wav"};
    EXPECT_EQ(listing(destination), expectedCopies);
    EXPECT_TRUE(window.table.rows().empty());
    EXPECT_FALSE(window.start.enabled());
    EXPECT_FALSE(controller->isPatching());

    // The stop request does not outlive its batch.
    chooseFiles({(source / "3.wav").string(), (source / "4.wav").string()});
    runBatch();
    EXPECT_EQ(listing(destination).size(), c.bSecondFails ? 3u : 4u);
    EXPECT_EQ(platform.beeps(), c.nBeeps);
}

INSTANTIATE_TEST_SUITE_P(, AppControllerStop, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppControllerBatch, InterfaceThreadReadsAndStopsWhileTheWorkerRuns)
{
    prepare({"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"});
    controller->DoPatch();
    double lastSeen = 0.0;
    for (int i = 0; i < 1000 && controller->isPatching(); ++i)
    {
        // A window polls the progress while the worker writes it.
        const double seen = controller->progressValue();
        EXPECT_GE(seen, lastSeen);
        lastSeen = seen;
        EXPECT_FALSE(controller->validateMenuItem(window.quitItem));
        if (i == 10)
            controller->OnCancel();
        std::this_thread::yield();
    }
    platform.joinWorkers();
    platform.pumpInterfaceQueue();

    // Wherever the request landed, every started file was finished and copied.
    const std::size_t nDone = platform.outcomes().size();
    EXPECT_EQ(listing(destination).size(), nDone);
    if (nDone < 5)
    {
        EXPECT_EQ(platform.beeps(), 1) << "only the stop request ends this batch early";
    }
    EXPECT_LE(platform.beeps(), 1);
    EXPECT_EQ(platform.logLines().back(), kClosingLine);

    chooseFiles({(source / "1.wav").string()});
    platform.answerAlert(korva::AlertButton::Default);
    runBatch();
    EXPECT_EQ(platform.outcomes().back().kind, Kind::Repaired)
        << "the request ended with its batch";
}

TEST_F(AppControllerBatch, StopWithoutABatchChangesNothing)
{
    prepare({"a.wav", "b.wav"});
    controller->OnCancel();
    runBatch();
    EXPECT_EQ(platform.beeps(), 0);
    EXPECT_EQ(outcomeKinds(), (std::vector<Kind>{Kind::Repaired, Kind::Repaired}));
}

TEST_F(AppControllerBatch, FailedCopyStopsTheBatchAndLeavesNothingBehind)
{
    prepare({"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"});
    fs::remove(source / "2.wav");
    runBatch();

    const Strings log = platform.logLines();
    const Strings expectedStart = concat({{"Start the thread"},
                                          jobOpening(source / "1.wav", destination / "1.wav"),
                                          jobOpening(source / "2.wav", destination / "2.wav")});
    ASSERT_EQ(log.size(), expectedStart.size() + 3);
    EXPECT_TRUE(std::equal(expectedStart.begin(), expectedStart.end(), log.begin()));
    EXPECT_NE(log[expectedStart.size()].find("copy_file"), std::string::npos) << log[7];
    EXPECT_EQ(log[expectedStart.size() + 1], kFailureLine);
    EXPECT_EQ(log[expectedStart.size() + 2], kClosingLine);
    EXPECT_EQ(platform.beeps(), 0);
    EXPECT_EQ(listing(destination), Strings{"1.wav"});
    EXPECT_EQ(platform.outcomes().at(1).detail, log[expectedStart.size()]);
}

// Recordings from archive media are often read-only: the copy keeps their
// permissions but stays writable for its owner, so that it can be repaired.
TEST_F(AppControllerBatch, ReadOnlySourceGivesAWritableRepairedCopy)
{
    prepare({"archive.wav"});
    fs::permissions(source / "archive.wav",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    runBatch();

    EXPECT_EQ(fs::status(source / "archive.wav").permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(fs::status(destination / "archive.wav").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_EQ(fixture::readFile(destination / "archive.wav"), repairedFile(44100, 24, seed(0)));
    EXPECT_EQ(fixture::readFile(source / "archive.wav"), damagedFile(seed(0)));
}

namespace
{
struct OverwriteCase
{
    const char* name;
    korva::AlertButton answer;
    bool bSourceMissing;
    bool bReplaced;
};

const OverwriteCase kOverwriteCases[] = {
    {"Yes", korva::AlertButton::Default, false, true},
    {"No", korva::AlertButton::Alternate, false, false},
    {"YesButTheCopyFails", korva::AlertButton::Default, true, false},
};

class AppControllerOverwrite : public AppControllerBatch,
                               public ::testing::WithParamInterface<OverwriteCase>
{
};
} // namespace

TEST_P(AppControllerOverwrite, AsksBeforeReplacingAFile)
{
    const OverwriteCase& c = GetParam();
    prepare({"take1.wav", "take2.wav"});
    const Bytes old = fixture::ascii("the copy of an earlier run");
    fixture::writeFile(destination / "take1.wav", old);
    if (c.bSourceMissing)
        fs::remove(source / "take1.wav");
    platform.answerAlert(c.answer);
    runBatch();

    const auto alerts = platform.alerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "File Exists");
    EXPECT_EQ(alerts[0].message, "The file: take1.wav already exists! Overwrite file?");
    EXPECT_EQ(alerts[0].defaultButton, "Yes");
    EXPECT_EQ(alerts[0].alternateButton, "No");
    EXPECT_EQ(platform.beeps(), 1);

    const Strings log = platform.logLines();
    const std::string deleting = "Deleting " + (destination / "take1.wav").string();
    EXPECT_EQ(std::count(log.begin(), log.end(), deleting), c.bReplaced ? 1 : 0);
    EXPECT_EQ(fixture::readFile(destination / "take1.wav"),
              c.bReplaced ? repairedFile(44100, 24, 1) : old);
    if (c.bReplaced)
    {
        EXPECT_EQ(log[4], deleting) << "after the question and the copy, before the next file";
        EXPECT_EQ(outcomeKinds(), (std::vector<Kind>{Kind::Repaired, Kind::Repaired}));
    }
    else
    {
        EXPECT_EQ(std::count(log.begin(), log.end(), kFailureLine), 1);
        EXPECT_EQ(outcomeKinds(), std::vector<Kind>{Kind::Failed});
        EXPECT_EQ(listing(destination), Strings{"take1.wav"});
    }
}

INSTANTIATE_TEST_SUITE_P(, AppControllerOverwrite, ::testing::ValuesIn(kOverwriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppControllerBatch, SecondRowOfTheSameNameAsksToReplaceTheFirst)
{
    start();
    const fs::path one = folder("one");
    const fs::path two = folder("two");
    destination = folder("dst");
    chooseFiles({writeFiles(one, {"take.wav"}, damagedFile(1)).front(),
                 writeFiles(two, {"take.wav"}, damagedFile(2)).front()});
    chooseDestination(destination);
    platform.answerAlert(korva::AlertButton::Default);
    runBatch();

    ASSERT_EQ(platform.alerts().size(), 1u);
    EXPECT_EQ(fixture::readFile(destination / "take.wav"), repairedFile(44100, 24, 2));
    EXPECT_EQ(listing(destination), Strings{"take.wav"});
}

TEST_F(AppControllerBatch, RepairOutcomesReachThePlatform)
{
    start();
    source = folder("src");
    destination = folder("dst");
    const Bytes withFormat = fixture::bwf(48000, 24, fixture::samples(60));
    const Bytes noBext =
        fixture::riff({fixture::Bytes(24, 0), fixture::chunk("data", fixture::samples(60))});
    const Bytes live = fixture::riff({fixture::chunk("bext", fixture::bextBody(7)),
                                      fixture::chunk("data", fixture::samples(60))});
    fixture::writeFile(source / "has-fmt.wav", withFormat);
    fixture::writeFile(source / "no-bext.wav", noBext);
    fixture::writeFile(source / "live.wav", live);
    chooseFiles({(source / "has-fmt.wav").string(), (source / "no-bext.wav").string(),
                 (source / "live.wav").string()});
    chooseDestination(destination);
    window.sampleRate.selectItemAtIndex(-1);
    runBatch();

    EXPECT_EQ(outcomeKinds(),
              (std::vector<Kind>{Kind::Unchanged, Kind::Unchanged, Kind::Repaired}));
    EXPECT_EQ(platform.outcomes().at(0).detail, "already has a format chunk");
    EXPECT_EQ(platform.outcomes().at(1).detail, "no bext chunk");
    EXPECT_EQ(platform.outcomes().at(2).detail, "fmt chunk inserted behind bext");
    EXPECT_EQ(fixture::readFile(destination / "has-fmt.wav"), withFormat);
    EXPECT_EQ(fixture::readFile(destination / "no-bext.wav"), noBext);
    // No sample-rate item selected: the rate stays at its start value.
    EXPECT_EQ(controller->sampleRateIndex(), -1);
    EXPECT_EQ(fixture::readFile(destination / "live.wav"),
              fixture::riff({fixture::chunk("bext", fixture::bextBody(7)),
                             fixture::fmtChunkMono(44100, 24),
                             fixture::chunk("data", fixture::samples(60))}));
}

namespace
{
// How the destination folder comes to name the source file itself.
struct SameFileCase
{
    const char* name;
    void (*arrange)(const fs::path& source, const fs::path& root, fs::path& destination);
};

const SameFileCase kSameFileCases[] = {
    {"SymlinkedFolder",
     [](const fs::path& source, const fs::path& root, fs::path& destination)
     {
         destination = root / "link";
         fs::create_directory_symlink(source, destination);
     }},
    {"HardLink",
     [](const fs::path& source, const fs::path& root, fs::path& destination)
     {
         destination = root / "linked";
         fs::create_directory(destination);
         fs::create_hard_link(source / "a.wav", destination / "a.wav");
     }},
};

class AppControllerSameFile : public AppControllerBatch,
                              public ::testing::WithParamInterface<SameFileCase>
{
};
} // namespace

TEST_P(AppControllerSameFile, NeverTouchesTheSource)
{
    start();
    source = folder("src");
    chooseFiles(writeFiles(source, {"a.wav"}));
    GetParam().arrange(source, dir.path(), destination);
    chooseDestination(destination);
    ASSERT_TRUE(window.start.enabled()) << "the folders differ as strings";
    runBatch();

    const Strings log = platform.logLines();
    EXPECT_EQ(log.at(4),
              "Source and destination are the same file: " + (source / "a.wav").string());
    EXPECT_EQ(log.at(5), kFailureLine);
    EXPECT_TRUE(platform.alerts().empty());
    EXPECT_EQ(fixture::readFile(source / "a.wav"), damagedFile());
    EXPECT_EQ(listing(source), Strings{"a.wav"});
    EXPECT_EQ(outcomeKinds(), std::vector<Kind>{Kind::Failed});
}

INSTANTIATE_TEST_SUITE_P(, AppControllerSameFile, ::testing::ValuesIn(kSameFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

namespace
{
class AppControllerPathLimit : public AppControllerBatch,
                               public ::testing::WithParamInterface<std::size_t>
{
};
} // namespace

// The copy is repaired as ".korva-a.wav.XXXXXX" in the destination folder, so
// that path, the longer one, must fit the file classes' path buffers.
TEST_P(AppControllerPathLimit, DestinationPathMustFitTheFileClasses)
{
    const std::size_t nTemporaryLength = GetParam();
    prepare({"a.wav"});
    fs::path to = destination;
    const std::size_t nTemporaryExtra = std::string("/.korva-a.wav.XXXXXX").size();
    std::size_t nLeft = nTemporaryLength - nTemporaryExtra - to.string().size();
    while (nLeft > 0)
    {
        const std::size_t nPart = nLeft > 202 ? 200 : nLeft - 1;
        to /= std::string(nPart, 'd');
        nLeft -= nPart + 1;
    }
    fs::create_directories(to);
    ASSERT_EQ(TemporaryCopy::pattern(to, "a.wav").string().size(), nTemporaryLength);
    chooseDestination(to);
    runBatch();

    const bool bFits = nTemporaryLength < CAudioFile::kPathCapacity;
    const std::string tooLong = "Destination path too long: " + (to / "a.wav").string();
    EXPECT_EQ(platform.logLines().at(4), bFits ? kClosingLine : tooLong);
    if (bFits)
        EXPECT_EQ(fixture::readFile(to / "a.wav"), repairedFile(44100, 24));
    else
        EXPECT_TRUE(fs::is_empty(to));
}

INSTANTIATE_TEST_SUITE_P(, AppControllerPathLimit,
                         ::testing::Values(CAudioFile::kPathCapacity - 1,
                                           CAudioFile::kPathCapacity));

TEST_F(AppControllerBatch, FilesOverFourGibibytesAreRefusedBeforeCopying)
{
    prepare({"big.wav"});
    // A sparse file: its size is what counts, and it costs no disk space.
    fs::resize_file(source / "big.wav", (uintmax_t{1} << 32) + 1);
    runBatch();
    const Strings log = platform.logLines();
    EXPECT_EQ(log.at(4), "File larger than 4 GiB, not copied: " + (source / "big.wav").string());
    EXPECT_EQ(log.at(5), kFailureLine);
    EXPECT_TRUE(fs::is_empty(destination));
    EXPECT_EQ(outcomeKinds(), std::vector<Kind>{Kind::Failed});
}

TEST_F(AppControllerBatch, FileManagerOperationsReportFailure)
{
    start();
    const fs::path where = folder("ops");
    const Bytes original = damagedFile(3);
    fixture::writeFile(where / "a.wav", original);
    fixture::writeFile(where / "b.wav", fixture::ascii("b"));

    EXPECT_FALSE(controller->copyFile((where / "a.wav").string(), (where / "b.wav").string()));
    EXPECT_EQ(fixture::readFile(where / "b.wav"), fixture::ascii("b")) << "an existing file stays";
    EXPECT_TRUE(controller->copyFile((where / "a.wav").string(), (where / "c.wav").string()));
    EXPECT_EQ(fixture::readFile(where / "c.wav"), original);
    EXPECT_TRUE(controller->deleteFile((where / "c.wav").string()));
    EXPECT_FALSE(fs::exists(where / "c.wav"));
    EXPECT_FALSE(controller->deleteFile((where / "c.wav").string()));

    const Strings log = platform.logLines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0],
              "Copying " + (where / "a.wav").string() + " to " + (where / "b.wav").string());
    EXPECT_NE(log[1].find("File exists"), std::string::npos) << log[1];
    EXPECT_EQ(log[3], "Deleting " + (where / "c.wav").string());
    EXPECT_EQ(log[4], "Deleting " + (where / "c.wav").string());
    EXPECT_NE(log[5].find("No such file"), std::string::npos) << log[5];
}
