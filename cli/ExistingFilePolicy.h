#pragma once

#include "OverwritePrompt.h"
#include "RepairJob.h"

#include <CLI/CLI.hpp>

#include <string>

// What a command does with a file of the same name already standing where it
// writes one: the --existing option (ask, the default; overwrite; skip; stop)
// and its short forms -y/--yes (overwrite), -n/--no-clobber (skip) and --no
// (stop).
class ExistingFilePolicy
{
public:
    // Adds the four options to command.
    explicit ExistingFilePolicy(CLI::App& command);

    // The answer for the file of that name: the option's, or with ask the
    // user's at the prompt, shown comparison (as OverwritePrompt::ask takes
    // it). After [a]ll every later file is overwritten too.
    RepairJob::Answer answer(const std::string& name, const OverwritePrompt& prompt,
                             const std::string& comparison = "");

private:
    std::string m_existing = "ask";
};
