#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CliProcess.h"

using namespace fixture;
using ::testing::HasSubstr;
using Format = std::tuple<long, long, long>; // rate, bits per sample, channels

namespace
{
std::string outputOf(const char* tool, const std::vector<std::string>& args)
{
    return CliProcess(args, 0, tool).finish().out;
}

// The number behind the ':' or '=' of the first line of text that starts with label.
long field(const std::string& text, const std::string& label)
{
    const auto colon = text.find_first_of(":=", ("\n" + text).find("\n" + label));
    return colon == std::string::npos ? 0 : std::strtol(&text[colon + 1], nullptr, 0);
}

// What three tools outside this project read from a file: libsndfile's
// sndfile-info, sox's soxi and ffprobe; 0 where one says nothing.
std::vector<Format> outsideFormats(const fs::path& file)
{
    const std::string info = outputOf("sndfile-info", {file}), sox = outputOf("soxi", {file});
    const std::string probe = outputOf("ffprobe", {"-v", "error", "-show_streams", file});
    const long subtype = field(info, "Format ") & 0xFFFF; // libsndfile's sample encoding
    const long bits = subtype == 2 ? 16 : subtype == 3 ? 24 : 0;
    return {
        {field(info, "Sample Rate"), bits, field(info, "Channels")},
        {field(sox, "Sample Rate"), field(sox, "Sample Encoding"), field(sox, "Channels")},
        {field(probe, "sample_rate"), field(probe, "bits_per_sample"), field(probe, "channels")}};
}

// The samples as sox decodes them, in the file's own encoding.
Bytes soxSamples(const fs::path& file)
{
    const std::string raw = outputOf("sox", {file, "-t", "raw", "-"});
    return {raw.begin(), raw.end()};
}

using CliRepairDecodes = CliCase<std::tuple<int, int, bool>>;

// Name; option ("" for none: no terminal answers); size of a.wav (beyond its
// bytes a sparse tail); failure (nullptr: both files are repaired).
using FirstFileCase = std::tuple<const char*, const char*, std::uintmax_t, const char*>;
using CliFirstFile = CliCase<FirstFileCase>;

// The name; the arguments, given to sh in the folder of src, out and link (to
// src); the status; part of standard error (of standard output for status 0).
using UsageCase = std::tuple<const char*, const char*, int, const char*>;
using CliUsage = CliCase<UsageCase>;

const UsageCase kUsageCases[] = {
    {"Version", "--version", 0, KORVA_VERSION "\n"},
    {"NoCommand", "", 2, "A subcommand is required"},
    {"UnknownOption", "repair --dest out --rate 48000 --bits 16 --fast src/a.wav", 2, "--fast"},
    {"RateNotInTheTable", "repair --dest out --rate 32000 --bits 16 src/a.wav", 2, "32000 not in"},
    {"DepthNotInTheTable", "repair --dest out --rate 48000 --bits 32 src/a.wav", 2, "32 not in"},
    {"RateMissing", "repair --dest out --bits 16 src/a.wav", 2, "--rate is required"},
    {"NoWavAmongTheFiles", "repair --dest out --rate 48000 --bits 16 src/b.txt", 2, "no .wav file"},
    {"NoFiles", "repair --dest out --rate 48000 --bits 16", 2, "FILE is required"},
    {"DestinationMissing", "repair --rate 48000 --bits 16 src/a.wav", 2, "--dest is required"},
    {"DestinationDoesNotExist", "repair --dest out/none --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is not a folder"},
    {"DestinationIsTheSourceFolder", "repair --dest src --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is a folder the files come from"},
    {"DestinationLinksToTheSourceFolder", "repair --dest link --rate 48000 --bits 16 src/a.wav", 2,
     "a folder the files come from"},
    {"YesAndNo", "repair --dest out --rate 48000 --bits 16 --yes --no src/a.wav", 2, "excludes"},
};
} // namespace

