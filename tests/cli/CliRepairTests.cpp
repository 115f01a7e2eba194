#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "CliProcess.h"
#include "KorvaWav.h"
#include "OutsideDecoders.h"
#include "TempDir.h"
#include "WavBuilder.h"

using namespace fixture;
namespace fs = std::filesystem;

namespace
{
// The two ways a file loses its format chunk behind bext: zeroed where it
// stood (the repair writes over the remains), or gone (the repair inserts).
enum class Damage
{
    FmtZeroed,
    FmtGone,
};

constexpr std::size_t kBextEnd = 12 + 8 + 602; // where the lost fmt chunk stood

Bytes damagedBwf(const Bytes& pcm, Damage damage)
{
    const Bytes bext = chunk("bext", bextBody(48000u * 3600));
    if (damage == Damage::FmtZeroed)
        return riff({bext, Bytes(KorvaWavFile::kFormatChunkSize, 0), chunk("data", pcm, true)});
    return riff({bext, chunk("data", pcm, true)});
}

// What the repair must make of a FmtZeroed file.
Bytes repairedBwf(Bytes file, uint32_t rate, uint16_t bits)
{
    const Bytes fmt = fmtChunkMono(rate, bits);
    std::copy(fmt.begin(), fmt.end(), file.begin() + kBextEnd);
    return file;
}

// Sources live in src, copies go to out; every byte of every source (read-only
// ones included) is compared before and after each test.
class CliRepair : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directory(src);
        fs::create_directory(out);
    }

    void TearDown() override
    {
        for (const auto& [path, bytes] : m_sources)
            EXPECT_EQ(readFile(path), bytes) << "source changed: " << path;
    }

    fs::path addSource(const std::string& name, const Bytes& bytes, bool bReadOnly = false)
    {
        const fs::path path = src / name;
        writeFile(path, bytes);
        if (bReadOnly)
            chmod(path.c_str(), 0444);
        m_sources[path] = bytes;
        return path;
    }

    static std::vector<std::string> repairArgs(const std::vector<std::string>& extra)
    {
        std::vector<std::string> args{"repair"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    CliProcess::Result repair(const std::vector<std::string>& extra)
    {
        return CliProcess::run(repairArgs(extra));
    }

    std::vector<std::string> filesIn(const fs::path& folder) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const fs::path src = dir / "src";
    const fs::path out = dir / "out";

private:
    std::map<fs::path, Bytes> m_sources;
};

struct DecodeCase
{
    const char* name;
    uint32_t rate;
    uint16_t bits;
    Damage damage;
};

class CliRepairDecodes : public CliRepair, public ::testing::WithParamInterface<DecodeCase>
{
};
} // namespace

