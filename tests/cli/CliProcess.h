#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// One run of the built korva-cli: standard input from /dev/null (never a
// terminal), standard output through a pipe that the test reads line by line,
// standard error into a file read at the end.
class CliProcess
{
public:
    struct Result
    {
        int status = -1; // the exit status; 128 + N when killed by signal N
        std::string out;
        std::string err;
        std::vector<std::string> outLines() const;
    };

    // Starts korva-cli with args in the current folder.
    explicit CliProcess(const std::vector<std::string>& args);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // The next line of standard output without its line break; false at the end.
    bool readLine(std::string& line);
    void signal(int nSignal);
    // Reads standard output to its end and waits for the process.
    Result finish();

    // Starts, finishes and returns the result in one step.
    static Result run(const std::vector<std::string>& args);

private:
    pid_t m_pid = -1;
    int m_outFd = -1;
    std::string m_errPath;
    std::string m_pending; // read from the pipe, not yet returned
    std::string m_out;     // everything read so far
    bool m_bFinished = false;
};