// A read-only damaged file at every rate and depth: the copy is the source
// with the chosen fmt chunk, read so by three decoders that know nothing of
// this project, sample for sample; standard output has one line, no trace.
TEST_P(CliRepairDecodes, OutsideDecodersReadTheChosenFormatAndTheOriginalSamples)
{
    const auto [rate, bits, bRemains] = GetParam();
    const Bytes pcm = samples(bits / 8 * 4801u, rate);
    const std::string source = addSource("take.wav", lostFormat(pcm, bRemains), 0444);
    const auto result = CliProcess::run(repairArgs(rate, bits, {source}));
    ASSERT_EQ(result.status, 0) << result.err;
    const fs::path copy = out / "take.wav";
    EXPECT_EQ(result.out, "repaired\t" + copy.string() + "\tfmt chunk " +
                              (bRemains ? "written" : "inserted") +
                              " behind bext: " + std::to_string(rate) + " Hz, " +
                              std::to_string(bits) + " bit, mono\n");
    EXPECT_EQ(readFile(copy), repaired(lostFormat(pcm, bRemains), rate, bits));
    EXPECT_EQ(outsideFormats(copy), std::vector(3, Format{rate, bits, 1}));
    EXPECT_EQ(soxSamples(copy), pcm);
}

INSTANTIATE_TEST_SUITE_P(Formats, CliRepairDecodes,
                         ::testing::Combine(::testing::Values(44100, 48000, 88200, 96000, 128000),
                                            ::testing::Values(16, 24), ::testing::Bool()));

// Real recordings: the samples of the system's alsa sounds, made into
// read-only Broadcast Wave files and damaged, come back sample for sample.
TEST_F(CliBatch, AlsaSoundsComeBackSampleForSample)
{
    const fs::path alsa = "/usr/share/sounds/alsa";
    if (!fs::is_directory(alsa) || fs::is_empty(alsa))
        GTEST_SKIP() << "no alsa sounds on this machine";
    std::vector<std::string> args = repairArgs(48000, 16, {});
    for (const auto& sound : fs::directory_iterator(alsa))
        args.push_back(
            addSource(sound.path().filename(), lostFormat(soxSamples(sound.path())), 0444));
    const auto result = CliProcess::run(args);
    ASSERT_EQ(result.status, 0) << result.err;
    for (const auto& sound : fs::directory_iterator(alsa))
    {
        const fs::path copy = out / sound.path().filename();
        EXPECT_EQ(outsideFormats(copy), std::vector(3, Format{48000, 16, 1})) << copy;
        EXPECT_EQ(soxSamples(copy), soxSamples(sound.path())) << copy;
    }
}

// Files the repair leaves as they are are copied byte for byte and say why;
// arguments the controller does not list (a .WaV is listed) get a line on
// standard error; --trace sends the library's trace to standard output.
TEST_F(CliBatch, UnchangedAndSkippedFilesSayWhyAndTraceReachesStandardOutput)
{
    const Bytes intact = riff({chunk("fmt ", fmtPcm(1, 48000, 24)), chunk("bext", bextBody(1)),
                               chunk("data", samples(30))});
    const Bytes noBext = riff({Bytes(24, 0), chunk("data", samples(30))});
    const std::string text = addSource("notes.txt", ascii("notes"));
    const std::string bare = addSource("wav", ascii("RIFF"));
    const auto result = CliProcess::run(repairArgs(
        48000, 24,
        {"--trace", text, addSource("intact.WaV", intact), bare, addSource("b.wav", noBext)}));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.err,
                ::testing::StartsWith("korva-cli: skipped, not a .wav file: " + text +
                                      "\nkorva-cli: skipped, not a .wav file: " + bare + "\n"));
    for (const std::string& line :
         {"\nunchanged\t" + (out / "intact.WaV").string() + "\talready has a format chunk\n",
          "\nunchanged\t" + (out / "b.wav").string() + "\tno bext chunk\n",
          std::string("\nIn CRiffFile::SearchForChunk\n")})
        EXPECT_THAT(result.out, HasSubstr(line));
    EXPECT_EQ(filesIn(out), (Files{{"intact.WaV", intact}, {"b.wav", noBext}}));
}