// The copies that korva-cli repairs are read by three decoders that know
// nothing of this project, with the chosen format and the original samples.
TEST_P(CliRepairDecodes, OutsideDecodersReadTheChosenFormatAndTheOriginalSamples)
{
    const DecodeCase& c = GetParam();
    const uint16_t blockAlign = c.bits / 8;
    const Bytes pcm = samples(blockAlign * 4801u, c.rate);
    const fs::path source = addSource("take.wav", damagedBwf(pcm, c.damage), true);

    const auto result = repair({"--dest", out, "--rate", std::to_string(c.rate), "--bits",
                                std::to_string(c.bits), source});
    ASSERT_EQ(result.status, 0) << result.err;
    const fs::path copy = out / "take.wav";
    const char* detail = c.damage == Damage::FmtZeroed ? "fmt chunk written behind bext"
                                                       : "fmt chunk inserted behind bext";
    EXPECT_EQ(result.outLines(),
              std::vector<std::string>{"repaired\t" + copy.string() + "\t" + detail + ": " +
                                       std::to_string(c.rate) + " Hz, " + std::to_string(c.bits) +
                                       " bit, mono"});

    for (const auto& [tool, format] :
         {std::pair{"sndfile-info", decoders::sndfileInfo(copy)},
          std::pair{"soxi", decoders::soxi(copy)}, std::pair{"ffprobe", decoders::ffprobe(copy)}})
    {
        SCOPED_TRACE(tool);
        EXPECT_EQ(format.rate, c.rate);
        EXPECT_EQ(format.bits, c.bits);
        EXPECT_EQ(format.channels, 1);
    }
    EXPECT_EQ(decoders::soxSamples(copy), pcm);
    if (c.damage == Damage::FmtZeroed)
    {
        EXPECT_EQ(readFile(copy), repairedBwf(readFile(source), c.rate, c.bits));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CliRepairDecodes,
    ::testing::Values(DecodeCase{"At44100x16Zeroed", 44100, 16, Damage::FmtZeroed},
                      DecodeCase{"At48000x24Gone", 48000, 24, Damage::FmtGone},
                      DecodeCase{"At88200x16Gone", 88200, 16, Damage::FmtGone},
                      DecodeCase{"At96000x24Zeroed", 96000, 24, Damage::FmtZeroed},
                      DecodeCase{"At128000x24Zeroed", 128000, 24, Damage::FmtZeroed}),
    [](const auto& info) { return std::string(info.param.name); });

// Real recordings: the samples of the system's alsa sounds, made into
// Broadcast Wave files and damaged, come back sample for sample.
TEST_F(CliRepair, AlsaSoundsComeBackSampleForSample)
{
    const fs::path alsa = "/usr/share/sounds/alsa";
    if (!fs::is_directory(alsa))
        GTEST_SKIP() << "no alsa sounds on this machine";
    std::vector<std::string> args{"--dest", out, "--rate", "48000", "--bits", "16"};
    std::map<std::string, fs::path> originals;
    for (const auto& entry : fs::directory_iterator(alsa))
    {
        CWavFile original(entry.path().c_str());
        if (original.m_nChannels != 1 || original.m_nBitsPerSample != 16 ||
            original.m_nSampleRate != 48000)
            continue;
        const Bytes bytes = readFile(entry.path());
        const auto dataStart = bytes.begin() + static_cast<long>(original.m_nDataOffset + 8);
        const Bytes pcm(dataStart, dataStart + static_cast<long>(original.m_nDataLength));
        const std::string name = entry.path().filename().string();
        args.push_back(addSource(name, damagedBwf(pcm, Damage::FmtZeroed), true));
        originals[name] = entry.path();
    }
    ASSERT_FALSE(originals.empty());

    const auto result = repair(args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.outLines().size(), originals.size());
    for (const auto& [name, original] : originals)
    {
        SCOPED_TRACE(name);
        const fs::path copy = out / name;
        const auto format = decoders::sndfileInfo(copy);
        EXPECT_EQ(format.rate, 48000u);
        EXPECT_EQ(format.bits, 16);
        EXPECT_EQ(format.channels, 1);
        EXPECT_EQ(decoders::soxSamples(copy), decoders::soxSamples(original));
    }
}

// What a script sees for files the repair leaves as they are: each copy is
// the source byte for byte, and the batch still counts as run through.
TEST_F(CliRepair, FilesLeftUnchangedSayWhy)
{
    const Bytes intact = riff({chunk("fmt ", fmtPcm(1, 48000, 24)), chunk("bext", bextBody(1)),
                               chunk("data", samples(30))});
    const Bytes noBext = riff({Bytes(24, 0), chunk("data", samples(30))});
    const auto result = repair({"--dest", out, "--rate", "48000", "--bits", "24",
                                addSource("intact.wav", intact), addSource("nobext.wav", noBext)});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.outLines(),
              (std::vector<std::string>{
                  "unchanged\t" + (out / "intact.wav").string() + "\talready has a format chunk",
                  "unchanged\t" + (out / "nobext.wav").string() + "\tno bext chunk"}));
    EXPECT_EQ(readFile(out / "intact.wav"), intact);
    EXPECT_EQ(readFile(out / "nobext.wav"), noBext);
}

// Arguments the controller does not list get a line on standard error; the
// library's trace reaches standard output only with --trace.
TEST_F(CliRepair, SkippedArgumentsAndTheTrace)
{
    const fs::path wav = addSource("a.WaV", damagedBwf(samples(20), Damage::FmtGone));
    const fs::path text = addSource("notes.txt", ascii("notes"));
    const fs::path noExtension = addSource("wav", ascii("RIFF"));
    auto result =
        repair({"--dest", out, "--rate", "44100", "--bits", "16", text, wav, noExtension});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.outLines().size(), 1u);
    EXPECT_NE(result.err.find("skipped, not a .wav file: " + text.string() + "\n"),
              std::string::npos);
    EXPECT_NE(result.err.find("skipped, not a .wav file: " + noExtension.string() + "\n"),
              std::string::npos);
    EXPECT_EQ(result.err.find("skipped, not a .wav file: " + wav.string()), std::string::npos);

    result = repair({"--dest", out, "--rate", "44100", "--bits", "16", "--yes", "--trace", wav});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("In CRiffFile::SearchForChunk\n"), std::string::npos);
    EXPECT_NE(result.out.find("repaired\t"), std::string::npos);
}

