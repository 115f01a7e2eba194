#include "RepairJob.h"
#include "TempDir.h"
#include "WavBuilder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace fixture;
using Answer = RepairJob::Answer;
using Kind = korva::FileOutcome::Kind;

namespace
{
const Bytes kBext = chunk("bext", bextBody(3600u * 48000)), kPcm = tone(500);
const Bytes kDamaged = riff({kBext, Bytes(24, 0), chunk("data", kPcm)});
const Bytes kRepaired = riff({kBext, fmtChunkMono(48000, 16), chunk("data", kPcm)});
const Bytes kOlder = ascii("an older copy");

// One job's scene: a source in src, the destination folder out, and what the
// row's arrangement made of them.
struct Scene
{
    TempDir dir;
    fs::path source = dir / "src" / "take.wav";
    fs::path destination = dir / "out";
    fs::path target() const { return destination / source.filename(); }
    std::function<void(Scene&)> onQuestion = [](Scene&) {};
    // Just before the copy is made: what changes under the job, or the plan spoilt.
    std::function<void(Scene&, RepairPlan&)> beforeCopy = [](Scene&, RepairPlan&) {};
    bool bSourceCut = false;     // the source was cut short on purpose
    bool bNameMadeLater = false; // the target appeared after the job looked
};

// What the destination holds afterwards.
enum class Holds
{
    Repaired, // the repaired file
    Source,   // the source's bytes
    Nothing,  // no file of that name
    Folder,   // the folder that stood there
};

struct JobCase
{
    const char* name;
    std::function<void(Scene&)> arrange;
    Kind kind;
    bool bStopsBatch;
    const char* detail; // how the outcome's detail begins
    Holds holds;
    mode_t nCopyMode = 0644; // under a umask of 022
};

// Sparse sources are large: their size and head stand for them.
std::pair<uintmax_t, Bytes> head(const fs::path& path)
{
    return {fs::file_size(path), readFile(path, 0, 1 << 16)};
}

const JobCase kJobCases[] = {
    {"RepairedUnderAFreeName", [](Scene&) {}, Kind::Repaired, false,
     "format chunk written over the remains of the lost one at 622: 48000 Hz, 16 bit, mono",
     Holds::Repaired},
    {"IntactCopiedByteForByte",
     [](Scene& s) {
         writeFile(s.source, riff({fmtChunkMono(48000, 16), kBext, chunk("data", kPcm)}));
     },
     Kind::Unchanged, false, "already has a format chunk", Holds::Source},
    // The question was answered Yes, but when the copy is to take the name a
    // folder stands there: the copy is dropped and the folder kept.
    {"NameTakenMeanwhile",
     [](Scene& s)
     {
         writeFile(s.target(), kOlder);
         s.onQuestion = [](Scene& scene)
         {
             fs::remove(scene.target());
             fs::create_directories(scene.target() / "keep");
         };
     },
     Kind::Failed, true, "the copy could not take its name: ", Holds::Folder},
    {"AFolderOfThatName", [](Scene& s) { fs::create_directories(s.target() / "keep"); },
     Kind::Failed, true, "a folder of that name stands in the destination", Holds::Folder},
    {"DestinationLinksToTheSourceFolder",
     [](Scene& s)
     {
         fs::remove(s.destination);
         fs::create_directory_symlink(s.source.parent_path(), s.destination);
     },
     Kind::Failed, true, "it is the source file itself", Holds::Source},
    {"HardLinkToTheSource", [](Scene& s) { fs::create_hard_link(s.source, s.target()); },
     Kind::Failed, true, "it is the source file itself", Holds::Source},
    {"SourceGone", [](Scene& s) { fs::remove(s.source); }, Kind::Failed, false,
     "it could not be read: it is no longer there", Holds::Nothing},
    {"SourceIsAFifo",
     [](Scene& s)
     {
         fs::remove(s.source);
         mkfifo(s.source.c_str(), 0600);
     },
     Kind::Failed, false, "it is not a regular file", Holds::Nothing},
    // Sparse: only its size counts.
    {"LargerThanRiffCanHold", [](Scene& s) { fs::resize_file(s.source, (uint64_t{1} << 32) + 9); },
     Kind::Failed, true, "it is larger than the 4 GiB a RIFF file can hold", Holds::Nothing},
    {"ReadOnlySource",
     [](Scene& s) { fs::permissions(s.source, fs::perms::owner_read | fs::perms::others_read); },
     Kind::Repaired, false, "format chunk written", Holds::Repaired, 0604},
    // The special bits go and the umask applies, as with cp.
    {"SetuidSetgidAndWritableByAll", [](Scene& s) { chmod(s.source.c_str(), 06777); },
     Kind::Repaired, false, "format chunk written", Holds::Repaired, 0755},
    {"StickyBit", [](Scene& s) { chmod(s.source.c_str(), 01666); }, Kind::Repaired, false,
     "format chunk written", Holds::Repaired, 0644},
    // An intact take copied byte for byte meets the source's early end: the
    // file fails alone and no short copy takes the name.
    {"SourceCutShortUnderTheCopy",
     [](Scene& s)
     {
         writeFile(s.source, riff({fmtChunkMono(48000, 16), kBext, chunk("data", tone(48000))}));
         s.beforeCopy = [](Scene& scene, RepairPlan&)
         {
             fs::resize_file(scene.source, fs::file_size(scene.source) / 2);
             scene.bSourceCut = true;
         };
     },
     Kind::Failed, false, "the source could not be read: it became shorter while it was copied",
     Holds::Nothing},
    // Another run names a file of the same name while the copy is made: the
    // answer (Yes) replaces it.
    {"NameTakenWhileCopied",
     [](Scene& s)
     {
         s.beforeCopy = [](Scene& scene, RepairPlan&)
         {
             writeFile(scene.target(), kOlder);
             scene.bNameMadeLater = true;
         };
     },
     Kind::Repaired, false, "format chunk written", Holds::Repaired},
    // A plan that leaves the new format chunk out makes a wrong copy, which
    // the check before naming keeps from the name.
    {"WrongPlanCaughtBeforeNaming",
     [](Scene& s) { s.beforeCopy = [](Scene&, RepairPlan& plan) { plan.patches.clear(); }; },
     Kind::Failed, false, "the repaired copy did not check out (", Holds::Nothing},
    {"LongestNameAFolderHolds",
     [](Scene& s)
     {
         const fs::path longest = s.source.parent_path() / (std::string(251, 'n') + ".wav");
         fs::rename(s.source, longest);
         s.source = longest;
     },
     Kind::Repaired, false, "format chunk written", Holds::Repaired},
    // The destination's full path must fit the file classes' 3000 bytes.
    {"DestinationPathTooLong",
     [](Scene& s)
     {
         while (s.target().native().size() < 3000)
             s.destination /=
                 std::string(std::min<std::size_t>(200, 3000 - s.target().native().size()), 'd');
         fs::create_directories(s.destination);
     },
     Kind::Failed, true, "its path in the destination is longer than 2999 bytes", Holds::Nothing},
};

class RepairJobRun : public ::testing::TestWithParam<JobCase>
{
};
} // namespace