// Usage errors end with status 2 before anything is copied; --version with 0.
TEST_P(CliUsage, EndsWithItsStatusAndTouchesNothing)
{
    addSource("a.wav", lostFormat(samples(20)));
    addSource("b.txt", ascii("b"));
    fs::create_directory_symlink(src, dir / "link");
    const auto& [name, args, status, text] = GetParam();
    const std::string line =
        "cd '" + dir.path().string() + "' && exec '" KORVA_CLI_PATH "' " + args;
    const auto result = CliProcess({"-c", line}, 0, "sh").finish();
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_THAT(status ? result.err : result.out, HasSubstr(text));
    EXPECT_EQ(result.out.empty(), result.status == 2);
    EXPECT_TRUE(filesIn(out).empty());
    EXPECT_EQ(filesIn(src).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Errors, CliUsage, ::testing::ValuesIn(kUsageCases), kRowName);

// The destination holds an older a.wav: --yes replaces it; --no, no answer (no
// terminal) or a source above 4 GiB keep it and end the batch with status 1
// before b.wav. Only a question no option answered is put, on standard error.
TEST_P(CliFirstFile, ReplacesTheOlderCopyOrKeepsItAndStops)
{
    const auto& [name, option, nSourceSize, failure] = GetParam();
    const Bytes damaged = lostFormat(samples(60)), older = ascii("an older copy");
    const Bytes fixed = repaired(damaged, 48000, 24);
    writeFile(out / "a.wav", older);
    const std::string first = addSource("a.wav", damaged, 0644, nSourceSize);
    std::vector<std::string> args = repairArgs(48000, 24, {first, addSource("b.wav", damaged)});
    if (*option)
        args.push_back(option);

    const auto result = CliProcess::run(args);
    const bool bAsked = result.err.find("The file: a.wav already exists! Overwrite file? [y/N]") !=
                        std::string::npos;
    EXPECT_EQ(bAsked, *option == '\0') << result.err;
    EXPECT_EQ(result.status, failure ? 1 : 0) << result.err;
    EXPECT_EQ(filesIn(out),
              (failure ? Files{{"a.wav", older}} : Files{{"a.wav", fixed}, {"b.wav", fixed}}));
    if (failure)
    {
        EXPECT_EQ(result.out, "failed\t" + (out / "a.wav").string() + "\t" + failure +
                                  (nSourceSize ? first : "") + "\n");
        EXPECT_THAT(result.err, HasSubstr("korva-cli: stopped; 1 of 2 files not processed\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CliFirstFile,
    ::testing::Values(FirstFileCase{"Yes", "--yes", 0, nullptr},
                      FirstFileCase{"No", "--no", 0, "Not copied: the existing file was kept"},
                      FirstFileCase{"NoTerminal", "", 0, "Not copied: the existing file was kept"},
                      FirstFileCase{"SourceAboveFourGiB", "--yes", (std::uintmax_t{1} << 32) + 8,
                                    "File larger than 4 GiB, not copied: "}),
    kRowName);

// One Ctrl-C ends the batch after the current file, two at once: status 130 and
// only whole files under final names. The trace fills the pipe, read only up to
// the first file, so the batch cannot end before the signals.
TEST_F(CliBatch, CtrlCStopsTheBatchAndLeavesOnlyWholeFiles)
{
    const Bytes damaged = lostFormat(samples(3000));
    std::vector<std::string> args = repairArgs(96000, 16, {"--trace"});
    for (int i = 0; i < 300; ++i)
        args.push_back(addSource("take" + std::to_string(i) + ".wav", damaged));
    for (const int nSignals : {1, 2})
    {
        SCOPED_TRACE(nSignals);
        fs::remove_all(out), fs::create_directory(out);
        CliProcess cli(args);
        ASSERT_TRUE(cli.waitFor("repaired\t"));
        for (int i = 0; i < nSignals; ++i)
            cli.send(SIGINT);
        EXPECT_EQ(cli.finish().status, 130);
        Files files = filesIn(out);
        const std::size_t nFiles = files.size();
        std::erase_if(files, [](const auto& file) { return file.first.starts_with("."); });
        EXPECT_TRUE(nSignals == 2 || files.size() == nFiles) << "the first leaves no temporary";
        EXPECT_GE(files.size(), 1u);
        EXPECT_LT(files.size(), 300u);
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(bytes, repaired(damaged, 96000, 16)) << name;
    }
}