struct UsageCase
{
    const char* name;
    std::vector<std::string> args; // "SRC" and "OUT" stand for the two folders
    const char* message;           // part of what standard error says
};

class CliUsage : public CliRepair, public ::testing::WithParamInterface<UsageCase>
{
};

// Usage errors end with status 2 before anything is copied.
TEST_P(CliUsage, EndsWithStatusTwoAndTouchesNothing)
{
    addSource("a.wav", damagedBwf(samples(20), Damage::FmtGone));
    addSource("b.txt", ascii("b"));
    fs::create_directory_symlink(src, dir / "link");
    std::vector<std::string> args;
    for (const std::string& arg : GetParam().args)
    {
        std::string expanded = arg;
        for (const auto& [name, folder] :
             {std::pair{"SRC", src}, std::pair{"OUT", out}, std::pair{"LINK", dir / "link"}})
            if (expanded.rfind(name, 0) == 0)
                expanded = folder.string() + expanded.substr(std::string(name).size());
        args.push_back(expanded);
    }
    const auto result = CliProcess::run(args);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(filesIn(out).empty());
    EXPECT_EQ(filesIn(src), (std::vector<std::string>{"a.wav", "b.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CliUsage,
    ::testing::Values(
        UsageCase{
            "UnknownOption",
            {"repair", "--dest", "OUT", "--rate", "48000", "--bits", "16", "--fast", "SRC/a.wav"},
            "--fast"},
        UsageCase{"NoCommand", {}, "A subcommand is required"},
        UsageCase{"RateNotInTheTable",
                  {"repair", "--dest", "OUT", "--rate", "32000", "--bits", "16", "SRC/a.wav"},
                  "32000 not in"},
        UsageCase{"DepthNotInTheTable",
                  {"repair", "--dest", "OUT", "--rate", "48000", "--bits", "32", "SRC/a.wav"},
                  "32 not in"},
        UsageCase{"RateMissing",
                  {"repair", "--dest", "OUT", "--bits", "16", "SRC/a.wav"},
                  "--rate is required"},
        UsageCase{"NoWavAmongTheFiles",
                  {"repair", "--dest", "OUT", "--rate", "48000", "--bits", "16", "SRC/b.txt"},
                  "no .wav file among the files"},
        UsageCase{"NoFiles",
                  {"repair", "--dest", "OUT", "--rate", "48000", "--bits", "16"},
                  "FILE is required"},
        UsageCase{"DestinationMissing",
                  {"repair", "--rate", "48000", "--bits", "16", "SRC/a.wav"},
                  "--dest is required"},
        UsageCase{"DestinationDoesNotExist",
                  {"repair", "--dest", "OUT/none", "--rate", "48000", "--bits", "16", "SRC/a.wav"},
                  "the destination is not a folder"},
        UsageCase{"DestinationIsTheSourceFolder",
                  {"repair", "--dest", "SRC", "--rate", "48000", "--bits", "16", "SRC/a.wav"},
                  "the destination is a folder the files come from"},
        UsageCase{"DestinationIsTheSourceFolderSpeltOtherwise",
                  {"repair", "--dest", "SRC/.", "--rate", "48000", "--bits", "16", "SRC/a.wav"},
                  "the destination is a folder the files come from"},
        UsageCase{"DestinationLinksToTheSourceFolder",
                  {"repair", "--dest", "LINK", "--rate", "48000", "--bits", "16", "SRC/a.wav"},
                  "the destination is a folder the files come from"},
        UsageCase{"YesAndNo",
                  {"repair", "--dest", "OUT", "--rate", "48000", "--bits", "16", "--yes", "--no",
                   "SRC/a.wav"},
                  "excludes"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliRepair, HelpAndVersionEndWithStatusZero)
{
    const auto help = CliProcess::run({"repair", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--rate"), std::string::npos);
    const auto version = CliProcess::run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, KORVA_VERSION "\n");
}

struct OverwriteCase
{
    const char* name;
    const char* option; // "" for none: standard input is not a terminal
    bool overwritten;
};

class CliOverwrite : public CliRepair, public ::testing::WithParamInterface<OverwriteCase>
{
};

// An existing copy: --yes replaces it, --no keeps it and ends the batch with
// status 1 before the next file, and so does no answer without a terminal.
TEST_P(CliOverwrite, AnswersTheQuestionAsTold)
{
    const OverwriteCase& c = GetParam();
    const Bytes damaged = damagedBwf(samples(60), Damage::FmtZeroed);
    const fs::path first = addSource("a.wav", damaged);
    const fs::path second = addSource("b.wav", damaged);
    const Bytes existing = ascii("an older copy");
    writeFile(out / "a.wav", existing);

    std::vector<std::string> args{"--dest", out, "--rate", "48000", "--bits", "24"};
    if (*c.option)
        args.push_back(c.option);
    args.insert(args.end(), {first, second});
    const auto result = repair(args);
    // Only a question nobody answered by option is put on the terminal.
    const bool bAsked = result.err.find("The file: a.wav already exists! Overwrite file? [y/N]") !=
                        std::string::npos;
    EXPECT_EQ(bAsked, *c.option == '\0') << result.err;
    if (c.overwritten)
    {
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(readFile(out / "a.wav"), repairedBwf(damaged, 48000, 24));
        EXPECT_EQ(result.outLines().size(), 2u);
        return;
    }
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(readFile(out / "a.wav"), existing);
    EXPECT_EQ(result.outLines(),
              std::vector<std::string>{"failed\t" + (out / "a.wav").string() +
                                       "\tNot copied: the existing file was kept"});
    EXPECT_NE(result.err.find("1 of 2 files not processed"), std::string::npos);
    EXPECT_EQ(filesIn(out), std::vector<std::string>{"a.wav"});
}

INSTANTIATE_TEST_SUITE_P(Answers, CliOverwrite,
                         ::testing::Values(OverwriteCase{"Yes", "--yes", true},
                                           OverwriteCase{"No", "--no", false},
                                           OverwriteCase{"NoTerminal", "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A listed file that is a link to the copy it would replace: the controller's
// same-file guard fails it (even with --yes) and the batch ends with status 1,
// leaving the file it points at whole.
TEST_F(CliRepair, SourceThatIsTheDestinationFileFailsWithStatusOne)
{
    const Bytes target = damagedBwf(samples(60), Damage::FmtZeroed);
    writeFile(out / "a.wav", target);
    fs::create_symlink(out / "a.wav", src / "a.wav");
    const fs::path later = addSource("b.wav", target);
    const auto result =
        repair({"--dest", out, "--rate", "48000", "--bits", "24", "--yes", src / "a.wav", later});
    EXPECT_EQ(result.status, 1) << result.err;
    ASSERT_EQ(result.outLines().size(), 1u);
    EXPECT_EQ(result.outLines()[0].rfind("failed\t", 0), 0u) << result.outLines()[0];
    EXPECT_EQ(readFile(out / "a.wav"), target);
    EXPECT_FALSE(fs::exists(out / "b.wav"));
}

// Ctrl-C: the first ends the batch after the current file with status 130,
// the second ends it at once; either way every file under its final name in
// the destination is a complete repaired copy. Standard output is read only
// up to the first file while the signals go in, so that the batch (whose
// trace fills the pipe) cannot run to its end first.
TEST_F(CliRepair, CtrlCStopsTheBatchAndLeavesOnlyWholeFiles)
{
    const Bytes damaged = damagedBwf(samples(3000), Damage::FmtZeroed);
    const Bytes repaired = repairedBwf(damaged, 96000, 16);
    std::vector<std::string> args{"repair", "--dest", out,  "--rate",
                                  "96000",  "--bits", "16", "--trace"};
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i)
        args.push_back(addSource("take" + std::to_string(i) + ".wav", damaged));

    for (const int signals : {1, 2})
    {
        SCOPED_TRACE(signals);
        fs::remove_all(out);
        fs::create_directory(out);
        CliProcess cli(args);
        std::string line;
        while (cli.readLine(line) && line.rfind("repaired\t", 0) != 0)
        {
        }
        for (int i = 0; i < signals; ++i)
            cli.signal(SIGINT);
        const auto result = cli.finish();
        EXPECT_EQ(result.status, 130) << result.err;
        int nRepaired = 0;
        for (const auto& outLine : result.outLines())
            nRepaired += outLine.rfind("repaired\t", 0) == 0;
        EXPECT_GE(nRepaired, 1);
        EXPECT_LT(nRepaired, kFiles);
        int nWhole = 0;
        for (const std::string& name : filesIn(out))
        {
            if (name.front() == '.')
                continue; // a temporary copy the second Ctrl-C cut short
            EXPECT_EQ(readFile(out / name), repaired) << name;
            ++nWhole;
        }
        if (signals == 1)
        {
            EXPECT_EQ(nWhole, nRepaired);
        }
    }
}
