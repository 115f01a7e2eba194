#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "CardRecorder.h"
#include "FatCard.h"
#include "FileOutcome.h"
#include "Layouts.h"
#include "RepairJob.h"
#include "TakeList.h"
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
// much waits for the reader, standard error into a file unless a terminal is given. A file size
// limit caps every file the child writes (a full disk without root), SIGXFSZ ignored.
class CliProcess
{
public:
    struct Result
    {
        int status; // 128 + N when killed by signal N
        std::string out, err;
    };

    // input: the child's standard input (none: /dev/null); error: its standard error.
    explicit CliProcess(const std::vector<std::string>& args, rlim_t nFileSizeLimit = 0,
                        const char* program = KORVA_CLI_PATH, int input = -1, int error = -1)
    {
        int outPipe[2];
        EXPECT_EQ(pipe(outPipe), 0);
        fcntl(outPipe[0], F_SETPIPE_SZ, 1);
        if ((m_pid = fork()) == 0)
        {
            dup2(input >= 0 ? input : open("/dev/null", O_RDONLY), STDIN_FILENO);
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(error >= 0 ? error : fileno(m_err), STDERR_FILENO);
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

// A pseudo-terminal for a child's standard input: what is typed into it the child reads
// as from a user at a terminal, a line at a time.
struct Terminal
{
    Terminal()
    {
        EXPECT_GE(master, 0);
        EXPECT_EQ(grantpt(master) | unlockpt(master), 0);
        input = open(ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~Terminal() { close(input), close(master); }
    void type(const std::string& text) const
    {
        EXPECT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // What a child wrote to the terminal and is still to be read (line feeds as "\r\n").
    std::string written() const
    {
        std::string text;
        char buffer[4096];
        for (pollfd ready{master, POLLIN, 0}; poll(&ready, 1, 0) == 1;)
        {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    int input = -1;
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
            EXPECT_TRUE(readFile(path, 0, source.first.size()) == source.first &&
                        fs::file_size(path) == source.second)
                << path;
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

    // command's arguments that choose format f, then rest.
    static std::vector<std::string> formatArgs(std::vector<std::string> command, const WavFormat& f,
                                               std::vector<std::string> rest)
    {
        command.insert(command.end(), {"--rate", std::to_string(f.nSampleRate), "--bits",
                                       std::to_string(f.nBitsPerSample), "--channels",
                                       std::to_string(f.nChannels)});
        if (f.IsFloat())
            command.push_back("--float");
        command.insert(command.end(), rest.begin(), rest.end());
        return command;
    }
    std::vector<std::string> repairArgs(const WavFormat& f, std::vector<std::string> rest) const
    {
        return formatArgs({"repair", "--dest", out}, f, std::move(rest));
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

// A table-driven CliBatch; a row's name is its name or its first field.
template <typename Row> class CliCase : public CliBatch, public ::testing::WithParamInterface<Row>
{
};
constexpr auto kRowName = [](const auto& info)
{
    if constexpr (requires { info.param.name; })
        return std::string(info.param.name);
    else
        return std::string(std::get<0>(info.param));
};

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

// The samples as sox decodes them, in the file's own encoding, through the effects. sox
// carries float through 32-bit integers, so float samples are ffmpeg's, copied out as they are.
Bytes soxSamples(const fs::path& file, bool bFloat = false, std::vector<std::string> effects = {})
{
    effects.insert(effects.begin(), {file, "-t", "raw", "-"});
    const std::string raw = bFloat ? CliProcess::run({"-v", "error", "-i", file, "-map", "0:a",
                                                      "-c", "copy", "-f", "data", "-"},
                                                     "ffmpeg")
                                         .out
                                   : CliProcess::run(effects, "sox").out;
    return {raw.begin(), raw.end()};
}

using CliLayout = CliCase<Layout>;

// Every layout of the repair's table through korva-cli: inspect says what repair
// then does, the copy is the table's file (or the source byte for byte), three
// outside decoders read the original audio from it, and repairing the copy again
// leaves it as it is. A damaged format chunk tells the format alone: --auto mends
// it alike, and a rate chosen against it is written with a warning, or with
// --strict refused.
TEST_P(CliLayout, InspectSaysWhatRepairDoesAndDecodersReadTheOriginalAudio)
{
    const Layout& c = GetParam();
    const std::string path = addSource("take.wav", c.source);
    const json report =
        json::parse(CliProcess::run(formatArgs({"inspect", "--json"}, c.format, {path})).out);
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
                                      // a line that warns never says plainly "repaired"
                                      : result.out.find(" — warning: ") != std::string::npos
                                          ? "repaired with warnings\t"
                                          : "repaired\t"));
    if (c.repaired.empty())
        return;
    const auto decodersRead = [&](const WavFormat& f)
    {
        EXPECT_EQ(outsideFormats(copy),
                  std::vector(3, Format{f.nSampleRate, f.nBitsPerSample, f.nChannels}));
        EXPECT_TRUE(soxSamples(copy, f.IsFloat()) == c.pcm);
    };
    decodersRead(c.format);

    fs::rename(copy, src / "again.wav");
    const auto again = CliProcess::run(repairArgs(c.format, {src / "again.wav"}));
    EXPECT_EQ(again.out,
              "unchanged\t" + (out / "again.wav").string() + "\talready has a format chunk\n");
    EXPECT_TRUE(readFile(out / "again.wav") == expected);
    if (c.outcome != KorvaWavFile::RepairOutcome::Mended)
        return;

    const auto automatic = CliProcess::run({"repair", "--dest", out, "--auto", path});
    EXPECT_THAT(automatic.out, HasSubstr(" mended: "));
    EXPECT_THAT(automatic.out, HasSubstr("(rate from the damaged format chunk; depth from the "
                                         "damaged format chunk"));
    EXPECT_TRUE(readFile(copy) == expected) << automatic.err;
    fs::remove(copy);
    WavFormat chosen = c.format;
    chosen.nSampleRate = c.format.nSampleRate == 44100 ? 48000 : 44100;
    const std::string warning = "written as " + std::to_string(chosen.nSampleRate) +
                                " Hz; the damaged format chunk says " +
                                std::to_string(c.format.nSampleRate) + " Hz";
    const auto strict = CliProcess::run(repairArgs(chosen, {"--strict", path}));
    EXPECT_EQ(strict.status, 1);
    EXPECT_THAT(strict.out, HasSubstr("\tthe chosen format contradicts the file: " + warning));
    EXPECT_FALSE(fs::exists(copy));
    const auto contrary = CliProcess::run(repairArgs(chosen, {path}));
    EXPECT_THAT(contrary.out, HasSubstr("written over as chosen: "));
    EXPECT_THAT(contrary.out, HasSubstr(warning));
    decodersRead(chosen);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CliLayout, ::testing::ValuesIn(Layouts()), kRowName);

// CliBatch with its sources and copies on an XFS image made and mounted for the
// test: a file system whose files share blocks, of 4096 bytes.
template <typename Row> class CliOnXfs : public CliCase<Row>
{
protected:
    static constexpr std::size_t kBlock = 4096;

    void SetUp() override
    {
#ifdef KORVA_PORTABLE_COPY
        GTEST_SKIP() << "the portable copy reads and writes every byte: it shares no blocks";
#endif
        const fs::path image = m_images / "xfs.img";
        writeFile(image, {});
        fs::resize_file(image, 320 << 20); // XFS's least is 300 MiB; sparse
        if (CliProcess::run({"-q", image}, "mkfs.xfs").status != 0)
            GTEST_SKIP() << "mkfs.xfs (xfsprogs) cannot make an XFS image here";
        if (CliProcess::run({"-o", "loop", image, this->dir.path()}, "mount").status != 0)
            GTEST_SKIP() << "an XFS image cannot be mounted here (needs root and loop devices)";
        m_bMounted = true;
        CliBatch::SetUp();
    }
    void TearDown() override
    {
        if (!m_bMounted)
            return;
        CliBatch::TearDown();
        EXPECT_EQ(CliProcess::run({this->dir.path()}, "umount").status, 0);
    }

    // What a destination that shares blocks makes of a file repaired as
    // repaired (from source) with a format chunk inserted: a JUNK chunk behind
    // the chunk fills the rest of its block, so the audio keeps its place in
    // a block. A pad byte put in as well is an odd count no chunk can make
    // whole: the plain chunk then stays alone.
    static Bytes BlockAligned(Bytes repaired, const Bytes& source)
    {
        const std::size_t nInserted = repaired.size() - source.size();
        if (nInserted % 2 == 1)
            return repaired;
        const std::string_view id = "fmt ";
        const auto fmt = std::search(repaired.begin(), repaired.end(), id.begin(), id.end());
        const Bytes junk = chunk("JUNK", Bytes(kBlock - nInserted - 8, 0));
        repaired.insert(fmt + 24, junk.begin(), junk.end());
        putLe32(repaired, 4, static_cast<uint32_t>(repaired.size() - 8));
        return repaired;
    }

private:
    TempDir m_images;
    bool m_bMounted = false;
};

std::vector<Layout> InsertionLayouts()
{
    std::vector<Layout> rows;
    std::ranges::copy_if(Layouts(), std::back_inserter(rows),
                         [](const Layout& row)
                         { return row.outcome == KorvaWavFile::RepairOutcome::Inserted; });
    return rows;
}

using CliLayoutOnXfs = CliOnXfs<Layout>;

// Every layout whose repair inserts a format chunk, copied to a destination
// that shares blocks: the chunk comes with JUNK up to a whole block, and three
// outside decoders read the original audio.
TEST_P(CliLayoutOnXfs, AnInsertedFormatChunkFillsItsBlockWithJunk)
{
    const Layout& c = GetParam();
    const auto result = CliProcess::run(repairArgs(c.format, {addSource("take.wav", c.source)}));
    const fs::path copy = out / "take.wav";
    EXPECT_EQ(result.status, 0) << result.err;
    ASSERT_TRUE(readFile(copy) == BlockAligned(c.repaired, c.source)) << result.out;
    EXPECT_EQ(
        outsideFormats(copy),
        std::vector(3, Format{c.format.nSampleRate, c.format.nBitsPerSample, c.format.nChannels}));
    EXPECT_TRUE(soxSamples(copy) == c.pcm);
}

INSTANTIATE_TEST_SUITE_P(Insertions, CliLayoutOnXfs, ::testing::ValuesIn(InsertionLayouts()),
                         kRowName);

// The bytes of a file's extents that it shares with another, as filefrag
// reads them through FIEMAP.
uint64_t SharedBytes(const fs::path& file)
{
    const std::string extents = CliProcess::run({"-v", "-b1", file}, "filefrag").out;
    uint64_t nShared = 0;
    std::istringstream lines(extents);
    for (std::string line; std::getline(lines, line);)
    {
        // "   0:        0..    4095:    1234..    5329:   4096:   ...   shared"
        unsigned nIndex = 0;
        unsigned long long nFirst = 0, nLast = 0;
        if (line.find("shared") != std::string::npos &&
            std::sscanf(line.c_str(), " %u: %llu.. %llu:", &nIndex, &nFirst, &nLast) == 3)
            nShared += nLast - nFirst + 1;
    }
    return nShared;
}

using CliTakeOnXfs = CliOnXfs<std::tuple<const char*, bool>>; // name, the source's remains

// A take of several megabytes: written over its remains the copy shares every
// block with the source; with a chunk inserted behind bext, every block behind
// the first boundary past bext. The bytes are the repaired take's either way.
TEST_P(CliTakeOnXfs, TheCopySharesTheAudiosBlocksWithTheSource)
{
    const bool bRemains = std::get<1>(GetParam());
    const Bytes pcm = tone(1 << 20, 1, 24);
    const Bytes source = lostFormat(pcm, bRemains);
    const std::string path = addSource("take.wav", source);
    const auto result = CliProcess::run(repairArgs({.nBitsPerSample = 24}, {path}));
    EXPECT_EQ(result.status, 0) << result.err;
    const Bytes fixed = repaired(source, 48000, 24);
    const fs::path copy = out / "take.wav";
    ASSERT_TRUE(readFile(copy) == (bRemains ? fixed : BlockAligned(fixed, source)));
    EXPECT_TRUE(soxSamples(copy) == pcm);
    const uint64_t nShareable = source.size() / kBlock * kBlock - kBlock; // all but the first
    EXPECT_GE(SharedBytes(copy), nShareable);
    EXPECT_GE(SharedBytes(path), nShareable);
}

INSTANTIATE_TEST_SUITE_P(Takes, CliTakeOnXfs,
                         ::testing::Values(std::tuple{"WrittenOverRemains", true},
                                           std::tuple{"InsertedBehindBext", false}),
                         kRowName);

// Rates, depths (integer and float) and channel counts a recorder writes: the copy
// states them, three outside decoders read them and sox decodes the original audio;
// inspect gives each channel's levels as sox's stats measure the copy, and draws
// the take as a PNG that file and ImageMagick read at its size.
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

// Real audio in a format: the system's own recorded voices (the alsa sounds), one
// to a channel from nFirstVoice on, through sox at the format's rate and depth; nFrames
// frames from nSkip on. bNoiseFloor: dithered at 12 bits, so that, as in a recorder's
// takes, no stretch is digital silence.
Bytes voices(const WavFormat& f, std::size_t nFrames, std::size_t nFirstVoice = 0,
             std::size_t nSkip = 0, bool bNoiseFloor = false)
{
    const char* const kVoices[] = {"Front_Center", "Front_Left", "Front_Right", "Rear_Center",
                                   "Rear_Left",    "Rear_Right", "Side_Left",   "Side_Right"};
    std::vector<std::string> args = {"-V1", "-R"};
    if (f.nChannels > 1)
        args.push_back("-M"); // each input a channel of its own
    for (uint16_t c = 0; c < f.nChannels; ++c)
        args.push_back("/usr/share/sounds/alsa/" + std::string(kVoices[(c + nFirstVoice) % 8]) +
                       ".wav");
    args.insert(args.end(),
                {"-t", "raw", "-r", std::to_string(f.nSampleRate), "-e",
                 f.IsFloat()             ? "floating-point"
                 : f.nBitsPerSample == 8 ? "unsigned-integer"
                                         : "signed-integer",
                 "-b", std::to_string(f.nBitsPerSample), "-", "rate", std::to_string(f.nSampleRate),
                 "trim", std::to_string(nSkip) + "s", std::to_string(nFrames) + "s"});
    if (bNoiseFloor)
        args.insert(args.end(), {"dither", "-p", "12"});
    const std::string raw = CliProcess::run(args, "sox").out;
    return {raw.begin(), raw.end()};
}

TEST_P(CliFormat, OutsideDecodersReadTheChosenFormatAndTheOriginalAudio)
{
    const WavFormat& f = std::get<1>(GetParam());
    const Bytes pcm = voices(f, 4801);
    ASSERT_EQ(pcm.size(), 4801u * f.BlockAlign()) << "sox could not render the alsa voices";
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

    const fs::path png = out / "take.png";
    const json levels =
        json::parse(CliProcess::run(formatArgs({"inspect", "--json", "--waveform", png}, f, {path}))
                        .out)["levels"];
    const std::string stats = CliProcess::run({copy, "-n", "stats"}, "sox").err;
    for (const char* line : {"Pk lev dB", "RMS lev dB"})
    {
        // One column a channel, behind the overall one when there are more;
        // "-inf" for a silent channel, which inspect gives as null.
        std::istringstream columns(stats.substr(stats.find(line) + std::strlen(line)));
        std::vector<std::string> values{std::istream_iterator<std::string>(columns), {}};
        values.resize(f.nChannels + (f.nChannels > 1));
        for (uint16_t k = 0; k < f.nChannels; ++k)
        {
            const json& level = levels["channels"][k][line[0] == 'P' ? "peak_dbfs" : "rms_dbfs"];
            const std::string& sox = values[k + (f.nChannels > 1)];
            if (sox == "-inf")
                EXPECT_TRUE(level.is_null()) << line << k;
            else
                EXPECT_NEAR(level.get<double>(), std::stod(sox), 0.05) << line << k;
        }
    }
    const std::string height = std::to_string(100 * f.nChannels);
    EXPECT_THAT(CliProcess::run({png}, "file").out,
                HasSubstr(": PNG image data, 1000 x " + height + ","));
    EXPECT_EQ(CliProcess::run({"-format", "%m %wx%h", png}, "identify").out, "PNG 1000x" + height);
}

INSTANTIATE_TEST_SUITE_P(Formats, CliFormat, ::testing::ValuesIn(kFormatCases), kRowName);

// A damaged take's evidence and the options: korva-cli's line (no destination).
// The audio is pcm, or the alsa voices in a format, nFrames of them and nPartial
// bytes of one more. The card's other takes, SC12_T01.WAV on, hold intact format
// chunks of cardTakes; korva-cli is given them before the take.
struct EvidenceCase
{
    const char* name;
    Bytes bext;
    std::string ixml; // "": none
    std::vector<std::string> options;
    std::string line;
    Bytes pcm = tone(1000, 1, 16);
    std::optional<WavFormat> voiced = {};
    std::size_t nFrames = 4801;
    std::size_t nPartial = 0;
    std::vector<WavFormat> cardTakes = {};
};

const std::vector<std::string> kAuto = {"--auto"};
const std::vector<std::string> kNoOption = {};
// @: where the remains begin, right behind the bext chunk (its pad byte, zero like
// them, is taken for remains).
const std::string kOverRemains = "format chunk written over the remains of the lost one at @";
const std::string kWritten = "repaired\t" + kOverRemains + ": ";
const std::string kWarned = "repaired with warnings\t" + kOverRemains + ": ";
const std::string kFromHistory =
    "(rate from CodingHistory; depth from CodingHistory; channels from CodingHistory)";
constexpr WavFormat kStereoFloat = {
    .nFormatTag = WavFormat::kFloat, .nChannels = 2, .nSampleRate = 48000, .nBitsPerSample = 32};
constexpr WavFormat kStereo24Bit = {.nChannels = 2, .nSampleRate = 48000, .nBitsPerSample = 24};
const Bytes kFloatHistory = bextEvidence("", 0, "A=PCM,F=48000,W=32,M=stereo\r\n");
const Bytes kStereo24History = bextEvidence("", 0, "A=PCM,F=48000,W=24,M=stereo\r\n");
const std::string kStereo24IXml = ixmlOf("48000", "24", "2");
const std::vector<std::string> kStereo24Told = {"--rate", "48000",      "--bits",
                                                "24",     "--channels", "2"};
// The line of 8001 stereo 24-bit frames and nPartial bytes of one more: cut to the whole frames.
std::string partialFrameLine(std::size_t nPartial, const std::string& sources)
{
    return "repaired with warnings\t" + kOverRemains + ", data size cut to 48006 bytes (" +
           std::to_string(nPartial) +
           " bytes of a partial last frame left out): 48000 Hz, 24 bit, stereo" + sources +
           " — warning: its data size of " + std::to_string(48006 + nPartial) +
           " bytes is no whole number of 6-byte frames: its partial last frame is left out";
}
const std::string kFromCardTakes = "the card's other takes: SC12_T01.WAV, SC12_T02.WAV";
const std::string kNoRate = "failed\tcannot tell the sample rate: no iXML, CodingHistory or time "
                            "reference gives it; pass --rate";
const EvidenceCase kEvidenceCases[] = {
    {"IXmlAlone", bextBody(0), ixmlOf("96000", "24", "2"), kAuto,
     kWritten + "96000 Hz, 24 bit, stereo (rate from iXML; depth from iXML; channels from iXML)",
     tone(1000, 2, 24)},
    {"CodingHistoryAloneItsLastLine",
     bextEvidence("", 0, "A=ANALOGUE,M=stereo\r\nA=PCM,F=48000,W=16,M=mono,T=Korva\r\n"), "", kAuto,
     kWritten + "48000 Hz, 16 bit, mono " + kFromHistory},
    {"TimeReferenceForTheRate",
     bextEvidence("12:00:00", 2073600000, ""),
     "",
     {"--rate", "auto", "--bits", "16", "--channels", "1"},
     kWritten + "48000 Hz, 16 bit, mono (rate from time reference)"},
    {"AgreeingSources", bextEvidence("12:00:00", 2073600000, "A=PCM,F=48000,W=16,M=mono\r\n"),
     ixmlOf("48000", "16", "1"), kAuto,
     kWritten + "48000 Hz, 16 bit, mono (rate from CodingHistory, time reference and iXML; depth "
                "from CodingHistory and iXML; channels from CodingHistory and iXML)"},
    {"DisagreeingSources", bextEvidence("", 0, "A=PCM,F=96000,W=16,M=mono\r\n"),
     ixmlOf("48000", "16", "1"), kAuto,
     "failed\tcannot tell the sample rate: CodingHistory says 96000 Hz and iXML says 48000 Hz; "
     "pass --rate"},
    {"NothingToGoBy", bextBody(0), "", kNoOption,
     "failed\tcannot tell the sample rate: no iXML, CodingHistory or time reference gives it; "
     "pass --rate"},
    {"DepthAndChannelsFromTheAudio", bextBody(0),
     "<BWFXML><SPEED><FILE_SAMPLE_RATE>48000</FILE_SAMPLE_RATE></SPEED></BWFXML>", kAuto,
     kWritten + "48000 Hz, 24 bit, stereo (rate from iXML; depth from the audio; channels from the "
                "audio)",
     tone(40000, 2, 24)},
    {"ChoiceAgainstTheMetadata",
     bextBody(0),
     ixmlOf("48000", "16", "1"),
     {"--rate", "44100", "--bits", "16"},
     kWarned + "44100 Hz, 16 bit, mono (channels from iXML) — warning: written as 44100 Hz; iXML "
               "says 48000 Hz"},
    {"RateInKilohertzShortOptions",
     bextBody(0),
     "",
     {"-r", "44.1k", "-b", "24", "-c", "2"},
     kWritten + "44100 Hz, 24 bit, stereo",
     tone(1000, 2, 24)},
    {"RateInWholeKilohertz",
     bextBody(0),
     "",
     {"-r", "48K", "-b", "16", "-c", "1"},
     kWritten + "48000 Hz, 16 bit, mono"},
    {"StrictRefuses",
     bextBody(0),
     ixmlOf("48000", "16", "1"),
     {"--rate", "44100", "--bits", "16", "--strict"},
     "failed\tthe chosen format contradicts the file: written as 44100 Hz; iXML says 48000 Hz"},
    // A=PCM names no encoding: the audio tells float from integer.
    {"FloatTakeWithPcmHistory",
     kFloatHistory,
     ixmlOf("48000", "32", "2"),
     kNoOption,
     kWritten + "48000 Hz, 32 bit float, stereo (rate from CodingHistory and iXML; depth from "
                "CodingHistory, iXML and the audio, float or integer from the audio; channels "
                "from CodingHistory, iXML and the audio)",
     {},
     kStereoFloat},
    {"FloatTakeTooShortToHear",
     kFloatHistory,
     "",
     kNoOption,
     "failed\tcannot tell whether the samples are integer or float: nothing tells integer from "
     "float 32-bit samples; pass --bits (and --float for float samples)",
     {},
     kStereoFloat,
     2000},
    {"FloatChosenDepthFromTheFile",
     kFloatHistory,
     "",
     {"--auto", "--float"},
     kWritten + "48000 Hz, 32 bit float, stereo (rate from CodingHistory; depth from "
                "CodingHistory; channels from CodingHistory)",
     {},
     kStereoFloat,
     2000},
    {"FloatDepthChosenRateAndChannelsFromTheFile",
     bextBody(0),
     ixmlOf("48000", "", "2"),
     {"--auto", "--bits", "32", "--float"},
     kWritten + "48000 Hz, 32 bit float, stereo (rate from iXML; channels from iXML)",
     {},
     kStereoFloat,
     2000},
    // An explicit part wins over auto, and over metadata that says otherwise.
    {"ChosenDepthWinsOverAuto",
     bextEvidence("", 0, "A=PCM,F=48000,W=24,M=mono\r\n"),
     "",
     {"--bits", "16", "--auto"},
     kWarned + "48000 Hz, 16 bit, mono (rate from CodingHistory; channels from CodingHistory) — "
               "warning: written as 16 bit; CodingHistory says 24 bit",
     {},
     WavFormat{.nSampleRate = 48000, .nBitsPerSample = 16}},
    {"ChosenRateAndChannelsWinOverAuto",
     bextBody(0),
     ixmlOf("48000", "16", "1"),
     {"--auto", "--rate", "44100", "--channels", "2"},
     kWarned + "44100 Hz, 16 bit, stereo (depth from iXML) — warning: written as 44100 Hz; iXML "
               "says 48000 Hz — warning: written as 2 channels; iXML says mono",
     {},
     WavFormat{.nChannels = 2, .nSampleRate = 44100, .nBitsPerSample = 16}},
    // A card's takes with rate and depth given: each keeps its own channels.
    {"StereoCardTake",
     kStereo24History,
     "",
     {"--rate", "48000", "--bits", "24"},
     kWritten + "48000 Hz, 24 bit, stereo (channels from CodingHistory)",
     {},
     kStereo24Bit},
    {"FourChannelCardTake",
     bextBody(0),
     ixmlOf("48000", "24", "4"),
     kNoOption,
     kWritten +
         "48000 Hz, 24 bit, 4 channels (rate from iXML; depth from iXML; channels from iXML)",
     {},
     WavFormat{.nChannels = 4, .nSampleRate = 48000, .nBitsPerSample = 24}},
    // A finished data size with a partial last frame, iXML behind it.
    {"PartialFrameOfAChosenFormat",
     bextBody(0),
     kStereo24IXml,
     kStereo24Told,
     partialFrameLine(4, ""),
     {},
     kStereo24Bit,
     8001,
     4},
    // The odd size's pad byte goes with the partial frame.
    {"PartialFrameBeforeAPadByte",
     bextBody(0),
     kStereo24IXml,
     kStereo24Told,
     partialFrameLine(3, ""),
     {},
     kStereo24Bit,
     8001,
     3},
    {"PartialFrameOfAnAgreedFormat",
     kStereo24History,
     kStereo24IXml,
     kNoOption,
     partialFrameLine(4, " (rate from CodingHistory and iXML; depth from CodingHistory, iXML and "
                         "the audio; channels from CodingHistory, iXML and the audio)"),
     {},
     kStereo24Bit,
     8001,
     4},
    {"PartialFrameStrict",
     kStereo24History,
     kStereo24IXml,
     {"--strict"},
     "failed\tits 48010 bytes of audio are not whole frames of 6 bytes (48000 Hz, 24 bit, "
     "stereo): that cannot be its format",
     {},
     kStereo24Bit,
     8001,
     4},
    // The card's other takes name what the file's own sources do not, where two
    // or more agree and none disagrees: the audio and the metadata outrank them.
    {"CardTakesNameTheRate",
     bextBody(0),
     "",
     kNoOption,
     kWritten + "48000 Hz, 24 bit, stereo (rate from " + kFromCardTakes +
         "; depth from the audio; channels from the audio)",
     {},
     kStereo24Bit,
     8001,
     0,
     {kStereo24Bit, kStereo24Bit}},
    {"CardTakesNameWhatTooLittleAudioCannot",
     bextBody(0),
     "",
     kNoOption,
     kWritten + "48000 Hz, 24 bit, stereo (rate from " + kFromCardTakes + "; depth from " +
         kFromCardTakes + "; channels from " + kFromCardTakes + ")",
     {},
     kStereo24Bit,
     2000,
     0,
     {kStereo24Bit, kStereo24Bit}},
    {"CardTakesDisagreeing",
     bextBody(0),
     "",
     kNoOption,
     kNoRate,
     {},
     kStereo24Bit,
     8001,
     0,
     {kStereo24Bit, WavFormat{.nChannels = 2, .nSampleRate = 44100, .nBitsPerSample = 24}}},
    {"OneCardTake", bextBody(0), "", kNoOption, kNoRate, {}, kStereo24Bit, 8001, 0, {kStereo24Bit}},
    {"OwnMetadataOutranksCardTakes",
     bextEvidence("", 0, "A=PCM,F=44100,W=24\r\n"),
     "",
     kNoOption,
     kWritten + "44100 Hz, 24 bit, stereo (rate from CodingHistory; depth from CodingHistory and "
                "the audio; channels from the audio)",
     {},
     WavFormat{.nChannels = 2, .nSampleRate = 44100, .nBitsPerSample = 24},
     8001,
     0,
     {kStereo24Bit, kStereo24Bit}},
};

using CliEvidence = CliCase<EvidenceCase>;

// The row's audio: its pcm, or the voices in its format, cut to nFrames and nPartial bytes.
Bytes evidencePcm(const EvidenceCase& c)
{
    if (!c.voiced)
        return c.pcm;
    Bytes pcm = voices(*c.voiced, c.nFrames + 1);
    pcm.resize(c.nFrames * c.voiced->BlockAlign() + c.nPartial);
    return pcm;
}

// A card's take of format f whose format chunk is intact.
Bytes intactTake(const WavFormat& f)
{
    Bytes fmt = fmtPcm(f.nChannels, f.nSampleRate, f.nBitsPerSample);
    fmt[0] = static_cast<uint8_t>(f.nFormatTag);
    return riff({chunk("bext", bextBody(0), true), chunk("fmt ", fmt),
                 chunk("data", Bytes(100 * f.BlockAlign(), 0), true)});
}

// The card's other takes of the row, as their files.
std::vector<Bytes> cardTakesOf(const EvidenceCase& c)
{
    std::vector<Bytes> files;
    for (const WavFormat& f : c.cardTakes)
        files.push_back(intactTake(f));
    return files;
}

// The last line of text, without its newline.
std::string lastLine(const std::string& text)
{
    const std::string lines = text.ends_with('\n') ? text.substr(0, text.size() - 1) : text;
    return lines.substr(lines.rfind('\n') + 1);
}

// The row's take: bext, the remains of its format chunk, the audio, its iXML.
Bytes evidenceTake(const EvidenceCase& c, const Bytes& pcm)
{
    return riff({chunk("bext", c.bext, true), Bytes(24, 0), chunk("data", pcm, true),
                 c.ixml.empty() ? Bytes{} : chunk("iXML", ascii(c.ixml), true)});
}

// Each source of evidence alone, agreeing, disagreeing, absent or malformed; a
// choice against them warns, or with --strict fails. Nothing is guessed. A
// repaired copy is read by the outside decoders with the original audio, and
// the summary counts the line's kind.
TEST_P(CliEvidence, TheFileTellsItsFormatOrSaysWhatIsMissing)
{
    const EvidenceCase& c = GetParam();
    const WavFormat f = c.voiced.value_or(WavFormat{});
    Bytes pcm = evidencePcm(c);
    ASSERT_EQ(pcm.size(), c.voiced ? c.nFrames * f.BlockAlign() + c.nPartial : c.pcm.size())
        << "sox could not render";
    std::vector<std::string> args = {"repair", "--dest", out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    int nCardTake = 0;
    for (const Bytes& take : cardTakesOf(c))
        args.push_back(addSource("SC12_T0" + std::to_string(++nCardTake) + ".WAV", take));
    args.push_back(addSource("take.wav", evidenceTake(c, pcm)));
    const auto result = CliProcess::run(args);
    std::string expected = c.line;
    expected.insert(expected.find('\t') + 1, (out / "take.wav").string() + "\t");
    if (const auto at = expected.find('@'); at != std::string::npos)
        expected.replace(at, 1, std::to_string(20 + c.bext.size())); // a pad byte joins the remains
    EXPECT_EQ(lastLine(result.out), expected);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), c.cardTakes.size() + 1);
    EXPECT_EQ(result.status, c.line.starts_with("failed") ? 1 : 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr(" 1 " + c.line.substr(0, c.line.find('\t'))));
    if (!c.line.starts_with("repaired"))
        return;
    const fs::path copy = out / "take.wav";
    pcm.resize(pcm.size() - c.nPartial);
    EXPECT_TRUE(soxSamples(copy, f.IsFloat()) == pcm);
    if (!c.voiced)
        return;
    EXPECT_EQ(outsideFormats(copy),
              std::vector(3, Format{f.nSampleRate, f.nBitsPerSample, f.nChannels}));
    // Byte for byte: the format chunk over the remains, the whole frames, iXML behind them.
    Bytes fmt = fmtPcm(f.nChannels, f.nSampleRate, f.nBitsPerSample);
    fmt[0] = static_cast<uint8_t>(f.nFormatTag);
    EXPECT_TRUE(readFile(copy) ==
                riff({chunk("bext", c.bext, true), chunk("fmt ", fmt), chunk("data", pcm, true),
                      c.ixml.empty() ? Bytes{} : chunk("iXML", ascii(c.ixml), true)}));
}

INSTANTIATE_TEST_SUITE_P(Evidence, CliEvidence, ::testing::ValuesIn(kEvidenceCases), kRowName);

// A file that inspect, repair and the window's Format column must read alike,
// with the fixed format it is also tried with.
struct VerdictCase
{
    std::string name;
    Bytes file;
    WavFormat fixed;
    std::vector<Bytes> cardTakes = {}; // SC12_T01.WAV on, given before the file
};

// Every layout row, every evidence row and every seed of the fuzz corpus.
std::vector<VerdictCase> verdictCases()
{
    std::vector<VerdictCase> cases;
    for (const Layout& layout : Layouts())
        cases.push_back({"Layout" + layout.name, layout.source, layout.format});
    const WavFormat cd{.nSampleRate = 44100, .nBitsPerSample = 16};
    for (const EvidenceCase& c : kEvidenceCases)
        cases.push_back({"Evidence" + std::string(c.name), evidenceTake(c, evidencePcm(c)), cd,
                         cardTakesOf(c)});
    for (const Bytes& seed : SeedShapes())
        cases.push_back({"Seed" + std::to_string(cases.size()), seed, cd});
    return cases;
}

// What becomes of a file in words the three share: "write 48000 Hz, 24 bit, mono"
// (" with warnings" where the file's metadata names another), "keep" or "refuse".
std::string writes(const json& format, bool bWarned)
{
    const WavFormat f{.nFormatTag = format["format_tag"],
                      .nChannels = format["channels"],
                      .nSampleRate = format["sample_rate"],
                      .nBitsPerSample = format["bits_per_sample"]};
    return "write " + korva::DescribeFormat(f) + (bWarned ? " with warnings" : "");
}

// korva-cli's JSON lines by the file each names under key.
std::map<std::string, json> linesByFile(const std::string& text, const char* pszKey)
{
    std::map<std::string, json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
    {
        json parsed = json::parse(line);
        const std::string file = parsed[pszKey];
        lines[file] = std::move(parsed);
    }
    return lines;
}

// One verdict: inspect, repair and the window's Format column (the job's preview)
// give every file the same format or the same refusal, with the format left to the
// file, fixed, and fixed under --strict; inspect's refusal is repair's, word for word.
// Each row's take stands in a folder of its own, with the card's other takes of
// its row and no other take; korva-cli runs once over all the takes that share a
// choice.
TEST_F(CliBatch, InspectRepairAndTheFormatColumnAgree)
{
    std::map<std::string, std::vector<VerdictCase>> byFixed; // by the format fixed for them
    for (VerdictCase& c : verdictCases())
        byFixed[korva::DescribeFormat(c.fixed) + (c.fixed.IsFloat() ? " float" : "")].push_back(
            std::move(c));
    // By row: the take, and its folder's files (the card's other takes first) as listed.
    std::map<std::string, std::string> paths;
    std::map<std::string, std::vector<std::string>> files;
    std::map<std::string, TakeList> lists;
    for (const auto& [key, cases] : byFixed)
        for (const VerdictCase& c : cases)
        {
            fs::create_directory(src / c.name);
            for (const Bytes& take : c.cardTakes)
                files[c.name].push_back(addSource(
                    c.name + "/SC12_T0" + std::to_string(files[c.name].size() + 1) + ".WAV", take));
            files[c.name].push_back(paths[c.name] = addSource(c.name + "/take.wav", c.file));
            lists[c.name] =
                TakeList::Of({files[c.name].begin(), files[c.name].end()}, TakeList::Named::Any);
        }
    int nPass = 0;
    const auto pass = [&](const std::vector<const VerdictCase*>& cases, bool bFixed, bool bStrict)
    {
        const WavFormat fixed = cases.front()->fixed;
        FormatChoice choice = bFixed ? FormatChoice::Of(fixed) : FormatChoice{};
        choice.bStrict = bStrict;
        const std::vector<std::string> options =
            !bFixed ? std::vector<std::string>{"--auto"}
                    : formatArgs({}, fixed,
                                 bStrict ? std::vector<std::string>{"--strict"}
                                         : std::vector<std::string>{});
        const fs::path dest = out / std::to_string(nPass++);
        std::vector<std::string> inspectArgs = {"inspect", "--json"};
        std::vector<std::string> repairArgs = {"repair",    "--dest", dest,
                                               "--parents", "--yes",  "--json"};
        for (auto* args : {&inspectArgs, &repairArgs})
        {
            args->insert(args->end(), options.begin(), options.end());
            for (const VerdictCase* c : cases)
                args->insert(args->end(), files[c->name].begin(), files[c->name].end());
        }
        const auto reports = linesByFile(CliProcess::run(inspectArgs).out, "path");
        const auto outcomes = linesByFile(CliProcess::run(repairArgs).out, "source");
        for (const VerdictCase* c : cases)
        {
            SCOPED_TRACE(c->name + (bFixed ? (bStrict ? ", fixed, strict" : ", fixed") : ""));
            const std::string& path = paths[c->name];
            ASSERT_TRUE(reports.contains(path) && outcomes.contains(path));
            const json& report = reports.at(path);
            const json& outcome = outcomes.at(path);
            const TakeList& list = lists[c->name];
            const RepairJob::Preview preview =
                RepairJob::PreviewOf(path, choice, list.CardTakes(list.takes.back()));

            const std::string verdict = report["verdict"], status = report["status"];
            const std::string inspected =
                verdict.starts_with("fails: ") ? "refuse"
                : status.starts_with("repairable")
                    ? writes(report["format_to_write"], status == "repairable_with_warnings")
                    : "keep";
            const std::string kind = outcome["kind"];
            const std::string repaired =
                kind == "failed" ? "refuse"
                : kind == "repaired" || kind == "repaired with warnings"
                    ? writes(outcome["format"], !outcome["warnings"].empty())
                    : "keep";
            using Action = RepairJob::Preview::Action;
            const std::string shown = preview.action == Action::Fail ? "refuse"
                                      : preview.action == Action::WriteFormat
                                          ? "write " + korva::DescribeFormat(preview.format) +
                                                (preview.warnings.empty() ? "" : " with warnings")
                                          : "keep";
            EXPECT_EQ(inspected, repaired) << verdict;
            EXPECT_EQ(shown, repaired) << preview.detail;
            if (repaired == "refuse")
            {
                EXPECT_EQ(verdict, "fails: " + outcome["detail"].get<std::string>());
            }
        }
    };
    std::vector<const VerdictCase*> all;
    for (const auto& [key, cases] : byFixed)
        for (const VerdictCase& c : cases)
            all.push_back(&c);
    pass(all, false, false);
    for (const auto& [key, cases] : byFixed)
    {
        std::vector<const VerdictCase*> group;
        for (const VerdictCase& c : cases)
            group.push_back(&c);
        pass(group, true, false);
        pass(group, true, true);
    }
    EXPECT_GT(all.size(), 100u);
}

// Arguments sh runs in the folder of src, out and link (to src); text: of stderr, stdout for 0;
// the files written under out.
struct UsageCase
{
    const char* name;
    const char* args;
    int status;
    const char* text;
    std::size_t nCopies = 0;
};
using CliUsage = CliCase<UsageCase>;

const UsageCase kUsageCases[] = {
    {"Version", "--version", 0,
     "korva-cli " KORVA_VERSION "\nCopyright (c) 2026 The Korva developers\n"},
    {"VersionAfterTheCommand", "repair --version", 0, "korva-cli " KORVA_VERSION "\n"},
    {"Help", "--help", 0, "Usage: korva-cli [OPTIONS] [SUBCOMMAND]"},
    {"NoCommand", "", 2,
     "a command is needed: repair, inspect, extract, append, remove-chunk or rescue"},
    {"UnknownOptionBeforeTheCommand", "--bogus", 2, "there is no option '--bogus'"},
    {"NoSuchCommand", "frobnicate", 2, "'frobnicate' is not a command"},
    {"UnknownOption", "repair --dest out --rate 48000 --bits 16 --fast src/a.wav", 2, "--fast"},
    {"RateNotANumber", "repair --dest out --rate 48kHz --bits 16 src/a.wav", 2,
     "--rate: takes a whole number of hertz from 1000 to 768000 (or kilohertz: 48k, 44.1k), or "
     "auto, not '48kHz'"},
    {"KilohertzPastThreePlaces", "repair -d out -r 44.1001k -b 16 src/a.wav", 2, "not '44.1001k'"},
    {"NoSuchFloatDepth", "repair --dest out --rate 48000 --bits 24 --float src/a.wav", 2,
     "--bits 24 is no float depth (32 or 64)"},
    {"DepthOutOfRange", "repair --dest out --rate 48000 --bits 4 src/a.wav", 2, "not '4'"},
    {"ChannelsOutOfRange", "repair --dest out --rate 48000 --bits 16 --channels 65 src/a.wav", 2,
     "not '65'"},
    {"NoWavAmongTheFiles", "repair --dest out --rate 48000 --bits 16 src/b.txt", 2, "no .wav file"},
    {"DestinationDoesNotExist", "repair --dest out/none --rate 48000 --bits 16 src/a.wav", 2,
     "the destination folder does not exist: out/none; create it, or pass --parents"},
    {"ParentsCreatesTheDestination",
     "repair -d out/day/takes --parents -r 48000 -b 16 -c 1 src/a.wav", 0,
     "repaired\tout/day/takes/a.wav\t", 1},
    {"DestinationIsAFile", "repair --dest src/a.wav --parents --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is not a folder: src/a.wav"},
    {"DestinationLinksToTheSourceFolder", "repair --dest link --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is a folder the files come from"},
    {"DestinationInsideAFolderGiven", "repair --dest out --rate 48000 --bits 16 .", 2,
     "lies inside"},
    {"NoTakeInTheFolder", "repair --dest src --rate 48000 --bits 16 out", 2,
     "no WAVE file among the files and folders"},
    {"YesAndNo", "repair --dest out --rate 48000 --bits 16 --yes --no src/a.wav", 2, "excludes"},
    {"OverwriteAndSkip", "repair -d out -r 48000 -b 16 -yn src/a.wav", 2, "excludes"},
    {"FileNameStartsWithADash", "repair --dest out --rate 48000 --bits 16 src/a.wav -take.wav", 2,
     "there is no option '-take.wav'; to name a file whose name starts with a dash, put -- "
     "before the files or write it as ./-take.wav"},
    {"InspectAFileNameThatStartsWithADash", "inspect -take.wav", 2,
     "there is no option '-take.wav'; to name a file"},
    {"WaveformOfOneTake", "inspect -r 48000 -b 16 -c 1 --waveform out/a.png src/a.wav", 0,
     "\n  levels:          -", 1},
    {"WaveformOfTwoTakes", "inspect --waveform out/a.png src/a.wav link/a.wav", 2,
     "--waveform draws one take, and 2 were given: name one file"},
    {"WaveformOverTheTake", "inspect --waveform link/a.wav src/a.wav", 2,
     "--waveform link/a.wav is the take itself"},
    // Results that cannot be written are no success, though the copy is made.
    {"ResultsToAFullDisk", "repair -d out -r 48000 -b 16 -c 1 src/a.wav >/dev/full", 1,
     "korva-cli: the results could not be written to standard output (No space left on device)", 1},
    {"ReportToAFullDisk", "inspect --json src/a.wav >/dev/full", 1,
     "could not be written to standard output"},
    {"FrameNotAWholeNumber", "extract --from 12k --to 5 src/a.wav out/x.wav", 2,
     "--from takes a whole number of frames, not '12k'"},
    {"FramePast32Bits", "append --from 0 --to 4294967296 src/a.wav out/x.wav", 2,
     "--to takes a whole number of frames up to 4294967295, not '4294967296'"},
    {"ExtractOntoItsSource", "extract --from 0 --to 1 --yes src/a.wav link/a.wav", 2,
     "link/a.wav is the source file itself"},
    {"ChunkIdOfThreeCharacters", "remove-chunk cue --dest out src/a.wav", 2,
     "ID takes exactly four printable characters, not 'cue'"},
    {"RemoveChunkIntoTheSourceFolder", "remove-chunk 'cue ' --dest link src/a.wav", 2,
     "the destination is a folder the files come from"},
    {"RescueFromAFileThatIsNoImage", "rescue --dest out src/b.txt", 2,
     "src/b.txt: it is no card image: no FAT or exFAT file system is in it, and its size (1 "
     "byte) is no whole number of 512-byte sectors, as a card's is; nothing was written"},
    {"RescueFromAnEmptyFile", "rescue --dest out empty.img", 2,
     "empty.img: it is empty; nothing was written"},
    {"RescueFromAnImageCutShort", "rescue --dest out cut.img", 2,
     "cut.img: the image ends at byte 3145728, before the end of its file system at byte 4194304 "
     "(it was cut short): image the card again, whole; nothing was written"},
    // The file-system library is loaded only for a rescue: where it is broken
    // the rescue says so, and the other commands never notice.
    {"RescueWithoutTheFileSystemLibrary",
     "mkdir lib && : >lib/" KORVA_TSK_SONAME " && export LD_LIBRARY_PATH=lib && rescue --dest out "
     "cut.img",
     2,
     "cut.img: The Sleuth Kit's library, which reads a card's file system, cannot be loaded "
     "(lib/" KORVA_TSK_SONAME ": file too short): install the package " KORVA_TSK_PACKAGE
     "; nothing was written"},
    {"RepairWithoutTheFileSystemLibrary",
     "mkdir lib && : >lib/" KORVA_TSK_SONAME
     " && export LD_LIBRARY_PATH=lib && repair -d out -r 48000 -b 16 -c 1 src/a.wav",
     0, "repaired\tout/a.wav", 1},
};

// Usage errors end with status 2 before anything is copied; --version and --help with 0; a
// run whose results cannot be written with 1.
TEST_P(CliUsage, EndsWithItsStatusAndCopiesOnlyWhenItRuns)
{
    addSource("a.wav", lostFormat(samples(20)));
    addSource("b.txt", ascii("b"));
    fs::create_directory_symlink(src, dir / "link");
    const UsageCase& c = GetParam();
    if (std::string_view(c.args).find("rescue ") != std::string_view::npos)
    {
        writeFile(dir / "empty.img", {});
        FatCard::make(FatCard::FileSystem::ExFat, dir / "cut.img", 4, 1024)->save();
        fs::resize_file(dir / "cut.img", 3 << 20);
    }
    // "set-up && ... && command": the shell runs the set-up first.
    std::string args = c.args, setUp;
    if (const auto nAnd = args.rfind(" && "); nAnd != std::string::npos)
        setUp = args.substr(0, nAnd + 4), args.erase(0, nAnd + 4);
    const auto result = CliProcess::run({"-c", "cd '" + dir.path().string() + "' && " + setUp +
                                                   "exec '" KORVA_CLI_PATH "' " + args},
                                        "sh");
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_THAT(c.status ? result.err : result.out, HasSubstr(c.text));
    EXPECT_EQ(result.out.empty(), result.status != 0);
    const auto files = fs::recursive_directory_iterator(out);
    EXPECT_EQ(static_cast<std::size_t>(std::count_if(
                  begin(files), end(files), [](const auto& f) { return f.is_regular_file(); })),
              c.nCopies);
    EXPECT_EQ(filesIn(src).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Errors, CliUsage, ::testing::ValuesIn(kUsageCases), kRowName);

// The name, the file, and JSON of the fields to compare (the rest is not looked at).
using CliFileReport = CliCase<std::tuple<const char*, Bytes, const char*>>;
const Bytes kBextOf12345678 = chunk("bext", bextBody(0x12345678, 9));
// time_reference 305419896 is 0x12345678; the high word 9 is not read.
// A bext whose description spans two lines and whose CodingHistory tells the format.
Bytes bextTelling(std::string_view history)
{
    Bytes body = bextEvidence("", 0, history);
    const std::string_view description = "Scene 12\r\nTake 3\\b";
    std::copy(description.begin(), description.end(), body.begin());
    return chunk("bext", body, true);
}

const CliFileReport::ParamType kReportCases[] = {
    {"RepairableWithZeroedFmt",
     riff(
         {bextTelling("A=PCM,F=48000,W=16,M=stereo\r\n"), Bytes(24, 0), chunk("data", samples(8))}),
     R"({"status": "repairable", "form": "RIFF", "length": 692, "format": null,
         "chunks": [{"id": "bext", "offset": 12, "size": 631, "hole": false},
                    {"id": "\\x00\\x00\\x00\\x00", "offset": 651, "size": 25, "hole": true},
                    {"id": "data", "offset": 676, "size": 8, "hole": false}],
         "data": {"offset": 676, "length": 8, "frames": 2, "duration_seconds": 4.1666666666666665e-05},
         "bext": {"description": "Scene 12\r\nTake 3\\b", "originator": "", "origination_date": "",
                  "origination_time": "", "coding_history": "A=PCM,F=48000,W=16,M=stereo"},
         "format_to_write": {"format_tag": 1, "channels": 2, "sample_rate": 48000, "bits_per_sample": 16,
                             "sources": "rate from CodingHistory; depth from CodingHistory; channels from CodingHistory",
                             "warnings": []},
         "action": "write a format chunk with a 16-byte body at 652, set the RIFF size to 684",
         "verdict": "repairable: format chunk missing, remains of 25 bytes at 651"})"},
    // The audio's length rules out what CodingHistory says: inspect says what repair will.
    {"UnsettledWithZeroedFmt",
     riff(
         {bextTelling("A=PCM,F=48000,W=24,M=stereo\r\n"), Bytes(24, 0), chunk("data", samples(8))}),
     R"j({"status": "unsettled", "format_to_write": null, "action": "none",
         "data": {"offset": 676, "length": 8, "frames": null, "duration_seconds": null},
         "evidence": {"sample_rate": {"verdict": "agreed", "value": 48000,
                                      "findings": [{"source": "CodingHistory", "value": 48000,
                                                    "text": "F=48000", "rules_out": false}]}},
         "verdict": "fails: cannot tell the bit depth: CodingHistory says 24 bit and the data length rules out 24 bit; pass --bits (and --float for float samples)"})j"},
    // The audio's reading in plain words.
    {"AudioTellsDepthAndChannels",
     riff({chunk("bext", bextBody(0)), Bytes(24, 0), chunk("data", tone(40000, 2, 24))}),
     R"({"status": "unsettled",
         "evidence": {"bit_depth": {"verdict": "agreed", "value": 24,
                                    "findings": [{"source": "the audio", "value": 24, "rules_out": false,
                                                  "text": "reads best as 24-bit samples"}]},
                      "channels": {"verdict": "agreed", "value": 2,
                                   "findings": [{"source": "the audio", "value": 2, "rules_out": false,
                                                 "text": "reads best as 2 channels"}]}}})"},
    {"IntactWithRegionsCueAndAfjx",
     riff({chunk("fmt ", fmtPcm(1, 96000, 24)), kBextOf12345678,
           chunk("regn", cat({le32(3), Bytes(8, 0)})), chunk("cue ", le32(0)),
           chunk("AFJx", {1, 2}), chunk("data", samples(7), true)}),
     R"({"status": "intact", "time_reference": 305419896,
         "format": {"format_tag": 1, "channels": 1, "sample_rate": 96000,
                    "bytes_per_second": 288000, "block_align": 3, "bits_per_sample": 24},
         "data": {"offset": 688, "length": 7, "frames": 2, "duration_seconds": 2.0833333333333333e-05},
         "regions": 3, "cue": true, "afjx": true, "action": "none", "verdict": "intact"})"},
    {"DamagedFormatChunk",
     riff({kBextOf12345678,
           chunk("fmt ", cat({le16(1), le16(2), le32(96000), le32(576000), le16(6)})),
           chunk("data", samples(12))}),
     R"({"format": {"format_tag": 1, "channels": 2, "sample_rate": 96000,
                    "bytes_per_second": 576000, "block_align": 6, "bits_per_sample": 24,
                    "damaged": true},
         "chunks": [{"id": "bext", "offset": 12, "size": 602, "hole": false},
                    {"id": "fmt ", "offset": 622, "size": 14, "present": 14, "hole": false,
                     "damaged": true},
                    {"id": "data", "offset": 644, "size": 12, "hole": false}],
         "action": "mend the format chunk at 622: set its size to 16, put in its bits field, insert 2 bytes, set the RIFF size to 658",
         "verdict": "repairable: format chunk damaged at 622: its size says 14, its body holds 14 bytes"})"},
    {"NoBext", riff({Bytes(24, 0), chunk("data", samples(4))}),
     R"({"status": "no_bext", "bext": null, "time_reference": null, "regions": 0, "cue": false,
         "afjx": false, "format_to_write": null, "verdict": "no bext chunk: not repairable"})"},
    {"ShortBextHasNoTimeReference", riff({chunk("bext", bextBody(1, 0, 64)), chunk("data", {})}),
     R"({"bext": {"description": "Korva test take", "originator": "", "origination_date": "",
                  "origination_time": "", "coding_history": ""}, "time_reference": null,
         "status": "unsettled",
         "verdict": "fails: cannot tell the sample rate: no iXML, CodingHistory or time reference gives it; pass --rate"})"},
    {"DataSizeRunsPastTheEnd", riff({kBextOf12345678, chunkDeclared("data", 1000, samples(4))}),
     R"({"chunks": [{"id": "bext", "offset": 12, "size": 602, "hole": false},
                   {"id": "data", "offset": 622, "size": 1000, "present": 4, "hole": false}]})"},
    {"Rf64",
     cat({ascii("RF64"), le32(0xFFFFFFFF), ascii("WAVEds64"), le32(28), le32(658), le32(0), le32(0),
          le32(0), le32(0), le32(0), le32(0), kBextOf12345678, chunk("data", {})}),
     R"({"form": "RF64", "riff": true, "status": "unsettled"})"},
    {"NotRiff", cat({ascii("RIFX"), le32(4), ascii("WAVE")}),
     R"({"status": "not_wav", "form": "not RIFF", "riff": false, "length": 12, "chunks": [],
         "format_to_write": null, "action": "none", "verdict": "not a RIFF file"})"},
};

