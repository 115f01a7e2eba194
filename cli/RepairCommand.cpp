#include "RepairCommand.h"

#include "AppController.h"
#include "ConsolePlatform.h"
#include "ConsoleWindow.h"
#include "StopSignal.h"
#include "Trace.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;
using korva::FileOutcome;

namespace
{
// The pop-up items in the order the controller gives them: an item's index
// selects the value at the same index.
constexpr std::array<uint32_t, 5> kSampleRates = {44100, 48000, 88200, 96000, 128000};
constexpr std::array<uint16_t, 2> kResolutions = {16, 24};

// How long the main thread waits for interface work before it looks at the
// batch again (the end of a batch is itself interface work and wakes it).
constexpr std::chrono::milliseconds kPollInterval{50};

const char* wordFor(FileOutcome::Kind kind)
{
    switch (kind)
    {
    case FileOutcome::Kind::Repaired:
        return "repaired";
    case FileOutcome::Kind::SizesRepaired:
        return "sizes repaired";
    case FileOutcome::Kind::Unchanged:
        return "unchanged";
    default:
        return "failed";
    }
}

// A folder from the file table, where "" is the current folder.
fs::path folderOf(const std::string& listed)
{
    return listed.empty() ? fs::path(".") : fs::path(listed);
}
} // namespace

RepairCommand::RepairCommand(CLI::App& app)
{
    m_command = app.add_subcommand("repair", "Copy each file into DIR and give the copy a PCM "
                                             "fmt chunk behind its bext chunk");
    m_command->add_option("--dest", m_destination, "Folder for the repaired copies")
        ->required()
        ->type_name("DIR");
    m_command->add_option("--rate", m_nRate, "Sample rate written into the fmt chunk")
        ->required()
        ->type_name("HZ")
        ->check(CLI::IsMember(std::vector<uint32_t>(kSampleRates.begin(), kSampleRates.end())));
    m_command->add_option("--bits", m_nBits, "Bits per sample written into the fmt chunk")
        ->required()
        ->type_name("N")
        ->check(CLI::IsMember(std::vector<uint16_t>(kResolutions.begin(), kResolutions.end())));
    auto* yes = m_command->add_flag("--yes", m_bYes, "Overwrite existing files without asking");
    auto* no = m_command->add_flag("--no", m_bNo, "Never overwrite an existing file");
    yes->excludes(no);
    m_command->add_flag("--trace", m_bTrace, "Send the file library's trace to standard output");
    m_command->add_option("FILE", m_files, "Files to repair; only .wav files are listed")
        ->required();
}

template <typename T, std::size_t N>
int RepairCommand::indexIn(const std::array<T, N>& table, T value)
{
    return static_cast<int>(std::find(table.begin(), table.end(), value) - table.begin());
}

int RepairCommand::run()
{
    std::error_code ec;
    if (!fs::is_directory(m_destination, ec))
    {
        std::cerr << "korva-cli: the destination is not a folder: " << m_destination << '\n';
        return kUsageError;
    }
    CTrace::SetStream(m_bTrace ? &std::cout : nullptr);

    const auto overwrite = m_bYes  ? ConsolePlatform::Overwrite::Yes
                           : m_bNo ? ConsolePlatform::Overwrite::No
                                   : ConsolePlatform::Overwrite::Ask;
    ConsolePlatform platform(m_files, m_destination, overwrite);
    AppController controller(platform);
    ConsoleWindow window;
    window.connect(controller);
    controller.awakeFromNib();
    window.sampleRate.selectItemAtIndex(indexIn(kSampleRates, m_nRate));
    window.resolution.selectItemAtIndex(indexIn(kResolutions, m_nBits));

    controller.GetFilesForFixin();
    reportSkippedArguments(window.table);
    const int nListed = window.table.rowCount();
    if (nListed == 0)
    {
        std::cerr << "korva-cli: no .wav file among the files\n";
        return kUsageError;
    }
    controller.SetPath();
    if (!window.startButton.isEnabled() || destinationHoldsASource(window.table))
    {
        std::cerr << "korva-cli: the destination is a folder the files come from: " << m_destination
                  << '\n';
        return kUsageError;
    }

    platform.onFileOutcome = [this](const FileOutcome& outcome) { printOutcome(outcome); };
    // Ctrl-C is the Cancel button. It goes to the controller straight away
    // (OnCancel is for any thread): this thread may be waiting on a full
    // standard output, and the batch must not run on meanwhile.
    StopSignal stop(
        [&]
        {
            controller.OnCancel();
            // Straight to the descriptor: std::cerr first flushes std::cout,
            // which may be the very thing waiting on a full pipe.
            constexpr std::string_view kStopping =
                "korva-cli: stopping after the current file; Ctrl-C again ends at once\n";
            [[maybe_unused]] const auto nWritten =
                write(STDERR_FILENO, kStopping.data(), kStopping.size());
        });
    controller.DoPatch();
    // This thread plays the window's interface thread: it runs the work the
    // batch hands over (the end-of-batch reset among it) until the batch ends.
    while (controller.isPatching())
        platform.pumpInterfaceQueue(kPollInterval);
    platform.joinWorkers();

    const auto outcomes = platform.outcomes();
    const auto nFailed = std::count_if(outcomes.begin(), outcomes.end(),
                                       [](const auto& outcome)
                                       { return outcome.kind == FileOutcome::Kind::Failed; });
    const int nNotReached = nListed - static_cast<int>(outcomes.size());
    if (nNotReached > 0)
        std::cerr << "korva-cli: stopped; " << nNotReached << " of " << nListed
                  << " files not processed\n";
    if (stop.requested())
        return StopSignal::kExitStatus;
    return nFailed == 0 && nNotReached == 0 ? 0 : kStoppedEarly;
}

// The controller lists the chooser's .wav files in the chooser's order, so
// an argument that is not the next listed row is one it passed over.
void RepairCommand::reportSkippedArguments(const ConsoleTableView& table) const
{
    int row = 0;
    for (const std::string& argument : m_files)
    {
        const fs::path path(argument);
        if (row < table.rowCount() && table.cell("FileName", row) == path.filename().string() &&
            table.cell("FilePath", row) == path.parent_path().string())
        {
            ++row;
            continue;
        }
        std::cerr << "korva-cli: skipped, not a .wav file: " << argument << '\n';
    }
}

// The controller compares folders as strings, against the last file's folder;
// "." against "", a link to the folder, or another file's folder would get past
// it. Every copy in such a folder would stand where its source is.
bool RepairCommand::destinationHoldsASource(const ConsoleTableView& table) const
{
    for (int row = 0; row < table.rowCount(); ++row)
    {
        std::error_code ec;
        if (fs::equivalent(folderOf(table.cell("FilePath", row)), m_destination, ec))
            return true;
    }
    return false;
}

void RepairCommand::printOutcome(const FileOutcome& outcome) const
{
    std::cout << wordFor(outcome.kind) << '\t' << outcome.destinationPath << '\t' << outcome.detail;
    if (outcome.kind == FileOutcome::Kind::Repaired)
        std::cout << ": " << m_nRate << " Hz, " << m_nBits << " bit, mono";
    // One line at a time, so that a script reading the pipe sees each file
    // as soon as it is done.
    std::cout << std::endl;
}
