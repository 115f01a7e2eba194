#include "FileReportCommand.h"
#include "RepairCommand.h"

#include <CLI/CLI.hpp>

int main(int argc, char** argv)
{
    CLI::App app("korva-cli: repairs Broadcast Wave files that lost their fmt chunk, by copying "
                 "each one into a destination folder and giving the copy a new PCM fmt chunk.");
    app.set_version_flag("--version", KORVA_VERSION);
    app.require_subcommand(1);
    RepairCommand repair(app);
    FileReportCommand inspect(app);
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        // --help and --version end here too, with status 0.
        const int nStatus = app.exit(e);
        return nStatus == 0 ? 0 : RepairCommand::kUsageError;
    }
    return repair.chosen() ? repair.run() : inspect.run();
}
