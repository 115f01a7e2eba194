#include "ChunkRemovalCommand.h"
#include "FileCommands.h"
#include "FileReportCommand.h"
#include "FrameCopyCommand.h"
#include "KorvaVersion.h"
#include "RepairCommand.h"
#include "RescueCommand.h"
#include "Trace.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace
{
constexpr const char* kCommands = "repair, inspect, extract, append, remove-chunk or rescue";

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
    return "'" + word + "' is not a command: use " + kCommands;
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
    FrameCopyCommand extract(app, FrameCopyCommand::Mode::Extract);
    FrameCopyCommand append(app, FrameCopyCommand::Mode::Append);
    ChunkRemovalCommand removeChunk(app);
    RescueCommand rescue(app);
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
    // The library's trace of its walks is for its developers; korva-cli says
    // what it did in its own lines.
    CTrace::SetStream(nullptr);
    if (repair.chosen())
        return repair.run();
    if (inspect.chosen())
        return inspect.run();
    for (FrameCopyCommand* command : {&extract, &append})
        if (command->chosen())
            return command->run();
    if (removeChunk.chosen())
        return removeChunk.run();
    if (rescue.chosen())
        return rescue.run();
    return usageError(app, std::string("a command is needed: ") + kCommands);
}
