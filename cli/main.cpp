#include "FileCommands.h"
#include "FileReportCommand.h"
#include "KorvaVersion.h"
#include "RepairCommand.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace
{
// A usage error in words that name what was wrong, and where to look.
int usageError(const CLI::App& app, const std::string& what)
{
    std::cerr << "korva-cli: " << what << "\nRun 'korva-cli --help' for the commands and options";
    if (!app.get_subcommands().empty())
        std::cerr << ", 'korva-cli " << app.get_subcommands().front()->get_name()
                  << " --help' for this command's";
    std::cerr << ".\n";
    return file_commands::kUsageError;
}

// Words before any command: an option the program does not have, or a word
// that is no command.
std::string strayWord(const std::string& word)
{
    if (word.starts_with("-"))
        return "there is no option '" + word + "'";
    return "'" + word + "' is not a command: use repair or inspect";
}
} // namespace

int main(int argc, char** argv)
{
    CLI::App app("Repairs Broadcast Wave recordings that lost their fmt chunk: each file is "
                 "copied into a destination folder and the copy gets a new PCM fmt chunk.",
                 "korva-cli");
    app.set_version_flag("--version", std::string("korva-cli ") + korva::kVersion + "\n" +
                                          korva::kCopyright + "\n" + korva::kLicenceSummary);
    RepairCommand repair(app);
    FileReportCommand inspect(app);
    // Checked below, so that the message can name a stray word; set after the
    // commands, which would take the setting over and accept any word.
    app.require_subcommand(0, 1);
    app.allow_extras();
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::CallForHelp& help)
    {
        return app.exit(help);
    }
    catch (const CLI::CallForVersion& version)
    {
        return app.exit(version);
    }
    catch (const CLI::ParseError& error)
    {
        return usageError(app, error.what());
    }
    if (!app.remaining().empty())
        return usageError(app, strayWord(app.remaining().front()));
    if (!repair.chosen() && !inspect.chosen())
        return usageError(app, "a command is needed: repair or inspect");
    return repair.chosen() ? repair.run() : inspect.run();
}
