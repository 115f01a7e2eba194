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
// One run of korva-cli (or another program): standard input /dev/null (never a terminal),
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

    explicit CliProcess(const std::vector<std::string>& args, rlim_t nFileSizeLimit = 0,
                        const char* program = KORVA_CLI_PATH)
    {
        int outPipe[2];
        EXPECT_EQ(pipe(outPipe), 0);
        fcntl(outPipe[0], F_SETPIPE_SZ, 1);
        if ((m_pid = fork()) == 0)
        {
            dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
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

// A Broadcast Wave file that lost its fmt chunk behind bext: zeroed where it
// stood (the repair writes over the remains) or gone (the repair inserts one).
Bytes lostFormat(const Bytes& pcm, bool bRemains = true)
{
    const Bytes bext = chunk("bext", bextBody(48000u * 3600));
    return riff({bext, Bytes(bRemains ? 24 : 0, 0), chunk("data", pcm, true)});
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

    std::vector<std::string> repairArgs(int rate, int bits, std::vector<std::string> rest) const
    {
        rest.insert(rest.begin(), {"repair", "--dest", out, "--rate", std::to_string(rate),
                                   "--bits", std::to_string(bits)});
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
// sndfile-info, sox's soxi and ffprobe; 0 where one says nothing.
std::vector<Format> outsideFormats(const fs::path& file)
{
    const std::string info = CliProcess::run({file}, "sndfile-info").out;
    const std::string sox = CliProcess::run({file}, "soxi").out;
    const std::string probe =
        CliProcess::run({"-v", "error", "-show_streams", file}, "ffprobe").out;
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
    const std::string raw = CliProcess::run({file, "-t", "raw", "-"}, "sox").out;
    return {raw.begin(), raw.end()};
}

// Rate, bits, remains of the lost fmt chunk (written over, else inserted):
// every rate at both depths, each depth both ways.
using CliRepairDecodes = CliCase<std::tuple<int, int, bool>>;

const CliRepairDecodes::ParamType kDecodeCases[] = {
    {44100, 16, true},  {44100, 24, false}, {48000, 16, false}, {48000, 24, true},
    {88200, 16, true},  {88200, 24, false}, {96000, 16, false}, {96000, 24, true},
    {128000, 16, true}, {128000, 24, false}};

// The name; the arguments, given to sh in the folder of src, out and link (to
// src); the status; part of standard error (of standard output for status 0).
using CliUsage = CliCase<std::tuple<const char*, const char*, int, const char*>>;

const CliUsage::ParamType kUsageCases[] = {
    {"Version", "--version", 0, KORVA_VERSION "\n"},
    {"NoCommand", "", 2, "A subcommand is required"},
    {"UnknownOption", "repair --dest out --rate 48000 --bits 16 --fast src/a.wav", 2, "--fast"},
    {"RateNotInTheTable", "repair --dest out --rate 32000 --bits 16 src/a.wav", 2, "32000 not in"},
    {"DepthNotInTheTable", "repair --dest out --rate 48000 --bits 32 src/a.wav", 2, "32 not in"},
    {"RateMissing", "repair --dest out --bits 16 src/a.wav", 2, "--rate is required"},
    {"NoWavAmongTheFiles", "repair --dest out --rate 48000 --bits 16 src/b.txt", 2, "no .wav file"},
    {"DestinationDoesNotExist", "repair --dest out/none --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is not a folder"},
    {"DestinationLinksToTheSourceFolder", "repair --dest link --rate 48000 --bits 16 src/a.wav", 2,
     "the destination is a folder the files come from"},
    {"YesAndNo", "repair --dest out --rate 48000 --bits 16 --yes --no src/a.wav", 2, "excludes"},
};

// The name, the file, and JSON of the fields to compare (the rest is not looked at).
using CliFileReport = CliCase<std::tuple<const char*, Bytes, const char*>>;
const Bytes kBext = chunk("bext", bextBody(0x12345678, 9));

// time_reference 305419896 is 0x12345678; the high word 9 is not read.
const CliFileReport::ParamType kReportCases[] = {
    {"RepairableWithZeroedFmt", riff({kBext, Bytes(24, 0), chunk("data", samples(6))}),
     R"({"form": "RIFF", "length": 660, "format": null, "time_reference": 305419896,
         "chunks": [{"id": "bext", "offset": 12, "size": 602, "hole": false},
                    {"id": "\\x00\\x00\\x00\\x00", "offset": 622, "size": 24, "hole": true},
                    {"id": "data", "offset": 646, "size": 6, "hole": false}],
         "data": {"offset": 646, "length": 6, "frames": 0},
         "action": "write a format chunk with a 16-byte body at 622, set the RIFF size to 652",
         "verdict": "repairable: format chunk missing, remains of 24 bytes at 622"})"},
    {"IntactWithRegionsCueAndAfjx",
     riff({chunk("fmt ", fmtPcm(1, 96000, 24)), kBext, chunk("regn", cat({le32(3), Bytes(8, 0)})),
           chunk("cue ", le32(0)), chunk("AFJx", {1, 2}), chunk("data", samples(7), true)}),
     R"({"format": {"format_tag": 1, "channels": 1, "sample_rate": 96000,
                    "bytes_per_second": 288000, "block_align": 3, "bits_per_sample": 24},
         "data": {"offset": 688, "length": 7, "frames": 2},
         "regions": 3, "cue": true, "afjx": true, "action": "none", "verdict": "intact"})"},
    {"NoBext", riff({Bytes(24, 0), chunk("data", samples(4))}),
     R"({"bext": false, "time_reference": null, "regions": 0, "cue": false, "afjx": false,
         "verdict": "no bext chunk: not repairable"})"},
    {"ShortBextHasNoTimeReference", riff({chunk("bext", bextBody(1, 0, 64)), chunk("data", {})}),
     R"({"bext": true, "time_reference": null,
         "verdict": "repairable: format chunk missing, no remains; a new one goes behind bext at 84"})"},
    {"DataSizeRunsPastTheEnd", riff({kBext, chunkDeclared("data", 1000, samples(4))}),
     R"({"chunks": [{"id": "bext", "offset": 12, "size": 602, "hole": false},
                   {"id": "data", "offset": 622, "size": 1000, "present": 4, "hole": false}],
         "verdict": "repairable: format chunk missing, no remains; a new one goes behind bext at 622; data size 1000, 4 bytes of audio follow"})"},
    {"Rf64", cat({ascii("RF64"), le32(0xFFFFFFFF), ascii("WAVEds64"), le32(28), le32(658), le32(0),
                  le32(0), le32(0), le32(0), le32(0), le32(0), kBext, chunk("data", {})}),
     R"({"form": "RF64", "riff": true, "verdict": "repairable: format chunk missing, no remains; a new one goes behind bext at 658"})"},
    {"NotRiff", cat({ascii("RIFX"), le32(4), ascii("WAVE")}),
     R"({"form": "not RIFF", "riff": false, "length": 12, "chunks": [], "verdict": "not a RIFF file"})"},
};

