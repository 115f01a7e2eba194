#include "OverwritePrompt.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iostream>
#include <poll.h>
#include <unistd.h>

using Answer = RepairJob::Answer;

namespace
{
// One line from standard input, or nothing when wakeFd turns readable first
// or the input ends.
bool readLine(int wakeFd, std::string& line)
{
    line.clear();
    for (;;)
    {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, wakeFd >= 0 ? 2 : 1, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents != 0)
            return false;
        char c = 0;
        if (read(STDIN_FILENO, &c, 1) != 1)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
}
} // namespace

Answer OverwritePrompt::ask(const std::string& name, const std::string& comparison) const
{
    const std::string choices = "[y]es replaces it, [a]ll replaces it and every later one without "
                                "asking, [s]kip keeps it and goes on with the next file, [n]o "
                                "keeps it and stops the batch: ";
    std::cerr << "The file: " << name << " already exists! Overwrite file?\n"
              << (comparison.empty() ? "" : comparison + '\n');
    if (isatty(STDIN_FILENO) != 1)
    {
        std::cerr << choices << "n (standard input is not a terminal)\n";
        return Answer::No;
    }
    for (;;)
    {
        std::cerr << choices << std::flush;
        std::string line;
        if (!readLine(m_wakeFd, line))
        {
            std::cerr << '\n';
            return Answer::No;
        }
        std::transform(line.begin(), line.end(), line.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (line == "y" || line == "yes")
            return Answer::Yes;
        if (line == "a" || line == "all")
            return Answer::YesToAll;
        if (line == "s" || line == "skip")
            return Answer::Skip;
        if (line == "n" || line == "no")
            return Answer::No;
    }
}
