#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "Layouts.h"
#include "TempDir.h"
#include "WavBuilder.h"

namespace fs = std::filesystem;
using namespace fixture;
using Files = std::map<std::string, Bytes>; // by name
using nlohmann::json;
using ::testing::HasSubstr;
using Format = std::tuple<long, long, long>; // rate, bits per sample, channels

namespace
{
// One run of korva-cli (or another program): standard input /dev/null (never a terminal)
// unless a terminal is given,
// standard output through a pipe of the smallest size (one page) so that a child writing
// much waits for the reader, standard error into a file. A file size limit caps every
// file the child writes (a full disk without root), SIGXFSZ ignored.
class CliProcess
{
public:
    struct Result
    {
        int status; // 128 + N when killed by signal N
        std::string out, err;
    };

    // input: the child's standard input (none: /dev/null).
    explicit CliProcess(const std::vector<std::string>& args, rlim_t nFileSizeLimit = 0,
                        const char* program = KORVA_CLI_PATH, int input = -1)
    {
        int outPipe[2];
        EXPECT_EQ(pipe(outPipe), 0);
        fcntl(outPipe[0], F_SETPIPE_SZ, 1);
        if ((m_pid = fork()) == 0)
        {
            dup2(input >= 0 ? input : open("/dev/null", O_RDONLY), STDIN_FILENO);
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(fileno(m_err), STDERR_FILENO);
            const rlimit limit{nFileSizeLimit, nFileSizeLimit};
            if (nFileSizeLimit > 0)
                ::signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &limit);
            std::vector<char*> argv{const_cast<char*>(program)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execvp(program, argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        m_outFd = outPipe[0];
    }
    ~CliProcess()
    {
        if (m_outFd >= 0)
            send(SIGKILL), finish();
        fclose(m_err);
    }

    // Reads standard output until it holds text (to its end for ""); false at its end.
    bool waitFor(const std::string& text)
    {
        char buffer[4096];
        for (ssize_t n; text.empty() || m_out.find(text) == std::string::npos;
             m_out.append(buffer, static_cast<std::size_t>(n)))
            if ((n = read(m_outFd, buffer, sizeof buffer)) <= 0)
                return false;
        return true;
    }
    // Waits until standard error holds text; false when the child ends first
    // or after half a minute.
    bool waitForError(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (std::string err; std::chrono::steady_clock::now() < deadline;
             std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        {
            if (readError(err), err.find(text) != std::string::npos)
                return true;
            siginfo_t ended{};
            if (waitid(P_PID, static_cast<id_t>(m_pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                ended.si_pid != 0)
                return false;
        }
        return false;
    }
    void send(int nSignal) { kill(m_pid, nSignal); }
    Result finish()
    {
        waitFor("");
        close(m_outFd);
        m_outFd = -1;
        int nWait = 0;
        waitpid(m_pid, &nWait, 0);
        Result result{WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait), m_out, ""};
        readError(result.err);
        return result;
    }
    static Result run(const std::vector<std::string>& args, const char* program = KORVA_CLI_PATH)
    {
        return CliProcess(args, 0, program).finish();
    }

private:
    // pread, because the child writes through the same file offset.
    void readError(std::string& err) const
    {
        err.clear();
        char buffer[4096];
        for (ssize_t n;
             (n = pread(fileno(m_err), buffer, sizeof buffer, static_cast<off_t>(err.size()))) > 0;)
            err.append(buffer, static_cast<std::size_t>(n));
    }

    FILE* m_err = tmpfile();
    pid_t m_pid = -1;
    int m_outFd = -1;
    std::string m_out;
};

const Bytes kBext = chunk("bext", bextBody(48000u * 3600));

// A Broadcast Wave file that lost its fmt chunk behind bext: zeroed where it
// stood (the repair writes over the remains) or gone (the repair inserts one).
Bytes lostFormat(const Bytes& pcm, bool bRemains = true)
{
    return riff({kBext, Bytes(bRemains ? 24 : 0, 0), chunk("data", pcm, true)});
}

// What the repair must make of a lostFormat file.
Bytes repaired(Bytes file, uint32_t rate, uint16_t bits)
{
    constexpr std::size_t kBextEnd = 12 + 8 + 602;
    if (readLe32(file, kBextEnd) != 0) // data follows bext: all of it moves on
        file.insert(file.begin() + kBextEnd, 24, 0), putLe32(file, 4, file.size() - 8);
    const Bytes fmt = fmtChunkMono(rate, bits);
    std::copy(fmt.begin(), fmt.end(), file.begin() + kBextEnd);
    return file;
}

// Sources go read-only to src, copies to out; each source (sparse ones too) must stay as given.
class CliBatch : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directory(src), fs::create_directory(out); }
    void TearDown() override
    {
        umount2(out.c_str(), MNT_DETACH); // a test's tmpfs
        for (const auto& [path, source] : m_sources)
        {
            Bytes head(source.first.size());
            std::ifstream(path).read(reinterpret_cast<char*>(head.data()),
                                     static_cast<long>(head.size()));
            EXPECT_TRUE(head == source.first && fs::file_size(path) == source.second) << path;
        }
    }

    // nSize beyond the bytes: a sparse tail of zeros.
    std::string addSource(const std::string& name, const Bytes& bytes, std::uintmax_t nSize = 0)
    {
        const fs::path path = src / name;
        writeFile(path, bytes);
        fs::resize_file(path, std::max<std::uintmax_t>(nSize, bytes.size()));
        chmod(path.c_str(), 0444);
        m_sources[path] = {bytes, fs::file_size(path)};
        return path;
    }

    std::vector<std::string> repairArgs(const WavFormat& f, std::vector<std::string> rest) const
    {
        rest.insert(rest.begin(),
                    {"repair", "--dest", out, "--rate", std::to_string(f.nSampleRate), "--bits",
                     std::to_string(f.nBitsPerSample), "--channels", std::to_string(f.nChannels)});
        if (f.IsFloat())
            rest.push_back("--float");
        return rest;
    }

    static Files filesIn(const fs::path& folder)
    {
        Files files;
        for (const auto& entry : fs::directory_iterator(folder))
            files[entry.path().filename()] = readFile(entry.path());
        return files;
    }

    TempDir dir;
    const fs::path src = dir / "src", out = dir / "out";

private:
    std::map<fs::path, std::pair<Bytes, std::uintmax_t>> m_sources;
};

// A table-driven CliBatch; a row's name is its first field.
template <typename Row> class CliCase : public CliBatch, public ::testing::WithParamInterface<Row>
{
};
constexpr auto kRowName = [](const auto& info) { return std::string(std::get<0>(info.param)); };

// The number behind the ':' or '=' of the first line of text that starts with label.
long field(const std::string& text, const std::string& label)
{
    const auto colon = text.find_first_of(":=", ("\n" + text).find("\n" + label));
    return colon == std::string::npos ? 0 : std::strtol(&text[colon + 1], nullptr, 0);
}

// What three tools outside this project read from a file: libsndfile's
// sndfile-info, sox's soxi and ffprobe: rate, bits per sample and channels,
// 0 where one says nothing.
std::vector<Format> outsideFormats(const fs::path& file)
{
    const std::string info = CliProcess::run({file}, "sndfile-info").out;
    const std::string sox = CliProcess::run({file}, "soxi").out;
    const std::string probe =
        CliProcess::run({"-v", "error", "-show_streams", file}, "ffprobe").out;
    // libsndfile's sample encodings: signed 8, 16, 24, 32 bit, unsigned 8, float, double.
    constexpr long kSubtypeBits[] = {0, 8, 16, 24, 32, 8, 32, 64};
    const long subtype = field(info, "Format ") & 0xFFFF;
    const long probeBits = field(probe, "bits_per_sample") ? field(probe, "bits_per_sample")
                                                           : field(probe, "bits_per_raw_sample");
    return {{field(info, "Sample Rate"), subtype < 8 ? kSubtypeBits[subtype] : 0,
             field(info, "Channels")},
            {field(sox, "Sample Rate"), field(sox, "Sample Encoding"), field(sox, "Channels")},
            {field(probe, "sample_rate"), probeBits, field(probe, "channels")}};
}

// The samples as sox decodes them, in the file's own encoding. sox carries
// float through 32-bit integers, so float samples are ffmpeg's, copied out as
// they are.
Bytes soxSamples(const fs::path& file, bool bFloat = false)
{
    const std::string raw = bFloat ? CliProcess::run({"-v", "error", "-i", file, "-map", "0:a",
                                                      "-c", "copy", "-f", "data", "-"},
                                                     "ffmpeg")
                                         .out
                                   : CliProcess::run({file, "-t", "raw", "-"}, "sox").out;
    return {raw.begin(), raw.end()};
}

class CliLayout : public CliBatch, public ::testing::WithParamInterface<Layout>
{
};

// Every layout of the repair's table through korva-cli: inspect says what repair
// then does, the copy is the table's file (or the source byte for byte), three
// outside decoders read the original audio from it, and repairing the copy again
// leaves it as it is.
TEST_P(CliLayout, InspectSaysWhatRepairDoesAndDecodersReadTheOriginalAudio)
{
    const Layout& c = GetParam();
    const std::string path = addSource("take.wav", c.source);
    const json report = json::parse(CliProcess::run({"inspect", "--json", path}).out);
    EXPECT_EQ(report["verdict"], c.verdict);

    const auto result = CliProcess::run(repairArgs(c.format, {path}));
    const fs::path copy = out / "take.wav";
    EXPECT_EQ(result.status, 0) << result.err;
    const Bytes expected = c.repaired.empty() ? c.source : c.repaired;
    ASSERT_TRUE(readFile(copy) == expected) << result.out;
    EXPECT_THAT(result.out,
                ::testing::StartsWith(c.repaired.empty() ? "unchanged\t"
                                      : c.outcome == KorvaWavFile::RepairOutcome::SizesRepaired
                                          ? "sizes repaired\t"
                                          : "repaired\t"));
    if (c.repaired.empty())
        return;
    const Format format{c.format.nSampleRate, c.format.nBitsPerSample, c.format.nChannels};
    EXPECT_EQ(outsideFormats(copy), std::vector(3, format));
    EXPECT_TRUE(soxSamples(copy) == c.pcm);

    fs::rename(copy, src / "again.wav");
    const auto again = CliProcess::run(repairArgs(c.format, {src / "again.wav"}));
    EXPECT_THAT(again.out, ::testing::StartsWith("unchanged\t"));
    EXPECT_TRUE(readFile(out / "again.wav") == expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CliLayout, ::testing::ValuesIn(Layouts()),
                         [](const auto& info) { return info.param.name; });

// Rates, depths (integer and float) and channel counts a recorder writes: the copy
// states them, three outside decoders read them and sox decodes the original audio.
using CliFormat = CliCase<std::tuple<const char*, WavFormat>>;

const CliFormat::ParamType kFormatCases[] = {
    {"Mono44k16", {.nSampleRate = 44100, .nBitsPerSample = 16}},
    {"Stereo48k24", {.nChannels = 2, .nSampleRate = 48000, .nBitsPerSample = 24}},
    {"Four96k24", {.nChannels = 4, .nSampleRate = 96000, .nBitsPerSample = 24}},
    {"Eight192k32", {.nChannels = 8, .nSampleRate = 192000, .nBitsPerSample = 32}},
    {"Stereo176k16", {.nChannels = 2, .nSampleRate = 176400, .nBitsPerSample = 16}},
    {"Mono32k8", {.nSampleRate = 32000, .nBitsPerSample = 8}},
    {"StereoFloat48k",
     {.nFormatTag = WavFormat::kFloat, .nChannels = 2, .nSampleRate = 48000, .nBitsPerSample = 32}},
    {"MonoDouble96k",
     {.nFormatTag = WavFormat::kFloat, .nSampleRate = 96000, .nBitsPerSample = 64}},
    {"Mono47952", {.nSampleRate = 47952, .nBitsPerSample = 24}},
};

TEST_P(CliFormat, OutsideDecodersReadTheChosenFormatAndTheOriginalAudio)
{
    const WavFormat& f = std::get<1>(GetParam());
    const Bytes pcm = tone(4801, f.nChannels, f.nBitsPerSample, f.IsFloat());
    const std::string path =
        addSource("take.wav", riff({kBext, Bytes(24, 0), chunk("data", pcm, true)}));
    const auto result = CliProcess::run(repairArgs(f, {"--json", path}));
    ASSERT_EQ(result.status, 0) << result.err;
    const json outcome = json::parse(result.out);
    EXPECT_EQ(outcome["kind"], "repaired");
    EXPECT_EQ(outcome["format"]["channels"], f.nChannels);
    EXPECT_EQ(outcome["format"]["format_tag"], f.nFormatTag);
    const fs::path copy = out / "take.wav";
    EXPECT_EQ(outsideFormats(copy),
              std::vector(3, Format{f.nSampleRate, f.nBitsPerSample, f.nChannels}));
    EXPECT_TRUE(soxSamples(copy, f.IsFloat()) == pcm);
}

INSTANTIATE_TEST_SUITE_P(Formats, CliFormat, ::testing::ValuesIn(kFormatCases), kRowName);

// Files a recorder of the system wrote (the alsa sounds) come back sample for sample.
TEST_F(CliBatch, TheSystemsOwnSoundsComeBackSampleForSample)
{
    std::vector<std::string> args = repairArgs({.nSampleRate = 48000, .nBitsPerSample = 16}, {});
    Files pcms;
    std::error_code noAlsaSounds;
    for (const auto& sound : fs::directory_iterator("/usr/share/sounds/alsa", noAlsaSounds))
    {
        const Bytes pcm = soxSamples(sound.path());
        pcms[sound.path().filename()] = pcm;
        args.push_back(addSource(sound.path().filename(), riff({kBext, chunk("data", pcm)})));
    }
    if (pcms.empty())
        GTEST_SKIP() << "alsa-utils sounds are not installed";
    ASSERT_EQ(CliProcess::run(args).status, 0);
    for (const auto& [name, pcm] : pcms)
        EXPECT_TRUE(soxSamples(out / name) == pcm) << name;
}

// What a damaged take says of its own format (bext: origination time, time reference,
// CodingHistory; iXML; the audio) and the options: what korva-cli makes of it, in
// its line with the destination left out, and a warning on standard error.
struct EvidenceCase
{
    const char* name;
    Bytes bext;
    std::string ixml; // "": none
    std::vector<std::string> options;
    std::string line;
    const char* warning = nullptr;
    Bytes pcm = tone(1000, 1, 16);
};

std::string ixmlOf(const char* rate, const char* depth, const char* tracks)
{
    return std::string("<BWFXML><SPEED><FILE_SAMPLE_RATE>") + rate +
           "</FILE_SAMPLE_RATE><AUDIO_BIT_DEPTH>" + depth +
           "</AUDIO_BIT_DEPTH></SPEED><TRACK_LIST><TRACK_COUNT>" + tracks +
           "</TRACK_COUNT></TRACK_LIST></BWFXML>";
}

const std::vector<std::string> kAuto = {"--auto"};
// @: where the remains begin, right behind the bext chunk (its pad byte, zero like
// them, is taken for remains).
const std::string kWritten =
    "repaired\tformat chunk written over the remains of the lost one at @: ";
const std::string kFromHistory =
    "(rate from CodingHistory; depth from CodingHistory; channels from CodingHistory)";
const EvidenceCase kEvidenceCases[] = {
    {"IXmlAlone", bextBody(0), ixmlOf("96000", "24", "2"), kAuto,
     kWritten + "96000 Hz, 24 bit, stereo (rate from iXML; depth from iXML; channels from iXML)",
     nullptr, tone(1000, 2, 24)},
    {"CodingHistoryAloneItsLastLine",
     bextEvidence("", 0, "A=ANALOGUE,M=stereo\r\nA=PCM,F=48000,W=16,M=mono,T=Korva\r\n"), "", kAuto,
     kWritten + "48000 Hz, 16 bit, mono " + kFromHistory},
    {"TimeReferenceForTheRate",
     bextEvidence("12:00:00", 2073600000, ""),
     "",
     {"--rate", "auto", "--bits", "16"},
     kWritten + "48000 Hz, 16 bit, mono (rate from time reference)"},
    {"AgreeingSources", bextEvidence("12:00:00", 2073600000, "A=PCM,F=48000,W=16,M=mono\r\n"),
     ixmlOf("48000", "16", "1"), kAuto,
     kWritten + "48000 Hz, 16 bit, mono (rate from CodingHistory, time reference and iXML; depth "
                "from CodingHistory and iXML; channels from CodingHistory and iXML)"},
    {"DisagreeingSources", bextEvidence("", 0, "A=PCM,F=96000,W=16,M=mono\r\n"),
     ixmlOf("48000", "16", "1"), kAuto,
     "failed\tcannot tell the sample rate: CodingHistory says 96000 Hz and iXML says 48000 Hz; "
     "pass --rate"},
    {"NothingToGoBy", bextBody(0), "", kAuto,
     "failed\tcannot tell the sample rate: no iXML, CodingHistory or time reference gives it; "
     "pass --rate"},
    {"MalformedIXmlIgnored", bextEvidence("", 0, "A=PCM,F=44100,W=16,M=mono\r\n"),
     "<BWFXML><SPEED><FILE_SAMPLE_RATE>48000", kAuto,
     kWritten + "44100 Hz, 16 bit, mono " + kFromHistory},
    {"DepthAndChannelsFromTheAudio", bextBody(0),
     "<BWFXML><SPEED><FILE_SAMPLE_RATE>48000</FILE_SAMPLE_RATE></SPEED></BWFXML>", kAuto,
     kWritten + "48000 Hz, 24 bit, stereo (rate from iXML; depth from the audio; channels from the "
                "audio)",
     nullptr, tone(40000, 2, 24)},
    {"ChoiceAgainstTheMetadata",
     bextBody(0),
     ixmlOf("48000", "16", "1"),
     {"--rate", "44100", "--bits", "16"},
     kWritten + "44100 Hz, 16 bit, mono",
     "written as 44100 Hz; iXML says 48000 Hz"},
    {"StrictRefuses",
     bextBody(0),
     ixmlOf("48000", "16", "1"),
     {"--rate", "44100", "--bits", "16", "--strict"},
     "failed\tthe chosen format contradicts the file: written as 44100 Hz; iXML says 48000 Hz"},
};

class CliEvidence : public CliBatch, public ::testing::WithParamInterface<EvidenceCase>
{
};

// Each source of evidence alone, agreeing, disagreeing, absent or malformed; a
// choice against them warns, or with --strict fails. Nothing is guessed.
TEST_P(CliEvidence, TheFileTellsItsFormatOrSaysWhatIsMissing)
{
    const EvidenceCase& c = GetParam();
    const Bytes take = riff({chunk("bext", c.bext, true), Bytes(24, 0), chunk("data", c.pcm, true),
                             c.ixml.empty() ? Bytes{} : chunk("iXML", ascii(c.ixml), true)});
    std::vector<std::string> args = {"repair", "--dest", out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(addSource("take.wav", take));
    const auto result = CliProcess::run(args);
    std::string expected = c.line;
    expected.insert(expected.find('\t') + 1, (out / "take.wav").string() + "\t");
    if (const auto at = expected.find('@'); at != std::string::npos)
        expected.replace(at, 1, std::to_string(20 + c.bext.size())); // a pad byte joins the remains
    EXPECT_EQ(result.out, expected + "\n");
    EXPECT_EQ(result.status, c.line.starts_with("failed") ? 1 : 0) << result.err;
    EXPECT_EQ(result.err.find(c.warning ? c.warning : "written as") != std::string::npos,
              c.warning != nullptr)
        << result.err;
    if (c.line.starts_with("repaired"))
        EXPECT_TRUE(soxSamples(out / "take.wav") == c.pcm);
}

INSTANTIATE_TEST_SUITE_P(Evidence, CliEvidence, ::testing::ValuesIn(kEvidenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The name; the arguments, given to sh in the folder of src, out and link (to
// src); the status; part of standard error (of standard output for status 0).
using CliUsage = CliCase<std::tuple<const char*, const char*, int, const char*>>;

const CliUsage::ParamType kUsageCases[] = {
    {"Version", "--version", 0,
     "korva-cli " KORVA_VERSION "\nCopyright (c) 2026 The Korva developers\n"},
    {"Help", "--help", 0, "Usage: korva-cli [OPTIONS] [SUBCOMMAND]"},
    {"NoCommand", "", 2, "a command is needed: repair or inspect"},
    {"UnknownOptionBeforeTheCommand", "--bogus", 2, "there is no option '--bogus'"},
    {"NoSuchCommand", "frobnicate", 2, "'frobnicate' is not a command"},
    {"UnknownOption", "repair --dest out --rate 48000 --bits 16 --fast src/a.wav", 2, "--fast"},
    {"RateNotANumber", "repair --dest out --rate 48k --bits 16 src/a.wav", 2,
     "--rate: takes a whole number of hertz from 1000 to 768000, or auto, not '48k'"},
    {"NoSuchFloatDepth", "repair --dest out --rate 48000 --bits 24 --float src/a.wav", 2,
     "--bits 24 is no float depth (32 or 64)"},
    {"DepthOutOfRange", "repair --dest out --rate 48000 --bits 4 src/a.wav", 2, "not '4'"},
    {"ChannelsOutOfRange", "repair --dest out --rate 48000 --bits 16 --channels 65 src/a.wav", 2,
     "not '65'"},
    {"RateMissing", "repair --dest out --bits 16 src/a.wav", 2, "--rate is needed, or --auto"},
    {"NoWavAmongTheFiles", "repair --dest out --rate 48000 --bits 16 src/b.txt", 2, "no .wav file"},
    {"DestinationDoesNotExist", "repair --dest out/none --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is not a folder"},
    {"DestinationLinksToTheSourceFolder", "repair --dest link --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is a folder the files come from"},
    {"YesAndNo", "repair --dest out --rate 48000 --bits 16 --yes --no src/a.wav", 2, "excludes"},
};

// Usage errors end with status 2 before anything is copied; --version and --help with 0.
TEST_P(CliUsage, EndsWithItsStatusAndTouchesNothing)
{
    addSource("a.wav", lostFormat(samples(20)));
    addSource("b.txt", ascii("b"));
    fs::create_directory_symlink(src, dir / "link");
    const auto& [name, args, status, text] = GetParam();
    const auto result = CliProcess::run(
        {"-c", "cd '" + dir.path().string() + "' && exec '" KORVA_CLI_PATH "' " + args}, "sh");
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_THAT(status ? result.err : result.out, HasSubstr(text));
    EXPECT_EQ(result.out.empty(), result.status == 2);
    EXPECT_TRUE(filesIn(out).empty());
    EXPECT_EQ(filesIn(src).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Errors, CliUsage, ::testing::ValuesIn(kUsageCases), kRowName);

// The name, the file, and JSON of the fields to compare (the rest is not looked at).
using CliFileReport = CliCase<std::tuple<const char*, Bytes, const char*>>;
const Bytes kBextOf12345678 = chunk("bext", bextBody(0x12345678, 9));
// time_reference 305419896 is 0x12345678; the high word 9 is not read.
const CliFileReport::ParamType kReportCases[] = {
    {"RepairableWithZeroedFmt", riff({kBextOf12345678, Bytes(24, 0), chunk("data", samples(6))}),
     R"({"form": "RIFF", "length": 660, "format": null, "time_reference": 305419896,
         "chunks": [{"id": "bext", "offset": 12, "size": 602, "hole": false},
                    {"id": "\\x00\\x00\\x00\\x00", "offset": 622, "size": 24, "hole": true},
                    {"id": "data", "offset": 646, "size": 6, "hole": false}],
         "data": {"offset": 646, "length": 6, "frames": 0},
         "action": "write a format chunk with a 16-byte body at 622, set the RIFF size to 652",
         "verdict": "repairable: format chunk missing, remains of 24 bytes at 622"})"},
    {"IntactWithRegionsCueAndAfjx",
     riff({chunk("fmt ", fmtPcm(1, 96000, 24)), kBextOf12345678,
           chunk("regn", cat({le32(3), Bytes(8, 0)})), chunk("cue ", le32(0)),
           chunk("AFJx", {1, 2}), chunk("data", samples(7), true)}),
     R"({"format": {"format_tag": 1, "channels": 1, "sample_rate": 96000,
                    "bytes_per_second": 288000, "block_align": 3, "bits_per_sample": 24},
         "data": {"offset": 688, "length": 7, "frames": 2},
         "regions": 3, "cue": true, "afjx": true, "action": "none", "verdict": "intact"})"},
    {"NoBext", riff({Bytes(24, 0), chunk("data", samples(4))}),
     R"({"bext": null, "time_reference": null, "regions": 0, "cue": false, "afjx": false,
         "verdict": "no bext chunk: not repairable"})"},
    {"ShortBextHasNoTimeReference", riff({chunk("bext", bextBody(1, 0, 64)), chunk("data", {})}),
     R"({"bext": {"description": "Korva test take", "originator": "", "origination_date": "",
                  "origination_time": "", "coding_history": ""}, "time_reference": null,
         "verdict": "repairable: format chunk missing, no remains; a new one goes behind bext at 84"})"},
    {"DataSizeRunsPastTheEnd", riff({kBextOf12345678, chunkDeclared("data", 1000, samples(4))}),
     R"({"chunks": [{"id": "bext", "offset": 12, "size": 602, "hole": false},
                   {"id": "data", "offset": 622, "size": 1000, "present": 4, "hole": false}],
         "verdict": "repairable: format chunk missing, no remains; a new one goes behind bext at 622; data size 1000, 4 bytes of audio follow"})"},
    {"Rf64",
     cat({ascii("RF64"), le32(0xFFFFFFFF), ascii("WAVEds64"), le32(28), le32(658), le32(0), le32(0),
          le32(0), le32(0), le32(0), le32(0), kBextOf12345678, chunk("data", {})}),
     R"({"form": "RF64", "riff": true, "verdict": "repairable: format chunk missing, no remains; a new one goes behind bext at 658"})"},
    {"NotRiff", cat({ascii("RIFX"), le32(4), ascii("WAVE")}),
     R"({"form": "not RIFF", "riff": false, "length": 12, "chunks": [], "verdict": "not a RIFF file"})"},
};

// The destination holds an older b.wav; a.wav, b.wav and c.wav are repaired. The
// option answers the question (none: standard input is no terminal, so No); b.wav
// may be too large (sparse), hold audio no frame of the format divides, or meet a full
// destination (a tmpfs) or a file size limit. What b.wav comes to, whether the batch
// goes on to c.wav, and the exit status.
struct StopCase
{
    const char* name;
    const char* option;
    const char* b; // b.wav's line: what became of it, and the detail's start
    bool bGoesOn;
    int status;
    std::uintmax_t nSize = 0;
    bool bOddAudio = false;
    const char* tmpfs = nullptr;
    rlim_t nFileSizeLimit = 0;
};

const StopCase kStopCases[] = {
    {"Overwrite", "--existing=overwrite", "repaired\tformat chunk written", true, 0},
    {"Yes", "--yes", "repaired\tformat chunk written", true, 0},
    {"Skip", "--existing=skip", "skipped\tthe file already in the destination was kept", true, 0},
    {"Stop", "--no", "not processed\tthe file already in the destination was kept", false, 1},
    {"NoTerminal", "", "not processed\tthe file already in the destination was kept", false, 1},
    {"SourceAboveFourGiB", "--yes", "failed\tit is larger than the 4 GiB a RIFF file can hold",
     false, 1, (std::uintmax_t{1} << 32) + 8},
    // A file whose repair fails does not stop the batch, but the status says so.
    {"AudioNoFrameDivides", "--yes", "failed\tits 61 bytes of audio are not whole frames", true, 1,
     0, true},
    {"FullTmpfs", "--yes", "failed\tit could not be copied: the destination is full", false, 1,
     1 << 20, false, "size=600k"},
    {"FileSizeLimit", "--yes", "failed\tit could not be copied: the file is too large", false, 1,
     1 << 20, false, nullptr, 500 << 10},
};

class CliBatchStop : public CliBatch, public ::testing::WithParamInterface<StopCase>
{
};
} // namespace