// a.wav, b.wav and c.wav repaired into a folder with an older b.wav; the option answers
// the question (none: no terminal, so No, unless typed at one); b.wav may be large (sparse), hold
// audio that ends in a partial frame (failed by --strict), or meet a full tmpfs or a file size
// limit.
struct StopCase
{
    const char* name;
    const char* option;
    const char* b; // b.wav's line: what became of it, and the detail's start
    bool bGoesOn;
    int status;
    const char* typed = nullptr; // at a terminal, answering the question
    std::uintmax_t nSize = 0;
    bool bOddAudio = false;
    const char* tmpfs = nullptr;
    rlim_t nFileSizeLimit = 0;
};

const StopCase kStopCases[] = {
    {"Overwrite", "--existing=overwrite", "repaired\tformat chunk written", true, 0},
    {"Yes", "-y", "repaired\tformat chunk written", true, 0},
    {"Skip", "--existing=skip", "skipped\tthe file already in the destination was kept", true, 0},
    {"NoClobber", "-n", "skipped\tthe file already in the destination was kept", true, 0},
    // The answer in capitals counts; a second line would answer No to a question asked again.
    {"YesTypedInCapitals", "", "repaired\tformat chunk written", true, 0, "Y\nn\n"},
    {"SkipTypedInCapitals", "", "skipped\tthe file already in the destination was kept", true, 0,
     "SKIP\nn\n"},
    {"Stop", "--no", "not processed\tthe file already in the destination was kept", false, 1},
    {"NoTerminal", "", "not processed\tthe file already in the destination was kept", false, 1},
    // A file whose repair fails does not stop the batch, but the status says so.
    {"AudioNoFrameDivides", "--yes", "failed\tits 61 bytes of audio are not whole frames", true, 1,
     nullptr, 0, true},
    {"FullTmpfs", "--yes", "failed\tit could not be copied: the destination is full", false, 1,
     nullptr, 1 << 20, false, "size=600k"},
    {"FileSizeLimit", "--yes",
     "failed\tit could not be copied: the file is too large for the destination\n", false, 1,
     nullptr, 1 << 20, false, nullptr, 500 << 10},
};

