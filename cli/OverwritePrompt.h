#pragma once

#include "RepairJob.h"

#include <string>

// The overwrite question on the terminal, for korva-cli's --existing ask, on
// standard error: the window's words, the two files side by side where the
// command knows them, and each answer with what it does ("[y]es replaces it,
// ..., [n]o keeps it and stops the batch: "), taken in either letter case.
// Nobody can answer when standard input is not a terminal: the answer is then
// No (keep the file, stop), and standard error says so. A Ctrl-C while it
// waits (wakeFd turns readable) answers No too.
class OverwritePrompt
{
public:
    explicit OverwritePrompt(int wakeFd) : m_wakeFd(wakeFd) {}

    // comparison: RepairJob::Question::Comparison's lines, or "" where the
    // command does not know the new file before it is made.
    RepairJob::Answer ask(const std::string& name, const std::string& comparison) const;

private:
    int m_wakeFd;
};