// Name; option ("" for none: no terminal answers); size of b.wav (beyond its
// bytes a sparse tail); options of a tmpfs mounted on the destination; a limit
// on every file korva-cli writes (0: none); failure (nullptr: all repaired).
using CliBatchStop =
    CliCase<std::tuple<const char*, const char*, std::uintmax_t, const char*, rlim_t, const char*>>;

const CliBatchStop::ParamType kStopCases[] = {
    {"Yes", "--yes", 0, nullptr, 0, nullptr},
    {"No", "--no", 0, nullptr, 0, "Not copied: the existing file was kept"},
    {"NoTerminal", "", 0, nullptr, 0, "Not copied: the existing file was kept"},
    {"SourceAboveFourGiB", "--yes", (std::uintmax_t{1} << 32) + 8, nullptr, 0,
     "File larger than 4 GiB"},
    {"FullTmpfs", "--yes", 1 << 20, "size=600k", 0,
     "filesystem error: copy_file: No space left on device"},
    {"FileSizeLimit", "--yes", 1 << 20, nullptr, 500 << 10,
     "filesystem error: copy_file: File too large"},
};
} // namespace

// Damaged files (at 48 kHz 16 bit the system's alsa sounds too) come back with the
// chosen fmt chunk, read so by three outside decoders, sample for sample.
TEST_P(CliRepairDecodes, OutsideDecodersReadTheChosenFormatAndTheOriginalSamples)
{
    const auto [rate, bits, bRemains] = GetParam();
    Files pcms{{"take.wav", samples(bits / 8 * 4801u, rate)}};
    std::error_code noAlsaSounds;
    if (rate == 48000 && bits == 16)
        for (const auto& sound : fs::directory_iterator("/usr/share/sounds/alsa", noAlsaSounds))
            pcms[sound.path().filename()] = soxSamples(sound.path());
    std::vector<std::string> args = repairArgs(rate, bits, {});
    std::string lines;
    for (const auto& [name, pcm] : pcms)
    {
        args.push_back(addSource(name, lostFormat(pcm, bRemains)));
        lines += "repaired\t" + (out / name).string() + "\tformat chunk " +
                 (bRemains ? "written over the remains of the lost one at 622"
                           : "inserted behind bext") +
                 ": " + std::to_string(rate) + " Hz, " + std::to_string(bits) + " bit, mono\n";
    }
    const auto result = CliProcess::run(args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, lines);
    for (const auto& [name, pcm] : pcms)
    {
        const fs::path copy = out / name;
        EXPECT_EQ(readFile(copy), repaired(lostFormat(pcm, bRemains), rate, bits)) << name;
        EXPECT_EQ(outsideFormats(copy), std::vector(3, Format{rate, bits, 1})) << name;
        EXPECT_EQ(soxSamples(copy), pcm) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, CliRepairDecodes, ::testing::ValuesIn(kDecodeCases));

// Files the repair leaves as they are are copied byte for byte and say why; arguments
// not listed (a .WaV is) get a line on standard error; --trace reaches standard output.
TEST_F(CliBatch, UnchangedAndSkippedFilesSayWhyAndTraceReachesStandardOutput)
{
    const Bytes intact = riff({chunk("fmt ", fmtPcm(1, 48000, 24)), chunk("bext", bextBody(1)),
                               chunk("data", samples(30))});
    const Bytes noBext = riff({Bytes(24, 0), chunk("data", samples(30))});
    const std::string text = addSource("notes.txt", ascii("notes"));
    const auto result = CliProcess::run(repairArgs(
        48000, 24, {"--trace", text, addSource("intact.WaV", intact), addSource("b.wav", noBext)}));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.err, ::testing::StartsWith("korva-cli: skipped, not a .wav file: " + text +
                                                  "\nStart the thread\n"));
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
    const auto result = CliProcess::run(
        {"-c", "cd '" + dir.path().string() + "' && exec '" KORVA_CLI_PATH "' " + args}, "sh");
    EXPECT_EQ(result.status, status) << result.err;
    EXPECT_THAT(status ? result.err : result.out, HasSubstr(text));
    EXPECT_EQ(result.out.empty(), result.status == 2);
    EXPECT_TRUE(filesIn(out).empty());
    EXPECT_EQ(filesIn(src).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Errors, CliUsage, ::testing::ValuesIn(kUsageCases), kRowName);

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
        EXPECT_THAT(text, HasSubstr(chunk["hole"] ? "\n    (hole)  offset " + chunk["offset"].dump() +
                                                        "  length " + chunk["size"].dump()
                                                  : "\n    " + chunk["id"].get<std::string>() +
                                                        "  offset " + chunk["offset"].dump() +
                                                        "  size " + chunk["size"].dump()));
    EXPECT_THAT(text,
                HasSubstr("\n  verdict:         " + report["verdict"].get<std::string>() + "\n"));
    EXPECT_THAT(text, Not(HasSubstr("SearchForChunk")));
}