// Every outcome a file can come to (the answers to the question are the front
// ends' rows): what the destination holds, whether the batch must stop, and that the source is as
// it was, the copy has the source's times, and no temporary file is left.
TEST_P(RepairJobRun, CopiesOnceRepairsAndNamesTheCopyOrSaysWhyNot)
{
    const JobCase& c = GetParam();
    umask(022);
    Scene s;
    fs::create_directories(s.source.parent_path());
    fs::create_directories(s.destination);
    writeFile(s.source, kDamaged);
    const timespec times[2] = {{1600000000, 5}, {1600000000, 123456789}};
    utimensat(AT_FDCWD, s.source.c_str(), times, 0);
    c.arrange(s);
    std::error_code ec;
    const bool bAsked =
        fs::is_regular_file(s.target()) && !fs::equivalent(s.target(), s.source, ec);
    struct stat before = {};
    stat(s.source.c_str(), &before);
    const auto sourceBytes =
        fs::is_regular_file(s.source) ? head(s.source) : std::pair<uintmax_t, Bytes>{};

    int nQuestions = 0;
    RepairJob job(
        s.destination, FormatChoice::Of({.nSampleRate = 48000, .nBitsPerSample = 16}),
        [&](const RepairJob::Question& question)
        {
            EXPECT_EQ(question.name, s.source.filename());
            ++nQuestions;
            s.onQuestion(s);
            return Answer::Yes;
        },
        [](const std::string&) {});
    job.SetBeforeCopy([&](RepairPlan& plan) { s.beforeCopy(s, plan); });
    const korva::FileOutcome outcome = job.Run(s.source, s.source.filename(), {});

    EXPECT_EQ(outcome.kind, c.kind) << outcome.detail;
    EXPECT_EQ(job.StopsBatch(), c.bStopsBatch);
    EXPECT_EQ(outcome.detail.substr(0, std::string_view(c.detail).size()), c.detail);
    EXPECT_EQ(outcome.destinationPath, s.target());
    EXPECT_EQ(nQuestions, bAsked || s.bNameMadeLater ? 1 : 0)
        << "asked only about a file standing there";
    struct stat after = {};
    if (sourceBytes.first > 0 && !s.bSourceCut)
    {
        EXPECT_TRUE(head(s.source) == sourceBytes) << "the source changed";
        stat(s.source.c_str(), &after);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
    for (const auto& entry : fs::directory_iterator(s.destination))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".korva-")) << entry.path();

    switch (c.holds)
    {
    case Holds::Repaired:
    case Holds::Source:
    {
        ASSERT_TRUE(fs::is_regular_file(s.target()));
        EXPECT_TRUE(
            head(s.target()) ==
            (c.holds == Holds::Repaired ? std::pair(kRepaired.size(), kRepaired) : sourceBytes));
        struct stat copy = {};
        stat(s.target().c_str(), &copy);
        if (c.kind == Kind::Failed)
            break; // the source itself, reached another way
        EXPECT_EQ(copy.st_mtim.tv_sec, before.st_mtim.tv_sec) << "the source's time is kept";
        EXPECT_EQ(copy.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(copy.st_mode & 07777, c.nCopyMode) << std::oct << copy.st_mode;
        break;
    }
    case Holds::Nothing:
        EXPECT_FALSE(fs::exists(s.target()));
        break;
    case Holds::Folder:
        EXPECT_TRUE(fs::is_directory(s.target() / "keep"));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, RepairJobRun, ::testing::ValuesIn(kJobCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Two takes of one batch whose destination names lead to one file (a FAT card
// folds upper and lower case; here a link folds two folders): the second fails
// without a question, and the first one's copy stays, even after Yes to All.
TEST(RepairJobBatch, NeverReplacesACopyItMadeItself)
{
    TempDir dir;
    const fs::path out = dir / "out";
    fs::create_directories(out / "2024-06-11");
    fs::create_directory_symlink(out / "2024-06-11", out / "2024-06-12");
    const std::vector<Bytes> takes = {
        kDamaged, riff({kBext, Bytes(24, 0), chunk("data", tone(500, 1, 16, false, 2))})};
    int nQuestions = 0;
    RepairJob job(
        out, FormatChoice::Of({.nSampleRate = 48000, .nBitsPerSample = 16}),
        [&](const RepairJob::Question&) { return ++nQuestions, Answer::YesToAll; },
        [](const std::string&) {});
    std::vector<korva::FileOutcome> outcomes;
    for (const char* day : {"2024-06-11", "2024-06-12"})
    {
        const fs::path source = dir / "card" / day / "SC12_T01.WAV";
        fs::create_directories(source.parent_path());
        writeFile(source, takes[outcomes.size()]);
        outcomes.push_back(job.Run(source, fs::path(day) / "SC12_T01.WAV", {}));
    }
    EXPECT_EQ(outcomes[0].kind, Kind::Repaired);
    EXPECT_EQ(outcomes[1].kind, Kind::Failed);
    EXPECT_TRUE(
        outcomes[1].detail.starts_with("another file of this batch was copied to that name"));
    EXPECT_FALSE(job.StopsBatch());
    EXPECT_EQ(nQuestions, 0);
    EXPECT_EQ(readFile(out / "2024-06-11/SC12_T01.WAV"), kRepaired);
}
