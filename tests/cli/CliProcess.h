#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempDir.h"
#include "WavBuilder.h"

namespace fs = std::filesystem;
using fixture::Bytes;
using Files = std::map<std::string, Bytes>; // by name

// One run of the built korva-cli (or of another program): standard input from
// /dev/null (never a terminal), standard output through a pipe, standard error
// into a file read at the end. nFileSizeLimit > 0 caps every file the child
// writes (a full disk without root); SIGXFSZ is ignored so the write fails.
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
    void send(int nSignal) { kill(m_pid, nSignal); }
    Result finish()
    {
        waitFor("");
        close(m_outFd);
        m_outFd = -1;
        int nWait = 0;
        waitpid(m_pid, &nWait, 0);
        Result result{WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait), m_out, ""};
        rewind(m_err);
        for (int c; (c = fgetc(m_err)) != EOF;)
            result.err += static_cast<char>(c);
        return result;
    }
    static Result run(const std::vector<std::string>& args) { return CliProcess(args).finish(); }

private:
    FILE* m_err = tmpfile();
    pid_t m_pid = -1;
    int m_outFd = -1;
    std::string m_out;
};

// A Broadcast Wave file that lost its fmt chunk behind bext: zeroed where it
// stood (the repair writes over the remains) or gone (the repair inserts one).
inline Bytes lostFormat(const Bytes& pcm, bool bRemains = true)
{
    const Bytes bext = fixture::chunk("bext", fixture::bextBody(48000u * 3600));
    return fixture::riff({bext, Bytes(bRemains ? 24 : 0, 0), fixture::chunk("data", pcm, true)});
}

// What the repair must make of a lostFormat file.
inline Bytes repaired(Bytes file, uint32_t rate, uint16_t bits)
{
    constexpr std::size_t kBextEnd = 12 + 8 + 602;
    if (fixture::readLe32(file, kBextEnd) != 0) // data follows bext: all of it moves on
        file.insert(file.begin() + kBextEnd, 24, 0), fixture::putLe32(file, 4, file.size() - 8);
    const Bytes fmt = fixture::fmtChunkMono(rate, bits);
    std::copy(fmt.begin(), fmt.end(), file.begin() + kBextEnd);
    return file;
}

// Sources go to src, copies to out; after each test every source (read-only
// and sparse ones included) must hold what it was given.
class CliBatch : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directory(src), fs::create_directory(out); }
    void TearDown() override
    {
        for (const auto& [path, source] : m_sources)
        {
            Bytes head(source.first.size());
            std::ifstream(path).read(reinterpret_cast<char*>(head.data()),
                                     static_cast<long>(head.size()));
            EXPECT_TRUE(head == source.first && fs::file_size(path) == source.second) << path;
        }
    }

    // nSize beyond the bytes: a sparse tail of zeros.
    std::string addSource(const std::string& name, const Bytes& bytes, mode_t mode = 0644,
                          std::uintmax_t nSize = 0)
    {
        const fs::path path = src / name;
        fixture::writeFile(path, bytes);
        fs::resize_file(path, std::max<std::uintmax_t>(nSize, bytes.size()));
        chmod(path.c_str(), mode);
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
            files[entry.path().filename()] = fixture::readFile(entry.path());
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