TEST_P(CliBatchStop, AnswersAndFailuresKeepTheOlderCopyAndStopOnlyWhereTheyMust)
{
    const StopCase& c = GetParam();
    if (c.tmpfs && mount("tmpfs", out.c_str(), "tmpfs", 0, c.tmpfs) != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here (needs root)";
    const Bytes damaged = lostFormat(samples(60)), older = ascii("an older copy");
    const Bytes fixed = repaired(damaged, 48000, 24);
    writeFile(out / "b.wav", older);
    const Bytes b = c.bOddAudio ? lostFormat(samples(61)) : damaged;
    std::vector<std::string> args = repairArgs(
        {.nSampleRate = 48000, .nBitsPerSample = 24},
        {addSource("a.wav", damaged), addSource("b.wav", b, c.nSize), addSource("c.wav", damaged)});
    if (*c.option)
        args.push_back(c.option);
    const auto result = CliProcess(args, c.nFileSizeLimit).finish();
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.err.find("b.wav already exists! Overwrite file? [y]es, [a]ll, [s]kip, [n]o: "
                              "n (standard input is not a terminal)") != std::string::npos,
              *c.option == '\0');
    const std::string bLine =
        std::string(c.b).insert(std::string(c.b).find('\t') + 1, (out / "b.wav").string() + "\t");
    EXPECT_THAT(result.out, HasSubstr("\n" + bLine)) << result.out;
    EXPECT_THAT(result.out, HasSubstr(c.bGoesOn ? "\nrepaired\t" + (out / "c.wav").string()
                                                : "\nnot processed\t" + (out / "c.wav").string() +
                                                      "\tthe batch stopped before it\n"));
    Files expected{{"a.wav", fixed},
                   {"b.wav", std::string(c.b).starts_with("repaired") ? fixed : older}};
    if (c.bGoesOn)
        expected["c.wav"] = fixed;
    EXPECT_EQ(filesIn(out), expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, CliBatchStop, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --json gives one object per file; files left alone say why; arguments that are not
// .wav get a line on standard error; --verbose adds the job's own lines there; the
// leftovers of a run that is gone are removed and the run says so.
TEST_F(CliBatch, JsonLinesVerboseNoticesAndLeftoversOfAGoneRun)
{
    const Bytes intact =
        riff({chunk("fmt ", fmtPcm(1, 48000, 24)), kBext, chunk("data", samples(30))});
    const Bytes noBext = riff({Bytes(24, 0), chunk("data", samples(30))});
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    writeFile(out / (".korva-" + std::to_string(gone) + "-aBc123"), ascii("half a copy"));
    writeFile(out / "intact.WaV", ascii("older"));
    const std::string text = addSource("notes.txt", ascii("notes"));
    const auto result =
        CliProcess::run(repairArgs({.nSampleRate = 48000, .nBitsPerSample = 24},
                                   {"--json", "--verbose", "--yes", text,
                                    addSource("intact.WaV", intact), addSource("b.wav", noBext)}));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "korva-cli: skipped, not a .wav file: " + text +
                              "\nkorva-cli: removed 1 unfinished temporary file(s) that an "
                              "interrupted run left in " +
                              out.string() + "\nkorva-cli: Deleting " +
                              (out / "intact.WaV").string() + "\nkorva-cli: 2 unchanged\n");
    std::istringstream lines(result.out);
    std::vector<json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(json::parse(line));
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]["destination"], (out / "intact.WaV").string());
    EXPECT_EQ(objects[0]["kind"], "unchanged");
    EXPECT_EQ(objects[0]["detail"], "already has a format chunk");
    EXPECT_EQ(objects[1]["detail"], "no bext chunk");
    EXPECT_EQ(objects[1]["format"], nullptr);
    EXPECT_EQ(filesIn(out), (Files{{"intact.WaV", intact}, {"b.wav", noBext}}));
}

