#include "CliProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

std::vector<std::string> CliProcess::Result::outLines() const
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

CliProcess::CliProcess(const std::vector<std::string>& args)
{
    char errTemplate[] = "/tmp/korva-cli-err.XXXXXX";
    const int errFd = mkstemp(errTemplate);
    int outPipe[2];
    if (errFd < 0 || pipe(outPipe) != 0)
        throw std::runtime_error("cannot set up the streams of korva-cli");
    m_errPath = errTemplate;
    m_pid = fork();
    if (m_pid == 0)
    {
        const int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, STDIN_FILENO);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        close(outPipe[0]);
        std::vector<char*> argv{const_cast<char*>(KORVA_CLI_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(KORVA_CLI_PATH, argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errFd);
    m_outFd = outPipe[0];
}

CliProcess::~CliProcess()
{
    if (!m_bFinished)
    {
        kill(m_pid, SIGKILL);
        finish();
    }
    unlink(m_errPath.c_str());
}

bool CliProcess::readLine(std::string& line)
{
    for (;;)
    {
        const auto end = m_pending.find('\n');
        if (end != std::string::npos)
        {
            line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return true;
        }
        char buffer[4096];
        const ssize_t n = read(m_outFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<std::size_t>(n));
        m_out.append(buffer, static_cast<std::size_t>(n));
    }
}

void CliProcess::signal(int nSignal)
{
    kill(m_pid, nSignal);
}

CliProcess::Result CliProcess::finish()
{
    std::string line;
    while (readLine(line))
    {
    }
    close(m_outFd);
    int nWait = 0;
    while (waitpid(m_pid, &nWait, 0) < 0 && errno == EINTR)
    {
    }
    m_bFinished = true;
    Result result;
    result.status = WIFEXITED(nWait) ? WEXITSTATUS(nWait) : 128 + WTERMSIG(nWait);
    result.out = m_out;
    std::ifstream err(m_errPath);
    result.err.assign(std::istreambuf_iterator<char>(err), {});
    return result;
}

CliProcess::Result CliProcess::run(const std::vector<std::string>& args)
{
    return CliProcess(args).finish();
}