using CliBatchStop = CliCase<StopCase>;
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
    if (c.bOddAudio)
        args.push_back("--strict");
    if (*c.option)
        args.push_back(c.option);
    const Terminal terminal;
    if (c.typed)
        terminal.type(c.typed);
    const auto result =
        CliProcess(args, c.nFileSizeLimit, KORVA_CLI_PATH, c.typed ? terminal.input : -1).finish();
    EXPECT_EQ(result.status, c.status) << result.err;
    // Asked, the question shows the file there against the new copy, and what each answer does.
    const bool bAsked = *c.option == '\0';
    EXPECT_EQ(result.err.find("The file: b.wav already exists! Overwrite file?\nIn the "
                              "destination: 13 bytes, modified 20") != std::string::npos,
              bAsked)
        << result.err;
    EXPECT_EQ(result.err.find("\nThe new copy: " + std::to_string(b.size()) +
                              " bytes, modified 20") != std::string::npos,
              bAsked);
    EXPECT_EQ(result.err.find("\n[y]es replaces it, [a]ll replaces it and every later one without "
                              "asking, [s]kip keeps it and goes on with the next file, [n]o keeps "
                              "it and stops the batch: ") != std::string::npos,
              bAsked);
    EXPECT_EQ(result.err.find("stops the batch: n (standard input is not a terminal)\n") !=
                  std::string::npos,
              bAsked && !c.typed);
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