// inspect --json prints a line per file: an object that parses back to what the file
// holds, or a missing one's error (status 1); the text form agrees, with no trace.
TEST_P(CliFileReport, JsonParsesBackToTheFileAndTheTextSaysTheSame)
{
    const auto& [name, file, fields] = GetParam();
    const std::string path = addSource("f.wav", file), missing = src / "none.wav";
    const auto result = CliProcess::run({"inspect", "--json", path, missing});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "korva-cli: " + missing + ": no such file\n");
    const auto end = result.out.find('\n');
    EXPECT_EQ(result.out.substr(end),
              "\n{\"path\":\"" + missing + "\",\"error\":\"no such file\"}\n");
    const json report = json::parse(result.out.substr(0, end));
    json expected = json::parse(fields);
    expected["path"] = path;
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(report[key], value) << key;
    const std::string text = CliProcess::run({"inspect", path}).out;
    for (const auto& chunk : report["chunks"])
        EXPECT_THAT(text,
                    HasSubstr(chunk["hole"]
                                  ? "\n    (hole)  offset " + chunk["offset"].dump() + "  length " +
                                        chunk["size"].dump()
                                  : "\n    " + chunk["id"].get<std::string>() + "  offset " +
                                        chunk["offset"].dump() + "  size " + chunk["size"].dump()));
    EXPECT_THAT(text,
                HasSubstr("\n  verdict:         " + report["verdict"].get<std::string>() + "\n"));
    EXPECT_THAT(text, Not(HasSubstr("SearchForChunk")));
}

