#pragma once

#include "RepairJob.h"

#include <string>

// The overwrite question on the terminal, for korva-cli's --existing ask:
// "[y]es, [a]ll, [s]kip, [n]o", in either letter case. Nobody can answer when standard input is not
// a terminal: the answer is then No (keep the file, stop), and standard error
// says so. A Ctrl-C while it waits (wakeFd turns readable) answers No too.
class OverwritePrompt
{
public:
    explicit OverwritePrompt(int wakeFd) : m_wakeFd(wakeFd) {}

    RepairJob::Answer ask(const std::string& name) const;

private:
    int m_wakeFd;
};