INSTANTIATE_TEST_SUITE_P(Answers, CliBatchStop, ::testing::ValuesIn(kStopCases), kRowName);

// A recorder's card: two day folders whose take counters both start at T01, a take
// chkdsk saved as FILE0001.CHK, a macOS AppleDouble file, a text file named .WAV and a
// sound report. A command given the card works on the three takes, each copy at its
// path under the card, whatever the answer to a file already there; the rest is passed
// over, counted, and with --verbose listed.
struct CardCase
{
    const char* name;
    std::vector<std::string> command; // before --dest OUT CARD
    std::string kind;                 // the takes' lines start with it
    bool bRepaired;                   // the copies are repaired, not the chunk removed
};

const CardCase kCardCases[] = {
    {"RepairExistingSkip",
     {"repair", "--rate", "48000", "--bits", "24", "--channels", "1", "--existing=skip"},
     "repaired\t",
     true},
    {"RepairYesToAll",
     {"repair", "--rate", "48000", "--bits", "24", "--channels", "1", "--yes"},
     "repaired\t",
     true},
    {"RemoveChunk", {"remove-chunk", "bext"}, "removed\t", false},
};

using CliCard = CliCase<CardCase>;

TEST_P(CliCard, EveryTakeInItsOwnPlaceAndNothingElseCopied)
{
    const CardCase& c = GetParam();
    const fs::path card = src / "CARD";
    for (const char* day : {"2024-06-11", "2024-06-12"})
        fs::create_directories(card / day);
    std::map<std::string, Bytes> pcm, takes; // by path under the card
    for (const auto& [seed, take] : {std::pair{1u, "2024-06-11/SC12_T01.WAV"},
                                     {2u, "2024-06-12/SC12_T01.WAV"},
                                     {3u, "2024-06-12/FILE0001.CHK"}})
    {
        pcm[take] = tone(4800, 1, 24, false, seed);
        addSource(std::string("CARD/") + take, takes[take] = lostFormat(pcm[take]));
    }
    const Bytes appleDouble = cat({le32(0x07160500), le32(0x00000200), Bytes(16, 0)});
    addSource("CARD/2024-06-12/._SC12_T02.WAV", appleDouble);
    addSource("CARD/NOTES.WAV", ascii("Scene 12: wind on T02\n"));
    addSource("CARD/2024-06-11/SOUND_REPORT.CSV", ascii("Take,Notes\nT01,good\n"));

    std::vector<std::string> args = c.command;
    args.insert(args.end(), {"--dest", out, card});
    if (c.bRepaired)
        args.insert(args.begin() + 1, "--verbose");
    const auto result = CliProcess::run(args);
    EXPECT_EQ(result.status, 0) << result.err;

    std::map<std::string, Bytes> copies;
    for (const auto& entry : fs::recursive_directory_iterator(out))
        if (entry.is_regular_file())
            copies[fs::relative(entry.path(), out)] = readFile(entry.path());
    std::map<std::string, Bytes> expected;
    for (const auto& [take, file] : takes)
    {
        expected[take] = c.bRepaired ? repaired(file, 48000, 24)
                                     : riff({Bytes(24, 0), chunk("data", pcm[take], true)});
        EXPECT_THAT(result.out, HasSubstr(c.kind + (out / take).string() + "\t"));
    }
    EXPECT_EQ(copies, expected);
    if (!c.bRepaired)
        return;
    EXPECT_THAT(result.err,
                HasSubstr("passed over, a macOS AppleDouble file (another file's metadata): " +
                          (card / "2024-06-12/._SC12_T02.WAV").string()));
    EXPECT_THAT(result.err,
                HasSubstr("passed over, not a WAVE file: " + (card / "NOTES.WAV").string()));
    EXPECT_THAT(result.err, HasSubstr("korva-cli: 3 repaired, 3 passed over"));
    const fs::path second = out / "2024-06-12/SC12_T01.WAV";
    EXPECT_EQ(outsideFormats(second), std::vector(3, Format{48000, 24, 1}));
    EXPECT_TRUE(soxSamples(second) == pcm["2024-06-12/SC12_T01.WAV"]);
}