INSTANTIATE_TEST_SUITE_P(Files, CliFileReport, ::testing::ValuesIn(kReportCases), kRowName);

// The destination holds an older b.wav: --yes replaces it; --no, no answer (no terminal),
// a source above 4 GiB or a full disk keep it and end the batch with status 1 before
// c.wav, a.wav's copy whole. Only a question no option answered is put, on standard error.
TEST_P(CliBatchStop, ReplacesTheOlderCopyOrKeepsItAndStops)
{
    const auto& [name, option, nSourceSize, tmpfs, nFileSizeLimit, failure] = GetParam();
    if (tmpfs && mount("tmpfs", out.c_str(), "tmpfs", 0, tmpfs) != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here (needs root)";
    const Bytes damaged = lostFormat(samples(60)), older = ascii("an older copy");
    const Bytes fixed = repaired(damaged, 48000, 24);
    writeFile(out / "b.wav", older);
    std::vector<std::string> args =
        repairArgs(48000, 24,
                   {addSource("a.wav", damaged), addSource("b.wav", damaged, nSourceSize),
                    addSource("c.wav", damaged)});
    if (*option)
        args.push_back(option);
    const auto result = CliProcess(args, nFileSizeLimit).finish();
    const bool bAsked = result.err.find("The file: b.wav already exists! Overwrite file? [y/N]") !=
                        std::string::npos;
    EXPECT_EQ(bAsked, *option == '\0') << result.err;
    EXPECT_EQ(result.status, failure ? 1 : 0) << result.err;
    EXPECT_EQ(filesIn(out),
              (failure ? Files{{"a.wav", fixed}, {"b.wav", older}}
                       : Files{{"a.wav", fixed}, {"b.wav", fixed}, {"c.wav", fixed}}));
    if (failure)
    {
        EXPECT_THAT(result.out,
                    HasSubstr("\nfailed\t" + (out / "b.wav").string() + "\t" + failure));
        EXPECT_THAT(result.err, HasSubstr("korva-cli: stopped; 1 of 3 files not processed\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, CliBatchStop, ::testing::ValuesIn(kStopCases), kRowName);

// The batch stopped again and again: by one Ctrl-C, which ends it after the current
// file, by a second once the first is taken, which ends it there (both status 130), then
// by SIGKILL at random points. Every file under a final name is whole. For Ctrl-C the
// trace fills the pipe, read only up to the first file, so the batch cannot end first.
TEST_F(CliBatch, StoppedBySignalsLeavesOnlyWholeFiles)
{
    std::vector<std::string> args = repairArgs(48000, 24, {"--yes"});
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
    std::vector<std::string> traced = args;
    traced.push_back("--trace");
    for (int round = 0; round < 14; ++round)
    {
        const bool bCtrlC = round < 2;
        SCOPED_TRACE(bCtrlC ? std::to_string(round + 1) + " Ctrl-C" : "SIGKILL");
        if (round % 2 == 0 || round == 1) // Ctrl-C and every other kill from an empty folder
            fs::remove_all(out), fs::create_directory(out);
        CliProcess cli(bCtrlC ? traced : args);
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