INSTANTIATE_TEST_SUITE_P(Files, CliFileReport, ::testing::ValuesIn(kReportCases), kRowName);

// The batch stopped again and again: by one Ctrl-C, which ends it after the current
// file, by a second once the first is taken, which ends it there (both status 130), then
// by SIGKILL at random points. Every file under a final name is whole. For Ctrl-C the
// lines fill the one-page pipe, read only up to the first file, so the batch cannot end
// first.
TEST_F(CliBatch, StoppedBySignalsLeavesOnlyWholeFiles)
{
    std::vector<std::string> args =
        repairArgs({.nSampleRate = 48000, .nBitsPerSample = 24}, {"--yes"});
    Files expected;
    for (uint32_t i = 0; i < 200; ++i) // every third needs an insert, which moves all its data
    {
        const Bytes source = lostFormat(samples(24999, i), i % 3 != 0);
        args.push_back(addSource("take" + std::to_string(i) + ".wav", source));
        expected[fs::path(args.back()).filename()] = repaired(source, 48000, 24);
    }
    // How long a whole batch takes here, so that the kills fall inside one.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(CliProcess::run(args).status, 0);
    const auto whole = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(filesIn(out) == expected);

    std::mt19937 random(20240607);
    std::uniform_int_distribution<long> delay(0, whole / std::chrono::microseconds(1));
    for (int round = 0; round < 14; ++round)
    {
        const bool bCtrlC = round < 2;
        SCOPED_TRACE(bCtrlC ? std::to_string(round + 1) + " Ctrl-C" : "SIGKILL");
        if (round % 2 == 0 || round == 1) // Ctrl-C and every other kill from an empty folder
            fs::remove_all(out), fs::create_directory(out);
        CliProcess cli(args);
        if (bCtrlC)
        {
            ASSERT_TRUE(cli.waitFor("repaired\t"));
            cli.send(SIGINT);
            ASSERT_TRUE(cli.waitForError(
                "korva-cli: stopping after the current file; Ctrl-C again ends at once\n"));
            if (round == 1)
                cli.send(SIGINT);
        }
        else
        {
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
            cli.send(SIGKILL);
        }
        const int status = cli.finish().status;
        Files files = filesIn(out);
        const std::size_t nFiles = files.size();
        std::erase_if(files, [](const auto& file) { return file.first.starts_with(".korva-"); });
        for (const auto& [name, bytes] : files)
            EXPECT_TRUE(bytes == expected[name]) << name << " is partial or unknown";
        if (bCtrlC)
        {
            EXPECT_EQ(status, 130);
            EXPECT_TRUE(round == 1 || files.size() == nFiles) << "one Ctrl-C leaves no temporary";
            EXPECT_GE(files.size(), 1u);
            EXPECT_LT(files.size(), expected.size());
        }
    }
}