INSTANTIATE_TEST_SUITE_P(Cards, CliCard, ::testing::ValuesIn(kCardCases), kRowName);

// Files named one by one keep their places under the deepest folder they share,
// also where one folder's name begins with the other's.
TEST_F(CliBatch, NamedFilesKeepTheirPlacesUnderTheFolderTheyShare)
{
    for (const char* day : {"CARD/DAY1", "CARD/DAY10"})
        fs::create_directories(src / day);
    const std::string first = addSource("CARD/DAY1/T01.WAV", lostFormat(tone(4800, 1, 24)));
    const std::string second = addSource("CARD/DAY10/T01.WAV", lostFormat(tone(2400, 1, 24)));
    const auto result = CliProcess::run({"repair", "--rate", "48000", "--bits", "24", "--channels",
                                         "1", "--dest", out, first, second});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(filesIn(out / "DAY1").size(), 1u);
    EXPECT_EQ(fs::file_size(out / "DAY10" / "T01.WAV"), fs::file_size(second));
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(out), {}),
              4); // two folders, two files
}

// inspect --brief over a card: one line per take, its text file passed over; the
// format is the take's own, the one the repair writes, or why there is none.
TEST_F(CliBatch, InspectBriefGivesOneLinePerTakeOfACard)
{
    const fs::path card = src / "CARD";
    fs::create_directories(card / "2024-06-11");
    const std::string intact = addSource(
        "CARD/A001.WAV",
        riff({chunk("fmt ", fmtPcm(1, 48000, 16)), kBext, chunk("data", tone(48000, 1, 16))}));
    const std::string noBext = addSource("CARD/B001.WAV", riff({chunk("data", tone(4800, 1, 16))}));
    const std::string lost =
        addSource("CARD/2024-06-11/SC12_T01.WAV", lostFormat(tone(24000, 1, 24)));
    addSource("CARD/NOTES.WAV", ascii("wind on T02"));
    const auto result =
        CliProcess::run({"inspect", "--brief", "--rate", "48000", "--bits", "24", card});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, lost +
                              "\trepairable\twrites 48000 Hz, 24 bit, mono (channels from the "
                              "audio)\t0:00:00.500\n" +
                              intact + "\tintact\t48000 Hz, 16 bit, mono\t0:00:01.000\n" + noBext +
                              "\tno_bext\tno bext chunk: left as it is\t-\n");
}

// --json gives one object per file; files left alone say why; arguments that are not
// .wav get a line on standard error; --verbose adds the job's own lines there; the
// leftovers of a run that is gone are removed and the run says so, while those of a
// run still going (this test) and other files are kept.
TEST_F(CliBatch, JsonLinesVerboseNoticesAndLeftoversOfAGoneRun)
{
    const Bytes intact =
        riff({chunk("fmt ", fmtPcm(1, 48000, 24)), kBext, chunk("data", samples(30))});
    const Bytes noBext = riff({Bytes(24, 0), chunk("data", samples(30))});
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string ofThisRun = ".korva-" + std::to_string(getpid()) + "-Ab3xYz";
    for (const std::string& name : {".korva-" + std::to_string(gone) + "-aBc123", ofThisRun,
                                    std::string(".korva-take.wav.Ab3xYz")})
        writeFile(out / name, ascii("half a copy"));
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
    EXPECT_EQ(filesIn(out), (Files{{"intact.WaV", intact},
                                   {"b.wav", noBext},
                                   {ofThisRun, ascii("half a copy")},
                                   {".korva-take.wav.Ab3xYz", ascii("half a copy")}}));
}

// --report writes a row per file that Python's csv module reads back as the batch
// went, a name with a comma, a quote and a line break whole, with the format written,
// where the file told it and the audio's length; inspect's text report names each file
// on one line. A report that cannot be written fails the run and loses nothing else.
TEST_F(CliBatch, ReportsReadBackAsTheBatchWent)
{
    const std::string odd = "take, \"one\"\nof two.wav";
    const Bytes told = riff({chunk("bext", bextEvidence("", 0, "A=PCM,F=48000,W=16,M=mono\r\n")),
                             Bytes(24, 0), chunk("data", tone(4800))});
    const std::vector<std::string> sources = {
        addSource(odd, told), addSource("intact.wav", bwf(48000, 16, tone(480))),
        addSource("unsettled.wav",
                  riff({chunk("bext", bextBody(0)), Bytes(24, 0), chunk("data", samples(30))}))};
    const fs::path report = dir / "report.csv";
    std::vector<std::string> args = {"repair", "--json", "--dest", out, "--report", report};
    args.insert(args.end(), sources.begin(), sources.end());
    const auto result = CliProcess::run(args);
    EXPECT_EQ(result.status, 1) << result.err; // the unsettled file failed
    std::istringstream lines(result.out);
    std::vector<json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(json::parse(line));
    ASSERT_EQ(objects.size(), 3u);

    const auto rows = csvRows(report);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"source", "copy", "result", "format",
                                                 "format from", "duration", "warnings", "detail"}));
    const std::vector<std::string> copies = {out / odd, out / "intact.wav", out / "unsettled.wav"};
    const std::vector<std::string> formats = {"48000 Hz, 16 bit, mono", "", ""},
                                   durations = {"0:00:00.100", "", ""};
    for (std::size_t i = 0; i < 3; ++i)
    {
        const auto& row = rows[i + 1];
        ASSERT_EQ(row.size(), 8u);
        EXPECT_EQ(
            (std::vector<std::string>{row[0], row[1], row[2], row[3], row[5], row[6], row[7]}),
            (std::vector<std::string>{sources[i], copies[i], objects[i]["kind"], formats[i],
                                      durations[i], "", objects[i]["detail"]}))
            << "row " << i;
    }
    // The detail names where the file told its format, as the column does.
    EXPECT_THAT(rows[1][4], HasSubstr("CodingHistory"));
    EXPECT_THAT(rows[1][7], ::testing::EndsWith(" (" + rows[1][4] + ")"));
    EXPECT_EQ(readFile(report, 0, 8), ascii("source,c")) << "no byte order mark";

    // inspect, as text to read: a block per file, each name on its line.
    const fs::path text = dir / "inspect.TXT";
    const auto inspected = CliProcess::run({"inspect", "--report", text, sources[0]});
    EXPECT_EQ(inspected.status, 0) << inspected.err;
    const Bytes words = readFile(text);
    const std::string shown(words.begin(), words.end());
    EXPECT_THAT(shown, ::testing::StartsWith("Korva report: 1 file\n\ntake, \"one\"\\nof two.wav\n"
                                             "  source:      " +
                                             (src / "take, \"one\"\\nof two.wav").string() +
                                             "\n  result:      listed\n  format:      48000 Hz, "
                                             "16 bit, mono\n  format from: "));
    EXPECT_THAT(shown, HasSubstr("\n  duration:    0:00:00.100\n"));

    // Into a folder that is not there: every result still printed, every copy made.
    fs::remove_all(out), fs::create_directory(out);
    args[5] = dir / "gone" / "report.csv";
    const auto unwritten = CliProcess::run(args);
    EXPECT_EQ(unwritten.status, 1);
    EXPECT_EQ(unwritten.out, result.out);
    EXPECT_THAT(unwritten.err,
                HasSubstr("korva-cli: the report could not be written to " + args[5] +
                          ": its folder " + (dir / "gone").string() + " does not exist\n"));
    EXPECT_EQ(filesIn(out).size(), 2u);
    const auto good = CliProcess::run(
        {"repair", "--dest", out, "--yes", "--report", dir / "gone" / "r.csv", sources[1]});
    EXPECT_EQ(good.status, 1) << "a run that did all else fails for its report alone";
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
              "\n{\"path\":\"" + missing +
                  "\",\"status\":\"unreadable\",\"error\":\"no such file\"}\n");
    const json report = json::parse(result.out.substr(0, end));
    json expected = json::parse(fields);
    expected["path"] = path;
    // The keys the row names, into objects: the evidence of one quantity, say.
    const auto expectFields = [](const json& actual, const json& wanted, const std::string& at,
                                 const auto& self) -> void
    {
        for (const auto& [key, value] : wanted.items())
        {
            const json field = actual.value(key, json());
            if (value.is_object() && field.is_object())
                self(field, value, at + key + ".", self);
            else
                EXPECT_EQ(field, value) << at + key;
        }
    };
    expectFields(report, expected, "", expectFields);
    const std::string text = CliProcess::run({"inspect", path}).out;
    // Every field keeps its line, whatever text the file holds.
    std::istringstream lines(text);
    std::string line;
    for (std::getline(lines, line); std::getline(lines, line);)
        EXPECT_THAT(line, ::testing::StartsWith("  "));
    if (const json& data = report["data"]; !data.is_null())
    {
        EXPECT_THAT(text, HasSubstr("\n  frames:          " +
                                    (data["frames"].is_null() ? "unknown"
                                                              : data["frames"].dump() + " at ")));
    }
    EXPECT_THAT(text,
                HasSubstr("\n  status:          " + report["status"].get<std::string>() + "\n"));
    for (const auto& chunk : report["chunks"])
        EXPECT_THAT(text,
                    HasSubstr(chunk["hole"]
                                  ? "\n    (hole)  offset " + chunk["offset"].dump() + "  length " +
                                        chunk["size"].dump()
                                  : "\n    " + chunk["id"].get<std::string>() + "  offset " +
                                        chunk["offset"].dump() + "  size " + chunk["size"].dump()));
    if (const json& f = report["format"]; !f.is_null())
    {
        EXPECT_THAT(text,
                    HasSubstr("\n  format:          " +
                              std::string(f.contains("damaged") ? "damaged fmt chunk: " : "") +
                              "tag " + f["format_tag"].dump() + ", " + f["channels"].dump() +
                              " channel(s), " + f["sample_rate"].dump() + " Hz, " +
                              f["bits_per_sample"].dump() + " bit"));
    }
    EXPECT_THAT(text,
                HasSubstr("\n  verdict:         " + report["verdict"].get<std::string>() + "\n"));
    EXPECT_THAT(text, Not(HasSubstr("SearchForChunk")));
}

INSTANTIATE_TEST_SUITE_P(Files, CliFileReport, ::testing::ValuesIn(kReportCases), kRowName);

// A file name with bytes that would break a line, or that are no UTF-8, as korva-cli
// writes it.
using CliName = CliCase<std::tuple<const char*, std::string, std::string>>;
const CliName::ParamType kNameCases[] = {
    {"Tab", "take\t1.wav", R"(take\t1.wav)"},
    {"LineFeed", "take\n1.wav", R"(take\n1.wav)"},
    {"CarriageReturnAndEscape", "take\r\x1B.wav", R"(take\r\x1B.wav)"},
    {"Backslash", "take\\1.wav", R"(take\\1.wav)"},
    {"Latin1", "t\xE9ke.wav", R"(t\xE9ke.wav)"},
    {"Utf8AsItIs", "t\xC3\xA9ke \xE2\x99\xAA.wav", "t\xC3\xA9ke \xE2\x99\xAA.wav"},
    {"CutShortSequence", "take\xE2\x99.wav", R"(take\xE2\x99.wav)"},
    {"Surrogate", "take\xED\xA0\x80.wav", R"(take\xED\xA0\x80.wav)"},
};

// repair's line and object and inspect's report name the file, escaped, in one line each;
// the copy under the file's own name holds the audio sox reads.
TEST_P(CliName, EachLineNamesItsFileEscaped)
{
    const auto& [row, name, escaped] = GetParam();
    const Bytes pcm = tone(1000, 1, 16);
    const std::string source = addSource(name, lostFormat(pcm));
    const std::string original = (src / escaped).string(), copy = (out / escaped).string();
    const WavFormat format{.nSampleRate = 48000, .nBitsPerSample = 16};
    const auto line = CliProcess::run(repairArgs(format, {source}));
    EXPECT_EQ(line.status, 0) << line.err;
    EXPECT_THAT(line.out, ::testing::StartsWith("repaired\t" + copy + "\t"));
    EXPECT_EQ(std::count(line.out.begin(), line.out.end(), '\t'), 2);
    EXPECT_EQ(std::count(line.out.begin(), line.out.end(), '\n'), 1);
    EXPECT_TRUE(soxSamples(out / name) == pcm);
    const json outcome =
        json::parse(CliProcess::run(repairArgs(format, {"--json", "-y", source})).out);
    EXPECT_EQ(outcome["source"], original);
    EXPECT_EQ(outcome["destination"], copy);
    EXPECT_THAT(CliProcess::run({"inspect", source}).out, ::testing::StartsWith(original + "\n"));
    EXPECT_EQ(json::parse(CliProcess::run({"inspect", "--json", source}).out)["path"], original);
}

INSTANTIATE_TEST_SUITE_P(Names, CliName, ::testing::ValuesIn(kNameCases), kRowName);

