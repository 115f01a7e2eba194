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

// The first word after the command that starts with a dash but is none of
// its options (such as a file named -take.wav), up to a "--"; "" when none.
// A short option counts by its first letter, which may carry its value or
// further flags ("-r48000", "-yq").
std::string strayDashWord(const CLI::App& command, int argc, char** argv)
{
    bool bAfterCommand = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string word = argv[i];
        if (!bAfterCommand)
        {
            bAfterCommand = word == command.get_name();
            continue;
        }
        if (word == "--")
            break;
        if (word.size() < 2 || word[0] != '-')
            continue;
        const std::string name =
            word[1] == '-' ? word.substr(0, word.find('=')) : word.substr(0, 2);
        if (command.get_option_no_throw(name) == nullptr)
            return word;
    }
    return "";
}

// A parse that failed for a word with a leading dash: likely a file's name.
std::string dashWordWords(const std::string& word)
{
    return "there is no option '" + word + "'; to name a file whose name starts with a dash, " +
           "put -- before the files or write it as ./" + word;
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
    // The version after a command too, where a user looks for it first.
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
        command->set_version_flag("--version", app.version());
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
        const std::vector<CLI::App*> commands = app.get_subcommands();
        const std::string word =
            commands.empty() ? "" : strayDashWord(*commands.front(), argc, argv);
        return usageError(app, word.empty() ? error.what() : dashWordWords(word));
    }
    if (!app.remaining().empty())
        return usageError(app, strayWord(app.remaining().front()));
    // The library's trace of its walks is for its developers; korva-cli says
    // what it did in its own lines.
    CTrace::SetStream(nullptr);
    if (repair.chosen())
        return file_commands::OutputStatus(repair.run());
    if (inspect.chosen())
        return file_commands::OutputStatus(inspect.run());
    for (FrameCopyCommand* command : {&extract, &append})
        if (command->chosen())
            return file_commands::OutputStatus(command->run());
    if (removeChunk.chosen())
        return file_commands::OutputStatus(removeChunk.run());
    if (rescue.chosen())
        return file_commands::OutputStatus(rescue.run());
    return usageError(app, std::string("a command is needed: ") + kCommands);
}
