#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <random>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TempDir.h"
#include "WavBuilder.h"

using namespace fixture;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

// korva-cli under faults: a destination that fills up, a file too large for
// RIFF, and a batch killed at random points. Whatever happens, no file under a
// final name is partial, no earlier copy is lost and the sources never change.
namespace
{
// korva-cli as a child process, its standard output and error in one file.
class CliRun
{
public:
    // nFileSizeLimit > 0: no file the child writes may grow past it (a full
    // disk without root); SIGXFSZ is ignored so that the write fails instead.
    CliRun(const std::vector<std::string>& args, const fs::path& output, rlim_t nFileSizeLimit = 0)
    {
        std::vector<char*> argv{const_cast<char*>(KORVA_CLI_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid != 0)
            return;
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        if (nFileSizeLimit > 0)
        {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{nFileSizeLimit, nFileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    ~CliRun()
    {
        if (m_pid > 0 && !m_bWaited)
        {
            ::kill(m_pid, SIGKILL);
            wait();
        }
    }
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    void kill(int nSignal) { ::kill(m_pid, nSignal); }
    // The exit status, or 128 + the signal that ended the child.
    int wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_bWaited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t m_pid = -1;
    bool m_bWaited = false;
};

std::string ReadText(const fs::path& path)
{
    const Bytes bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// A Broadcast Wave file that lost its format chunk (the repair writes over the
// remains at 622) or one whose data follows bext directly (the repair inserts).
Bytes LostFormat(std::size_t nSamples, uint32_t seed, bool bRemains = true)
{
    const Bytes bext = chunk("bext", bextBody(seed));
    const Bytes data = chunk("data", samples(nSamples, seed));
    return bRemains ? riff({bext, Bytes(24, 0), data}) : riff({bext, data});
}

Bytes Repaired(const Bytes& source)
{
    const Bytes fmt = fmtChunkMono(48000, 24);
    Bytes out = source;
    if (readLe32(source, 622) == 0) // the remains of the lost chunk
    {
        std::copy(fmt.begin(), fmt.end(), out.begin() + 622);
        return out;
    }
    out.insert(out.begin() + 622, fmt.begin(), fmt.end());
    putLe32(out, 4, readLe32(source, 4) + 24);
    return out;
}

std::vector<std::string> RepairArgs(const fs::path& dest, const std::vector<fs::path>& files)
{
    std::vector<std::string> args{"repair", "--dest", dest.string(), "--rate",
                                  "48000",  "--bits", "24",          "--yes"};
    for (const fs::path& f : files)
        args.push_back(f.string());
    return args;
}

std::map<std::string, Bytes> FilesIn(const fs::path& folder)
{
    std::map<std::string, Bytes> out;
    for (const auto& entry : fs::directory_iterator(folder))
        out[entry.path().filename().string()] = readFile(entry.path());
    return out;
}

// A tmpfs of nBytes mounted for as long as the object lives; mounted() is
// false where mounting is not allowed.
class SmallDisk
{
public:
    SmallDisk(const fs::path& at, std::size_t nBytes) : m_at(at)
    {
        fs::create_directories(at);
        const std::string options = "size=" + std::to_string(nBytes);
        m_bMounted = mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (m_bMounted)
            umount2(m_at.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return m_bMounted; }

private:
    fs::path m_at;
    bool m_bMounted = false;
};
} // namespace

class BatchFault : public ::testing::Test
{
protected:
    TempDir dir;
    fs::path src = dir / "src";
    fs::path dest = dir / "dest";
    fs::path output = dir / "output.txt";

    void SetUp() override { fs::create_directories(src); }

    fs::path source(const std::string& name, const Bytes& bytes)
    {
        writeFile(src / name, bytes);
        return src / name;
    }
};

TEST_F(BatchFault, FileAboveFourGiBIsRefusedBeforeAnythingIsWritten)
{
    fs::create_directories(dest);
    const Bytes head = LostFormat(64, 1);
    const fs::path big = source("big.wav", head);
    const uint64_t length = (uint64_t{1} << 32) + 8;
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(length)), 0);

    CliRun cli(RepairArgs(dest, {big, source("after.wav", LostFormat(64, 2))}), output);
    EXPECT_EQ(cli.wait(), 1);
    EXPECT_THAT(ReadText(output), HasSubstr("File larger than 4 GiB, not copied: " + big.string()));
    EXPECT_TRUE(FilesIn(dest).empty()) << "nothing may be written, not even a temporary file";
    EXPECT_EQ(fs::file_size(big), length);
    std::vector<uint8_t> readBack(head.size());
    FILE* f = fopen(big.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fread(readBack.data(), 1, readBack.size(), f), head.size());
    fclose(f);
    EXPECT_EQ(readBack, head);
}

// The second of three files does not fit: the batch stops there, the first
// copy stands complete, the earlier copy of the second is kept, nothing is left
// half-written under any name, the third file is not reached.
class FullDisk : public BatchFault, public ::testing::WithParamInterface<bool>
{
protected:
    struct Result
    {
        int status;
        std::string output;
        std::map<std::string, Bytes> dest;
    };

    const Bytes a = LostFormat(100000, 1);
    const Bytes b = LostFormat(1000000, 2);
    const Bytes c = LostFormat(100000, 3, false);
    const Bytes earlierB = Repaired(LostFormat(40000, 4));

    // GetParam(): true for a 600 KB tmpfs, false for a 500 KB file-size limit.
    Result RunBatch()
    {
        std::unique_ptr<SmallDisk> disk;
        if (GetParam())
        {
            disk = std::make_unique<SmallDisk>(dest, 600 * 1024);
            if (!disk->mounted())
                return {-1, "tmpfs cannot be mounted here (needs root)", {}};
        }
        fs::create_directories(dest);
        writeFile(dest / "b.wav", earlierB);
        const std::vector<fs::path> files = {source("a.wav", a), source("b.wav", b),
                                             source("c.wav", c)};
        CliRun cli(RepairArgs(dest, files), output, GetParam() ? 0 : 500 * 1024);
        const int status = cli.wait();
        return {status, ReadText(output), FilesIn(dest)};
    }
};

TEST_P(FullDisk, StopsTheBatchAndLosesNothing)
{
    const Result r = RunBatch();
    if (r.status == -1)
        GTEST_SKIP() << r.output;
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.output, HasSubstr("failed\t" + (dest / "b.wav").string()));
    EXPECT_THAT(r.output, HasSubstr("stopped; 1 of 3 files not processed"));
    const std::map<std::string, Bytes> expected{{"a.wav", Repaired(a)}, {"b.wav", earlierB}};
    EXPECT_TRUE(r.dest == expected) << "destination holds " << r.dest.size() << " files";
    EXPECT_EQ(readFile(src / "a.wav"), a);
    EXPECT_EQ(readFile(src / "b.wav"), b);
    EXPECT_EQ(readFile(src / "c.wav"), c);
}

TEST_P(FullDisk, MessageNamesTheCause)
{
    const Result r = RunBatch();
    if (r.status == -1)
        GTEST_SKIP() << r.output;
    const char* cause = GetParam() ? "No space left on device" : "File too large";
    EXPECT_THAT(r.output, HasSubstr(cause));
}

INSTANTIATE_TEST_SUITE_P(Destinations, FullDisk, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Tmpfs" : "FileSizeLimit"; });

// SIGKILL at random points of a batch, again and again over the same folder:
// every file under a final name is complete, and the sources never change.
TEST_F(BatchFault, KilledAtRandomPointsNeverLeavesAPartialFile)
{
    std::vector<fs::path> files;
    std::map<std::string, Bytes> sources, expected;
    for (uint32_t i = 0; i < 10; ++i)
    {
        const std::string name = "take" + std::to_string(i) + ".wav";
        // Every third one needs an insert, which moves the whole of its data.
        sources[name] = LostFormat(500000, i, i % 3 != 0);
        expected[name] = Repaired(sources[name]);
        files.push_back(source(name, sources[name]));
    }
    fs::create_directories(dest);

    // How long a whole batch takes here, so that the kills fall inside one.
    const auto start = std::chrono::steady_clock::now();
    {
        CliRun cli(RepairArgs(dest, files), output);
        ASSERT_EQ(cli.wait(), 0) << ReadText(output);
    }
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(FilesIn(dest) == expected);

    std::mt19937 random(20240607);
    std::uniform_int_distribution<long> delay(0, whole.count());
    for (int round = 0; round < 12; ++round)
    {
        if (round % 2 == 0) // every other round starts from an empty folder
            fs::remove_all(dest), fs::create_directories(dest);
        CliRun cli(RepairArgs(dest, files), output);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        cli.kill(SIGKILL);
        cli.wait();
        for (const auto& [name, bytes] : FilesIn(dest))
        {
            if (name.starts_with(".korva-"))
                continue; // a temporary copy, never under a final name
            ASSERT_TRUE(expected.contains(name)) << "round " << round << ": " << name;
            EXPECT_TRUE(bytes == expected[name])
                << "round " << round << ": " << name << " is partial (" << bytes.size() << " of "
                << expected[name].size() << " bytes)";
        }
    }
    for (const auto& [name, bytes] : sources)
        EXPECT_TRUE(readFile(src / name) == bytes) << name << " changed";
}