// The batch stopped again and again: by one Ctrl-C, SIGTERM or SIGHUP, each of which ends
// it after the current file with the summary and 128 + the signal, by a second Ctrl-C once
// the first is taken, which ends it there, then by SIGKILL at random points; and
// remove-chunk's by SIGTERM. Every file under a final name is whole. For the stopping signals the
// lines fill the one-page pipe, read only up to the first file, so the batch cannot end first.
TEST_F(CliBatch, StoppedBySignalsLeavesOnlyWholeFiles)
{
    std::vector<std::string> args =
        repairArgs({.nSampleRate = 48000, .nBitsPerSample = 24}, {"--yes"});
    std::vector<std::string> removal = {"remove-chunk", "bext", "--dest", out};
    Files expected, withoutBext;
    for (uint32_t i = 0; i < 200; ++i) // every third needs an insert, which moves all its data
    {
        const Bytes source = lostFormat(samples(24999, i), i % 3 != 0);
        args.push_back(addSource("take" + std::to_string(i) + ".wav", source));
        removal.push_back(args.back());
        expected[fs::path(args.back()).filename()] = repaired(source, 48000, 24);
        withoutBext[fs::path(args.back()).filename()] =
            riff({Bytes(i % 3 != 0 ? 24 : 0, 0), chunk("data", samples(24999, i), true)});
    }
    // How long a whole batch takes here, so that the kills fall inside one.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(CliProcess::run(args).status, 0);
    const auto whole = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(filesIn(out) == expected);

    std::mt19937 random(20240607);
    std::uniform_int_distribution<long> delay(0, whole / std::chrono::microseconds(1));
    const int kStops[] = {SIGINT, SIGINT, SIGTERM, SIGHUP}; // the second round's twice
    for (int round = 0; round < 16; ++round)
    {
        const int nStop = round < 4 ? kStops[round] : 0;
        SCOPED_TRACE(nStop ? strsignal(nStop) + std::string(round == 1 ? " twice" : "")
                           : "SIGKILL");
        if (round % 2 == 0 || round < 4) // every stop and every other kill from an empty folder
            fs::remove_all(out), fs::create_directory(out);
        CliProcess cli(args);
        if (nStop)
        {
            ASSERT_TRUE(cli.waitFor("repaired\t"));
            cli.send(nStop);
            ASSERT_TRUE(cli.waitForError("stopping after the current file; "));
            if (round == 1)
                cli.send(SIGINT);
        }
        else
        {
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
            cli.send(SIGKILL);
        }
        const auto result = cli.finish();
        Files files = filesIn(out);
        const std::size_t nFiles = files.size();
        std::erase_if(files, [](const auto& file) { return file.first.starts_with(".korva-"); });
        for (const auto& [name, bytes] : files)
            EXPECT_TRUE(bytes == expected[name]) << name << " is partial or unknown";
        if (nStop)
        {
            EXPECT_EQ(result.status, 128 + nStop);
            EXPECT_TRUE(round == 1 || files.size() == nFiles) << "one signal leaves no temporary";
            EXPECT_EQ(result.err.ends_with(" not processed\n"), round != 1) << result.err;
            EXPECT_GE(files.size(), 1u);
            EXPECT_LT(files.size(), expected.size());
        }
    }

    // remove-chunk's batch ends alike.
    fs::remove_all(out), fs::create_directory(out);
    CliProcess cli(removal);
    ASSERT_TRUE(cli.waitFor("removed\t"));
    cli.send(SIGTERM);
    ASSERT_TRUE(cli.waitForError("stopping after the current file; "));
    EXPECT_EQ(cli.finish().status, 128 + SIGTERM);
    const Files files = filesIn(out);
    for (const auto& [name, bytes] : files)
        EXPECT_TRUE(bytes == withoutBext[name]) << name << " is partial or unknown";
    EXPECT_GE(files.size(), 1u);
    EXPECT_LT(files.size(), withoutBext.size());
}

// A take of some two and a half progress steps: at a terminal, standard error shows how far
// its copy is on one line, rewritten and cleared before the result; anywhere else
// standard error holds only the summary, as for a small take.
TEST_F(CliBatch, ALargeTakeShowsItsProgressOnlyAtATerminal)
{
    const Bytes big = lostFormat(tone(7000000, 1, 24));
    const std::vector<std::string> args =
        repairArgs({.nSampleRate = 48000, .nBitsPerSample = 24}, {addSource("big.wav", big), "-y"});
    const Terminal terminal;
    const auto atTerminal = CliProcess(args, 0, KORVA_CLI_PATH, -1, terminal.input).finish();
    EXPECT_EQ(atTerminal.status, 0);
    EXPECT_EQ(terminal.written(), "\r\033[KCopying big.wav: 8.4 of 21.0 MB"
                                  "\r\033[KCopying big.wav: 16.8 of 21.0 MB"
                                  "\r\033[Kkorva-cli: 1 repaired\r\n");
    const auto piped = CliProcess::run(args);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "korva-cli: 1 repaired\n");
    EXPECT_EQ(filesIn(out), (Files{{"big.wav", repaired(big, 48000, 24)}}));
}

// Ctrl-C while the question waits on the terminal for an answer: the batch stops at
// once, the file asked about and the rest not processed, the older copy kept.
TEST_F(CliBatch, CtrlCAtTheQuestionStopsWithoutAnAnswer)
{
    const Bytes damaged = lostFormat(samples(60));
    writeFile(out / "a.wav", ascii("older"));
    const Terminal terminal;
    CliProcess cli(repairArgs({.nSampleRate = 48000, .nBitsPerSample = 24},
                              {addSource("a.wav", damaged), addSource("b.wav", damaged)}),
                   0, KORVA_CLI_PATH, terminal.input);
    ASSERT_TRUE(
        cli.waitForError("a.wav already exists! Overwrite file?\nIn the destination: 5 bytes"));
    ASSERT_TRUE(cli.waitForError("[n]o keeps it and stops the batch: "));
    cli.send(SIGINT);
    const auto result = cli.finish();
    EXPECT_EQ(result.status, 130);
    EXPECT_EQ(result.out, "not processed\t" + (out / "a.wav").string() +
                              "\tthe file already in the destination was kept\nnot processed\t" +
                              (out / "b.wav").string() + "\tthe batch stopped before it\n");
    EXPECT_EQ(filesIn(out), (Files{{"a.wav", ascii("older")}}));
}

namespace
{
const Bytes kMono16 = chunk("fmt ", fmtPcm(1, 48000, 16));
const Bytes kStereo24 = chunk("fmt ", fmtPcm(2, 48000, 24));
const Bytes kTake =
    riff({kStereo24, kBext, chunk("data", tone(4800, 2, 24)), chunk("LIST", ascii("INFOabcd"))});
const Bytes kLong = riff({kMono16, chunk("data", tone(700000))}); // more than two copy buffers

// A mono 16-bit RF64 take: ds64 states the data size, the data chunk 0xFFFFFFFF.
Bytes rf64(const Bytes& pcm, uint64_t nDataSize, const Bytes& extra = {})
{
    return fixture::rf64({kMono16, extra, chunkDeclared("data", 0xFFFFFFFF, pcm)}, nDataSize,
                         nDataSize / 2);
}

// A mono 16-bit WAV file whose nDataSize bytes of data are zeros left to a sparse tail.
Bytes nearTheLimit(uint32_t nDataSize)
{
    return cat({ascii("RIFF"), le32(36 + nDataSize), ascii("WAVE"), kMono16, ascii("data"),
                le32(nDataSize)});
}

// The offset of the header of the first chunk named id.
std::size_t offsetOf(const Bytes& file, std::string_view id)
{
    return std::search(file.begin() + 12, file.end(), id.begin(), id.end()) - file.begin();
}

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// "@S" and "@D" in text: the source's and the destination's path.
std::string withPaths(std::string text, const std::string& source, const std::string& dest)
{
    for (const auto& [mark, path] : {std::pair{"@S", source}, {"@D", dest}})
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, 2, path);
    return text;
}

// extract or append: options start --from and --to; DEST as it stands before (none, a file,
// zeros behind it: sparse), a file size limit on the run.
struct FrameCase
{
    const char* name;
    const char* command;
    Bytes source;
    std::string options; // words between blanks
    std::string line;
    int status = 1;
    Bytes dest = {};
    uint32_t nZerosBehind = 0;
    rlim_t nFileSizeLimit = 0;
};

const Bytes kOlder = ascii("an older file"), kNone;
const Bytes kOddMono8 =
    riff({chunk("fmt ", fmtPcm(1, 48000, 8)), chunk("data", tone(101, 1, 8), true)});
const FrameCase kFrameCases[] = {
    {"ExtractFromTheMiddleWithChunksAroundTheData", "extract", kTake, "--from 1234 --to 4000",
     "extracted\tframes 1234 to 4000 of @S: 2766 frames, 16596 bytes", 0},
    {"ExtractTheLastFramesOfAnRf64Take", "extract", rf64(tone(3000), 6000), "--from 2993 --to 3000",
     "extracted\t", 0},
    {"ExtractAllOfALongTake", "extract", kLong, "--from 0 --to 700000", "extracted\t", 0},
    {"ExtractOverAnOlderFileWhenTold", "extract", kTake, "--from 0 --to 1 --yes", "extracted\t", 0,
     kOlder},
    {"AppendToATakeOfTheSameFormat", "append", kTake, "--from 100 --to 2101",
     "appended\tframes 100 to 2101 of @S: 2001 frames; its data chunk now holds 2501 whole "
     "frames",
     0, riff({kStereo24, chunk("data", tone(500, 2, 24, false, 2))})},
    // Refused: every file stays as it was.
    {"AnOlderFileIsKeptWithoutATerminal", "extract", kTake, "--from 0 --to 1",
     "not processed\tthe file already there was kept", 1, kOlder},
    {"StartAfterEnd", "extract", kTake, "--from 20 --to 10",
     "failed\t--from 20 is past --to 10: --to is one past the last frame"},
    // 10 bytes of 4-byte frames: 2 whole frames, though a bext chunk's bytes follow.
    {"PastTheWholeFramesOfDataFollowedByAChunk", "extract",
     riff({chunk("fmt ", fmtPcm(2, 48000, 16)), chunk("data", tone(5, 1, 16)), kBext}),
     "--from 0 --to 3",
     "failed\tframes 0 to 3 run past the audio of @S: its data chunk holds 2 whole frames; "
     "choose --to 2 or less"},
    {"NoFormatChunk", "append", riff({kBext, chunk("data", tone(100))}), "--from 0 --to 1",
     "failed\t@S has no fmt chunk, so its frames cannot be counted: repair it", 1,
     riff({kMono16, chunk("data", {})})},
    {"NoDataChunk", "extract", riff({kMono16, kBext}), "--from 0 --to 0",
     "failed\t@S has no data chunk"},
    {"BlockAlignZero", "extract",
     riff({chunk("fmt ", cat({le16(1), le16(1), le32(48000), le32(96000), le16(0), le16(16)})),
           chunk("data", tone(10))}),
     "--from 0 --to 1",
     "failed\t@S's fmt chunk states a block align of 0, so its frames cannot be counted: "
     "remove "
     "it from a copy (korva-cli remove-chunk 'fmt ')"},
    {"FormatChunkLargerThanTheCopyBuffer", "extract",
     riff({chunk("fmt ", cat({fmtPcm(1, 48000, 16), Bytes(614400)})), chunk("data", tone(10))}),
     "--from 0 --to 1", "failed\t@S's fmt chunk is too large to be a format chunk"},
    {"DataSizePastTheEndOfTheFile", "extract",
     riff({kMono16, chunkDeclared("data", 4000, tone(100))}), "--from 0 --to 101",
     "failed\tframes 0 to 101 are not all in @S: its data chunk states 4000 bytes, but the "
     "file "
     "ends 200 bytes into it"},
    {"RangePast32Bits", "extract", rf64(tone(100), uint64_t{1} << 33), "--from 1 --to 4294967295",
     "failed\tframes 1 to 4294967295 of @S are 8589934588 bytes, more than a WAV file can "
     "hold"},
    {"WriteFailsAtTheFileSizeLimit", "extract", kLong, "--from 0 --to 700000",
     "failed\tthe copy failed: the file is too large for the destination; no file was left at "
     "@D",
     1, kNone, 0, 100000},
    {"AppendToAnotherFormat", "append", kTake, "--from 0 --to 1",
     "failed\t@D is not of @S's format (channels 2 in @S, 1 in @D; bits per sample 24 in @S, "
     "16 "
     "in @D; block align 6 in @S, 2 in @D): frames of one format cannot join",
     1, riff({kMono16, chunk("data", tone(10))})},
    {"AppendBehindADataChunkThatIsNotLast", "append", kTake, "--from 0 --to 1",
     "failed\t@D's data chunk does not end the file", 1, kTake},
    {"AppendBehindAPadByte", "append", kOddMono8, "--from 0 --to 1",
     "failed\t@D's data chunk does not end the file", 1, kOddMono8},
    {"AppendBehindADataSizePastTheEnd", "append", kLong, "--from 0 --to 1",
     "failed\t@D's data chunk does not end the file", 1,
     riff({kMono16, chunkDeclared("data", 64, tone(4))})},
    {"AppendToAWavWithoutData", "append", kLong, "--from 0 --to 1",
     "failed\t@D is not a RIFF WAV file with a data chunk", 1, riff({kMono16})},
    {"AppendToAnRf64", "append", kLong, "--from 0 --to 1",
     "failed\t@D is an RF64 file, whose sizes korva-cli cannot update", 1, rf64(tone(10), 20)},
    {"AppendToTextThatIsNoWav", "append", kTake, "--from 0 --to 1",
     "failed\t@D is not a RIFF WAV file with a data chunk", 1, kOlder},
    {"AppendToNoFile", "append", kTake, "--from 0 --to 1",
     "failed\t@D does not exist: append adds to an existing WAV file; extract makes a new one"},
    {"AppendPastTheDataSizeLimit", "append", kLong, "--from 0 --to 20",
     "failed\t@D would pass the 4 GiB a WAV file can hold with 40 more bytes", 1,
     nearTheLimit(0xFFFFFFF0), 0xFFFFFFF0},
    {"AppendPastTheRiffSizeLimit", "append", kLong, "--from 0 --to 20",
     "failed\t@D would pass the 4 GiB", 1, nearTheLimit(0xFFFFFFC8), 0xFFFFFFC8},
    {"AppendWriteFailsAtTheFileSizeLimit", "append", kLong, "--from 0 --to 700000",
     "failed\tthe copy failed: the file is too large for the destination; @D is as it was", 1,
     riff({kMono16, chunk("data", tone(10))}), 0, 100000},
};

using CliFrameCopy = CliCase<FrameCase>;
} // namespace