// Ctrl-C while the question waits on the terminal for an answer: the batch stops at
// once, the file asked about and the rest not processed, the older copy kept.
TEST_F(CliBatch, CtrlCAtTheQuestionStopsWithoutAnAnswer)
{
    const Bytes damaged = lostFormat(samples(60));
    writeFile(out / "a.wav", ascii("older"));
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal) | unlockpt(terminal), 0);
    const int input = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    CliProcess cli(repairArgs({.nSampleRate = 48000, .nBitsPerSample = 24},
                              {addSource("a.wav", damaged), addSource("b.wav", damaged)}),
                   0, KORVA_CLI_PATH, input);
    close(input);
    ASSERT_TRUE(
        cli.waitForError("a.wav already exists! Overwrite file? [y]es, [a]ll, [s]kip, [n]o: "));
    cli.send(SIGINT);
    const auto result = cli.finish();
    close(terminal);
    EXPECT_EQ(result.status, 130);
    EXPECT_EQ(result.out, "not processed\t" + (out / "a.wav").string() +
                              "\tthe file already in the destination was kept\nnot processed\t" +
                              (out / "b.wav").string() + "\tthe batch stopped before it\n");
    EXPECT_EQ(filesIn(out), (Files{{"a.wav", ascii("older")}}));
}