// The new file, or DEST grown, holds exactly the frames sox trims from the source, and sox
// reads it; a refusal says why and leaves the source and DEST as they were.
TEST_P(CliFrameCopy, HoldsWhatSoxTrimsOrLeavesEveryFileAsItWas)
{
    const FrameCase& c = GetParam();
    const std::string source = addSource("take.wav", c.source);
    const fs::path dest = out / "dest.wav";
    if (!c.dest.empty())
        writeFile(dest, c.dest), fs::resize_file(dest, c.dest.size() + c.nZerosBehind);
    std::vector<std::string> args = words(c.command + (" " + c.options));
    args.insert(args.end(), {source, dest});
    const auto result = CliProcess(args, c.nFileSizeLimit).finish();
    EXPECT_EQ(result.status, c.status) << result.err;
    const std::string line = withPaths(c.line, source, dest);
    EXPECT_THAT(result.out, ::testing::StartsWith(std::string(line).insert(line.find('\t') + 1,
                                                                           dest.string() + "\t")));
    if (c.status != 0)
    {
        EXPECT_EQ(fs::directory_iterator(out) == fs::directory_iterator(), c.dest.empty());
        EXPECT_TRUE(c.dest.empty() || (readFile(dest, 0, c.dest.size()) == c.dest &&
                                       fs::file_size(dest) == c.dest.size() + c.nZerosBehind));
        return;
    }
    const Bytes frames = soxSamples(source, false, {"trim", args[2] + "s", "=" + args[4] + "s"});
    ASSERT_FALSE(frames.empty());
    const std::size_t fmt = offsetOf(c.source, "fmt ");
    Bytes expected = riff(
        {Bytes(c.source.begin() + fmt, c.source.begin() + fmt + 8 + readLe32(c.source, fmt + 4)),
         chunk("data", frames)});
    if (std::string(c.command) == "append")
    {
        expected = cat({c.dest, frames});
        const std::size_t data = offsetOf(c.dest, "data");
        putLe32(expected, 4, static_cast<uint32_t>(expected.size() - 8));
        putLe32(expected, data + 4, readLe32(c.dest, data + 4) + frames.size());
    }
    EXPECT_TRUE(readFile(dest) == expected);
    const Bytes decoded = soxSamples(dest);
    EXPECT_TRUE(decoded.size() >= frames.size() &&
                std::equal(frames.rbegin(), frames.rend(), decoded.rbegin()));
}

INSTANTIATE_TEST_SUITE_P(Ranges, CliFrameCopy, ::testing::ValuesIn(kFrameCases), kRowName);

namespace
{
// remove-chunk ID --dest out a.wav b.wav; out may hold an older a.wav (copy none: no copy).
// b.wav has the chunk and loses it unless the batch stops at a.wav.
struct ChunkCase
{
    const char* name;
    const char* id;
    Bytes file;
    Bytes copy;
    std::string line;
    int status = 1;
    std::string options = "";
    bool bOlderCopy = false;
    std::uintmax_t nSize = 0; // a.wav's size, with a sparse tail
};

const Bytes kData = chunk("data", tone(100));
const Bytes kJunk = riff({kMono16, chunk("JUNK", samples(100)), kData});
const ChunkCase kChunkCases[] = {
    {"OddIXmlGoesWithItsPadByte", "iXML",
     riff({kMono16, kBext, chunk("iXML", ascii("<BWFXML/>"), true), kData}),
     riff({kMono16, kBext, kData}), "removed\tits 'iXML' chunk was removed: 18 bytes", 0},
    {"OnlyTheFirstOfTwo", "JUNK",
     riff({kMono16, chunk("JUNK", samples(100)), chunk("JUNK", {5, 6}), kData}),
     riff({kMono16, chunk("JUNK", {5, 6}), kData}),
     "removed\tits 'JUNK' chunk was removed: 108 bytes", 0},
    {"ABlankInTheIdAndNothingBehind", "cue ", riff({kMono16, kData, chunk("cue ", le32(0))}),
     riff({kMono16, kData}), "removed\tits 'cue ' chunk was removed: 12 bytes", 0},
    {"NoSuchChunk", "iXML", kJunk, kNone,
     "failed\t@S has no 'iXML' chunk, so there is nothing to remove"},
    // Only a data chunk stays a chunk with a size past the end (others are holes).
    {"CutOffByTheEndOfTheFile", "data", riff({kMono16, chunkDeclared("data", 4000, tone(100))}),
     kNone, "failed\t@S's 'data' chunk runs past the end of the file"},
    {"Rf64", "JUNK", rf64(tone(10), 20, chunk("JUNK", samples(8))), kNone,
     "failed\t@S is an RF64 file"},
    {"NotRiff", "JUNK", cat({ascii("RIFX"), le32(4), ascii("WAVE")}), kNone,
     "failed\t@S is not a RIFF file"},
    {"LargerThanARiffSizeCanState", "JUNK", kJunk, kNone,
     "failed\t@S is larger than the 4 GiB a RIFF size can state", 1, "", false,
     (std::uintmax_t{1} << 32) + 9},
    {"AnOlderCopyIsKeptWithoutATerminal", "JUNK", kJunk, kNone,
     "not processed\tthe file already there was kept", 1, "", true},
    {"AnOlderCopyIsKeptWhenSkipped", "JUNK", kJunk, kNone,
     "skipped\tthe file already there was kept", 0, "--existing skip", true},
    {"AnOlderCopyIsReplacedWhenTold", "JUNK", kJunk, riff({kMono16, kData}), "removed\t", 0,
     "--existing overwrite", true},
};

using CliChunkRemoval = CliCase<ChunkCase>;
} // namespace

TEST_P(CliChunkRemoval, CopiesLoseTheChunkOrAreNotMadeAndSourcesStayAsTheyWere)
{
    const ChunkCase& c = GetParam();
    const std::string a = addSource("a.wav", c.file, c.nSize);
    const std::string b = addSource("b.wav", riff({kMono16, chunk(c.id, samples(4)), kData}));
    if (c.bOlderCopy)
        writeFile(out / "a.wav", kOlder);
    std::vector<std::string> args = words(c.options);
    args.insert(args.begin(), {"remove-chunk", c.id, "--dest", out});
    args.insert(args.end(), {a, b});
    const auto result = CliProcess::run(args);
    EXPECT_EQ(result.status, c.status) << result.err;
    std::string line = withPaths(c.line, a, "");
    line.insert(line.find('\t') + 1, (out / "a.wav").string() + "\t");
    EXPECT_THAT(result.out, ::testing::StartsWith(line));
    const bool bGoesOn = !c.line.starts_with("not processed");
    EXPECT_THAT(result.out, HasSubstr((bGoesOn ? "\nremoved\t" : "\nnot processed\t") +
                                      (out / "b.wav").string() + "\t"));
    Files expected;
    if (!c.copy.empty() || c.bOlderCopy)
        expected["a.wav"] = c.copy.empty() ? kOlder : c.copy;
    if (bGoesOn)
        expected["b.wav"] = riff({kMono16, kData});
    EXPECT_EQ(filesIn(out), expected);
}

INSTANTIATE_TEST_SUITE_P(Chunks, CliChunkRemoval, ::testing::ValuesIn(kChunkCases), kRowName);

namespace
{
struct RescueCase
{
    const char* name;
    std::function<void(CardRecorder&, FatCard&)> record;
};

void PrintTo(const RescueCase& c, std::ostream* os)
{
    *os << c.name;
}

const WavFormat kStereo16{.nChannels = 2, .nSampleRate = 48000, .nBitsPerSample = 16};
const WavFormat kMono24{.nChannels = 1, .nSampleRate = 48000, .nBitsPerSample = 24};
const WavFormat kFour24{.nChannels = 4, .nSampleRate = 48000, .nBitsPerSample = 24};
const WavFormat kEight24{.nChannels = 8, .nSampleRate = 48000, .nBitsPerSample = 24};
const WavFormat kStereo32{.nChannels = 2, .nSampleRate = 96000, .nBitsPerSample = 32};

// The alsa voices from a voice and a frame on, with a recorder's noise floor.
Bytes take(const WavFormat& f, std::size_t nFrames, std::size_t nVoice, std::size_t nSkip)
{
    return voices(f, nFrames, nVoice, nSkip, true);
}

const RescueCase kRescueCases[] = {
    {"OneLostTakeOnAFreshCard",
     [](CardRecorder& r, FatCard&)
     {
         const int t = r.start("240611/SC12_T01.WAV", kStereo16);
         r.record(t, take(kStereo16, 30000, 0, 3000));
         r.lose(t);
     }},
    {"LostTakeBehindIntactOnes",
     [](CardRecorder& r, FatCard&)
     {
         r.intact("240611/SC12_T01.WAV", kMono24, take(kMono24, 20000, 1, 0));
         r.intact("240611/SC12_T02.WAV", kMono24, take(kMono24, 9000, 2, 5000));
         const int t = r.start("240611/SC12_T03.WAV", kFour24);
         r.record(t, take(kFour24, 25000, 3, 2000));
         r.lose(t);
     }},
    {"StaleSizeTheRestInFreeClusters",
     [](CardRecorder& r, FatCard&)
     {
         const int t = r.start("SC13_T01.WAV", kStereo32);
         const Bytes pcm = take(kStereo32, 50000, 4, 0);
         const auto flushedAt = pcm.begin() + 20000 * kStereo32.BlockAlign();
         r.record(t, Bytes(pcm.begin(), flushedAt));
         r.flush(t);
         r.record(t, Bytes(flushedAt, pcm.end()));
         r.lose(t);
     }},
    {"SizesInHeaderAndEntryFromTheLastFlush",
     [](CardRecorder& r, FatCard&)
     {
         const int t = r.start("SC13_T02.WAV", kMono24);
         const Bytes pcm = take(kMono24, 60000, 5, 0);
         const auto flushedAt = pcm.begin() + 25000 * kMono24.BlockAlign();
         r.record(t, Bytes(pcm.begin(), flushedAt));
         r.flush(t, true);
         r.record(t, Bytes(flushedAt, pcm.end()));
         r.lose(t);
     }},
    {"Rf64TakeWithItsDs64",
     [](CardRecorder& r, FatCard&)
     {
         const int t = r.start("SC15_T01.WAV", kFour24, true);
         r.record(t, take(kFour24, 20000, 6, 1000));
         r.lose(t);
     }},
    {"FreeSpaceFragmentedByDeletedTakes",
     [](CardRecorder& r, FatCard&)
     {
         r.intact("SC14_T01.WAV", kStereo16, take(kStereo16, 8000, 5, 0));
         r.deleted("SC14_T02.WAV", kStereo16, take(kStereo16, 6000, 6, 10000));
         r.intact("SC14_T03.WAV", kStereo16, take(kStereo16, 5000, 7, 20000));
         r.deleted("SC14_T04.WAV", kStereo16, take(kStereo16, 7000, 1, 30000));
         r.intact("SC14_T05.WAV", kStereo16, take(kStereo16, 3000, 2, 40000));
         const int t = r.start("SC14_T06.WAV", kStereo16);
         r.record(t, take(kStereo16, 26000, 3, 8000));
         r.lose(t);
     }},
    {"LostTakeRightBeforeAnIntactOne",
     [](CardRecorder& r, FatCard& card)
     {
         r.deleted("SC16_T01.WAV", kMono24, take(kMono24, 30000, 5, 0));
         r.intact("SC16_T02.WAV", kMono24, take(kMono24, 12000, 6, 3000));
         // Fills the deleted take's clusters, and no more.
         const std::size_t nCluster = card.clusterSize();
         const std::size_t nBytes = (r.takes[0].nOnCard + nCluster - 1) / nCluster * nCluster;
         const int t = r.start("SC16_T03.WAV", kMono24);
         const Bytes pcm = take(kMono24, nBytes / 3, 7, 6000);
         r.record(t, Bytes(pcm.begin(),
                           pcm.begin() + static_cast<std::ptrdiff_t>(nBytes - r.takes[t].nHeader)));
         r.lose(t);
     }},
    {"LastClusterWrittenInPartOverOldAudio",
     [](CardRecorder& r, FatCard& card)
     {
         r.deleted("SC19_T01.WAV", kStereo16, take(kStereo16, 30000, 4, 10000));
         // Ends one sector into a cluster of the deleted take's, whose other
         // format makes its audio jump in this take's frames. (Old audio of the
         // same format and level can continue a take's well enough to pass.)
         const int t = r.start("SC19_T02.WAV", kMono24);
         const std::size_t nBytes = 20 * card.clusterSize() + 512 + 100 - r.takes[t].nHeader;
         r.record(t, take(kMono24, nBytes / 3, 6, 20000));
         r.lose(t);
     }},
    {"QuickFormattedCard",
     [](CardRecorder& r, FatCard&)
     {
         r.intact("240611/SC21_T01.WAV", kStereo16, take(kStereo16, 9001, 2, 8000));
         r.intact("240611/SC21_T02.WAV", kMono24, take(kMono24, 12345, 3, 8000));
         const int t = r.start("240611/SC21_T03.WAV", kFour24);
         r.record(t, take(kFour24, 7000, 4, 8000));
         r.flush(t);
         r.format();
     }},
    {"NoFileSystemLeftTheRawBytesRead",
     [](CardRecorder& r, FatCard&)
     {
         r.intact("SC22_T01.WAV", kStereo16, take(kStereo16, 7001, 5, 8000));
         const int t = r.start("SC22_T02.WAV", kMono24);
         r.record(t, take(kMono24, 20000, 6, 8000));
         r.lose(t);
         r.loseFileSystem();
     }},
    {"PartitionTableInFront",
     [](CardRecorder& r, FatCard&)
     {
         r.bPartitioned = true;
         r.intact("240611/SC23_T01.WAV", kStereo16, take(kStereo16, 6000, 1, 8000));
         const int t = r.start("240611/SC23_T02.WAV", kMono24);
         r.record(t, take(kMono24, 20000, 2, 8000));
         r.lose(t);
     }},
    {"MainBootSectorDamaged",
     [](CardRecorder& r, FatCard&)
     {
         r.bBootSectorLost = true;
         const int t = r.start("SC24_T01.WAV", kStereo16);
         r.record(t, take(kStereo16, 15000, 4, 8000));
         r.lose(t);
         r.intact("SC24_T02.WAV", kMono24, take(kMono24, 7000, 3, 8000));
     }},
    {"ChainRecoveredByChkdsk",
     [](CardRecorder& r, FatCard& card)
     {
         card.folder("FOUND.000"); // from an earlier run
         r.intact("SC25_T01.WAV", kStereo16, take(kStereo16, 5000, 1, 8000));
         // The power went right after a flush that left the chain's last cluster half
         // written: chkdsk's size, the chain's, reaches past the take.
         const int t = r.start("SC25_T02.WAV", kMono24);
         r.record(t, take(kMono24, 15000, 5, 8000));
         r.flush(t);
         r.lose(t);
         r.takes[t].bEntryLost = r.bChkdsk = true;
     }},
    {"ChainRecoveredByFsck",
     [](CardRecorder& r, FatCard& card)
     {
         // From an earlier run of fsck.exfat, which takes the lowest free cluster for it
         // otherwise: one of the take's. (fsck.vfat puts its files in the root.)
         if (card.checker() == std::string("fsck.exfat"))
             card.folder("LOST+FOUND");
         const int t = r.start("SC26_T01.WAV", kStereo16);
         const Bytes pcm = take(kStereo16, 30000, 6, 8000);
         const auto flushedAt = pcm.begin() + 12000 * kStereo16.BlockAlign();
         r.record(t, Bytes(pcm.begin(), flushedAt));
         r.flush(t);
         r.record(t, Bytes(flushedAt, pcm.end()));
         r.lose(t);
         r.takes[t].bEntryLost = r.bFsck = true;
         r.intact("SC26_T02.WAV", kMono24, take(kMono24, 4000, 2, 8000));
     }},
    {"AudioWhoseHeaderANewerTakeOverwrote",
     [](CardRecorder& r, FatCard& card)
     {
         r.intact("SC28_T01.WAV", kMono24, take(kMono24, 8000, 1, 8000));
         r.intact("SC28_T02.WAV", kMono24, take(kMono24, 6000, 2, 8000));
         // Neither its entry nor its clusters reached the FAT: the next take, once the
         // power was back, began at its header cluster. The user deleted that one.
         const int t = r.start("SC28_T03.WAV", kMono24);
         r.record(t, take(kMono24, 40000, 5, 0));
         card.loseEntry(t, 0);
         const int newer = r.intact("SC28_T04.WAV", kMono24, take(kMono24, 10400, 4, 8000));
         card.remove(newer);
         r.takes[newer].bDeleted = true;
         r.takes[t].nOverwritten = card.clustersOf(newer).size() * card.clusterSize();
         r.takes[t].bNameless = true;
     }},
    {"TwoTakesRecordedAtOnce",
     [](CardRecorder& r, FatCard& card)
     {
         const int poly = r.start("SC17_T01.WAV", kEight24);
         const int mix = r.start("SC17_M01.WAV", kStereo16);
         interleave(r,
                    {{poly, take(kEight24, 9000, 0, 4000)}, {mix, take(kStereo16, 24000, 2, 4000)}},
                    card.clusterSize());
         r.lose(poly), r.lose(mix);
     }},
    {"ThreeTakesRecordedAtOnce",
     [](CardRecorder& r, FatCard& card)
     {
         const int poly = r.start("SC18_T01.WAV", kFour24);
         const int mix = r.start("SC18_M01.WAV", kStereo16);
         const int mono = r.start("SC18_A01.WAV", kMono24);
         interleave(r,
                    {{poly, take(kFour24, 9000, 7, 8000)},
                     {mix, take(kStereo16, 20000, 1, 8000)},
                     {mono, take(kMono24, 30000, 3, 8000)}},
                    card.clusterSize());
         r.lose(poly), r.lose(mix), r.lose(mono);
     }},
};

// An exFAT card image with two stereo takes of nFrames each lost to a power cut: NAME_T01.WAV
// and NAME_T02.WAV.
fs::path twoLostTakes(const fs::path& image, const std::string& name, std::size_t nFrames)
{
    const auto card = FatCard::make(FatCard::FileSystem::ExFat, image, 4, 1024);
    CardRecorder recorder(*card);
    for (const std::string& path : {name + "_T01.WAV", name + "_T02.WAV"})
    {
        const int t = recorder.start(path, kStereo16);
        recorder.record(t, take(kStereo16, nFrames, 2, 8000));
        recorder.lose(t);
    }
    recorder.cut();
    card->save();
    return image;
}

using CliRescue = CliCase<std::tuple<RescueCase, FatCard::FileSystem>>;
} // namespace

// Each lost take comes back holding exactly the frames that reached the card, no
// foreign frame, and three outside decoders read its format and sox its original
// samples; intact takes are listed, not written; the image stays as it was.
TEST_P(CliRescue, LostTakesComeBackWithTheFramesThatReachedTheCard)
{
    const auto& [row, fileSystem] = GetParam();
    const fs::path image = dir / "card.img";
    const bool bFat32 = fileSystem == FatCard::FileSystem::Fat32;
    const auto card = FatCard::make(fileSystem, image, bFat32 ? 66 : 4, 1024);
    CardRecorder recorder(*card);
    row.record(recorder, *card);
    recorder.flushAll();
    card->save();
    const auto fsck = CliProcess::run({"-n", image}, card->checker());
    ASSERT_EQ(fsck.status, 0) << fsck.out << fsck.err;
    recorder.cut();
    card->save();
    if (recorder.bFsck)
    {
        const auto check =
            CliProcess::run({bFat32 ? "-a" : "-y", bFat32 ? "-f" : "-s", image}, card->checker());
        ASSERT_LE(check.status, 1) << check.out << check.err; // 1: errors were corrected
    }
    const Bytes before = readFile(image);

    const Terminal terminal;
    const auto result = CliProcess({"rescue", "--json", image, "--dest", out}, 0, KORVA_CLI_PATH,
                                   -1, terminal.input)
                            .finish();
    const std::string err = terminal.written();
    EXPECT_EQ(result.status, 0) << err;
    EXPECT_TRUE(readFile(image) == before);
    if (recorder.bRaw)
    {
        EXPECT_THAT(err, HasSubstr("no FAT or exFAT file system, so its raw bytes were "
                                   "scanned, 2 takes found"));
    }
    EXPECT_EQ(err.find("main boot sector is damaged: the backup boot sector was used") !=
                  std::string::npos,
              recorder.bBootSectorLost)
        << err;
    // At a terminal the reading of a FAT32 card (66 MiB) may show how far it is, a step of
    // at least 8 MiB at a time (holes in the image are passed at once, so a card that is
    // mostly holes may show nothing) on one line, cleared before the first notice; a fresh
    // card with one take shows it; the 4 MiB exFAT card's reading shows nothing.
    const std::string notice = "korva-cli: " + image.string() + ": ";
    const std::string progress = "\r\033[KReading " + image.string() + ": ";
    if (bFat32 && (err.starts_with(progress) || row.name == std::string("OneLostTakeOnAFreshCard")))
    {
        EXPECT_THAT(err, ::testing::StartsWith(progress));
        EXPECT_THAT(err, HasSubstr(" MB\r\033[K" + notice));
    }
    else
        EXPECT_THAT(err, ::testing::StartsWith(notice));
    // By where the take went, or its path on the card when it was not written.
    std::map<std::string, json> lines;
    std::istringstream text(result.out);
    for (std::string line; std::getline(text, line);)
    {
        const json outcome = json::parse(line);
        const std::string destination = outcome["destination"];
        lines[destination.empty()
                  ? outcome["source"].get<std::string>().substr(image.string().size() + 1)
                  : destination] = outcome;
    }
    std::size_t nListed = 0;
    for (std::size_t id = 0; id < recorder.takes.size(); ++id)
    {
        const CardRecorder::Take& t = recorder.takes[id];
        if (t.bDeleted)
            continue;
        ++nListed;
        // Named by its header's cluster (or its first left), or in raw bytes by its sector,
        // counted from 2 too.
        const uint32_t nHead =
            card->clustersOf(static_cast<int>(id))[t.nOverwritten / card->clusterSize()];
        char recovered[32];
        std::snprintf(recovered, sizeof recovered, "cluster-%06llu.wav",
                      static_cast<unsigned long long>(
                          recorder.bRaw ? card->offsetOf(nHead) / 512 + 2 : nHead));
        const fs::path rescued = t.bNameless ? out / "recovered" / recovered : out / t.path;
        const bool bLost = t.bLost || t.bNameless;
        json& outcome = lines[bLost ? rescued.string() : t.path];
        EXPECT_EQ(outcome["kind"], bLost ? "rescued" : "intact") << t.path << result.out;
        if (!bLost)
        {
            EXPECT_FALSE(fs::exists(rescued)) << rescued;
            continue;
        }
        // Audio overwritten with its header is gone, and what is left begins at a whole frame.
        const std::size_t nAlign = t.format.BlockAlign();
        const uint64_t nGone = t.nOverwritten == 0 ? 0 : t.nOverwritten - t.nHeader;
        const uint64_t nSkip = nGone + (nAlign - nGone % nAlign) % nAlign;
        const uint64_t nFrames = (t.nOnCard - t.nHeader - nSkip) / nAlign;
        EXPECT_EQ(outcome["destination"], rescued.string());
        EXPECT_THAT(outcome["detail"].get<std::string>(),
                    HasSubstr(" " + std::to_string(nFrames) + " frames"));
        ASSERT_TRUE(fs::exists(rescued)) << result.out;
        const Format format{t.format.nSampleRate, t.format.nBitsPerSample, t.format.nChannels};
        EXPECT_EQ(outsideFormats(rescued), std::vector(3, format)) << t.path;
        const Bytes decoded = soxSamples(rescued);
        EXPECT_EQ(decoded.size(), nFrames * t.format.BlockAlign()) << t.path << "\n" << result.out;
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(),
                               t.pcm.begin() + static_cast<std::ptrdiff_t>(nSkip)))
            << t.path;
    }
    EXPECT_EQ(lines.size(), nListed) << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cards, CliRescue,
    ::testing::Combine(::testing::ValuesIn(kRescueCases),
                       ::testing::Values(FatCard::FileSystem::Fat32, FatCard::FileSystem::ExFat)),
    [](const auto& info)
    {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == FatCard::FileSystem::Fat32 ? "OnFat32" : "OnExFat");
    });

// From the card's block device (a read-only loop device over its image, where
// one can be set up) the rescue writes the takes it writes from the image, and
// the image stays as it was. A destination on a file system of the device
// being rescued is refused before the device is read: seen on a loop device
// over an ext4 image, since the kernels tests run on mount no FAT or exFAT.
TEST_F(CliBatch, RescueFromTheCardsBlockDeviceAsFromItsImage)
{
    const auto loop = [&](const fs::path& image)
    {
        const auto result = CliProcess::run({"--read-only", "--find", "--show", image}, "losetup");
        return result.status == 0 ? result.out.substr(0, result.out.find('\n')) : "";
    };
    const fs::path image = dir / "card.img", ext4 = dir / "ext4.img", mnt = dir / "mnt";
    const auto card = FatCard::make(FatCard::FileSystem::ExFat, image, 4, 1024);
    CardRecorder recorder(*card);
    const int poly = recorder.start("SC23_T01.WAV", kFour24);
    const int mix = recorder.start("SC23_M01.WAV", kStereo16);
    interleave(recorder,
               {{poly, take(kFour24, 6000, 2, 1000)}, {mix, take(kStereo16, 12000, 4, 1000)}},
               card->clusterSize());
    recorder.lose(poly), recorder.lose(mix);
    recorder.cut();
    card->save();
    const Bytes before = readFile(image);
    const std::string device = loop(image);
    if (device.empty())
        GTEST_SKIP() << "no loop device can be set up here (needs root and loop devices)";
    fs::create_directories(out / "image"), fs::create_directories(out / "device");
    const auto fromDevice = CliProcess::run({"rescue", device, "--dest", out / "device"});
    CliProcess::run({"--detach", device}, "losetup");
    EXPECT_EQ(fromDevice.status, 0) << fromDevice.err;
    EXPECT_EQ(CliProcess::run({"rescue", image, "--dest", out / "image"}).status, 0);
    EXPECT_EQ(filesIn(out / "device").size(), 2u);
    EXPECT_EQ(filesIn(out / "device"), filesIn(out / "image"));
    EXPECT_TRUE(readFile(image) == before);

    writeFile(ext4, {});
    fs::resize_file(ext4, 8 << 20), fs::create_directory(mnt);
    ASSERT_EQ(CliProcess::run({"-q", ext4}, "mkfs.ext4").status, 0);
    const std::string disk = loop(ext4);
    ASSERT_FALSE(disk.empty());
    const bool bMounted = CliProcess::run({"-o", "ro,noload", disk, mnt}, "mount").status == 0;
    const auto onCard = CliProcess::run({"rescue", disk, "--dest", mnt});
    CliProcess::run({mnt}, "umount"), CliProcess::run({"--detach", disk}, "losetup");
    if (!bMounted)
        GTEST_SKIP() << "an ext4 image cannot be mounted here";
    EXPECT_EQ(onCard.status, 2);
    EXPECT_THAT(onCard.err, HasSubstr("lies on the card " + disk + " itself"));
}

// The destination's file system is flushed once, after the last take and
// before the summary says the run is done, by repair and rescue alike (seen by
// strace, which names each descriptor's file). LeakSanitizer cannot run under a
// tracer, so a sanitizer build's leak check is off here.
using CliFlush = CliCase<std::tuple<const char*, const char*>>; // the command, its outcome word

TEST_P(CliFlush, FlushesTheDestinationBeforeItSaysDone)
{
    const auto& [command, outcome] = GetParam();
    std::vector<std::string> args = {"-f",
                                     "-y",
                                     "-e",
                                     "trace=syncfs,write",
                                     "-o",
                                     dir / "trace",
                                     "--env=ASAN_OPTIONS=detect_leaks=0",
                                     KORVA_CLI_PATH,
                                     command,
                                     "--dest",
                                     out};
    if (command == std::string("repair"))
        args.insert(args.end(), {"--rate", "48000", "--bits", "24", "--channels", "1",
                                 addSource("a.wav", lostFormat(samples(60))),
                                 addSource("b.wav", lostFormat(samples(90)))});
    else
    {
        args.push_back(twoLostTakes(dir / "card.img", "SC20", 3000));
    }
    const auto result = CliProcess::run(args, "strace");
    ASSERT_EQ(result.status, 0) << result.err;
    std::ifstream lines(dir / "trace");
    std::vector<std::string> calls; // "syncfs" of the destination, "summary", "line"
    for (std::string line; std::getline(lines, line);)
        if (line.find("syncfs(") != std::string::npos)
            calls.push_back(line.find("<" + out.string() + ">") != std::string::npos
                                ? "syncfs of the destination"
                                : line);
        else if (line.find(std::string("\"2 ") + outcome) != std::string::npos)
            calls.push_back("summary");
        else if (line.find(std::string(outcome) + "\\t") != std::string::npos)
            calls.push_back("line");
    EXPECT_EQ(calls,
              (std::vector<std::string>{"line", "line", "syncfs of the destination", "summary"}));
}

INSTANTIATE_TEST_SUITE_P(Runs, CliFlush,
                         ::testing::Values(CliFlush::ParamType{"repair", "repaired"},
                                           CliFlush::ParamType{"rescue", "rescued"}),
                         kRowName);

// A destination that fills up in the middle of a take (a tmpfs smaller than it) keeps no part
// of it, and the rescue stops there with the reason: the next take is not reached.
TEST_F(CliBatch, RescueIntoADestinationThatFillsUpKeepsNoHalfTake)
{
    if (mount("tmpfs", out.c_str(), "tmpfs", 0, "size=96k") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here (needs root)";
    const auto result =
        CliProcess::run({"rescue", twoLostTakes(dir / "card.img", "SC27", 30000), "--dest", out});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, ::testing::StartsWith("failed\t" + (out / "SC27_T01.WAV").string() +
                                                  "\tit could not be written: the destination "
                                                  "is full\nnot processed\t" +
                                                  (out / "SC27_T02.WAV").string() +
                                                  "\tthe rescue stopped before it\n"));
    EXPECT_TRUE(filesIn(out).empty());
}
