#include "ChunkRemovalCommand.h"

#include "FileCommands.h"
#include "FileCopy.h"
#include "RepairJob.h"
#include "RiffFile.h"
#include "RiffIO.h"
#include "StopSignal.h"
#include "TemporaryCopy.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Deletion = CRiffFile::Deletion;
using Kind = korva::FileOutcome::Kind;

namespace
{
// A chunk identifier: exactly four printable characters, blanks among them.
std::string ChunkId(const std::string& text)
{
    if (text.size() == 4 && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return c >= 0x20 && c < 0x7F; }))
        return text;
    throw CLI::ValidationError("ID takes exactly four printable characters, not '" + text +
                               "' (a blank counts: quote it, as in 'cue ')");
}

std::string Refusal(Deletion deletion, const std::string& file, const std::string& id, int nError)
{
    const std::string chunk = "'" + id + "' chunk";
    switch (deletion)
    {
    case Deletion::Unopened:
        return file + " could not be opened: " + korva::SystemErrorWords(nError);
    case Deletion::NotRiff:
        return file + " is not a RIFF file, so it has no chunks to remove";
    case Deletion::Rf64:
        return file + " is an RF64 file, whose sizes korva-cli cannot rewrite: no copy was made";
    case Deletion::TooLarge:
        return file + " is larger than the 4 GiB a RIFF size can state, so the copy's size "
                      "could not be written: no copy was made";
    case Deletion::NoSuchChunk:
        return file + " has no " + chunk + ", so there is nothing to remove (korva-cli inspect " +
               "lists its chunks)";
    case Deletion::CutOff:
        return file + "'s " + chunk +
               " runs past the end of the file: only a whole chunk can "
               "be removed";
    case Deletion::IoFailed:
    case Deletion::NotRun:
    case Deletion::Deleted:
        break;
    }
    return "the copy failed: " + korva::SystemErrorWords(nError);
}

// A descriptor closed when it goes.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// An outcome's kind and detail; run() adds the paths.
korva::FileOutcome Outcome(Kind kind, std::string detail)
{
    korva::FileOutcome outcome;
    outcome.kind = kind;
    outcome.detail = std::move(detail);
    return outcome;
}
} // namespace

ChunkRemovalCommand::ChunkRemovalCommand(CLI::App& app)
{
    m_command = app.add_subcommand("remove-chunk", "Copy each file into DIR without its first "
                                                   "chunk named ID (a broken iXML, a huge JUNK)");
    m_command
        ->add_option_function<std::string>(
            "ID", [this](const std::string& text) { m_id = ChunkId(text); },
            "The chunk's identifier: four characters, such as iXML, JUNK or 'cue '")
        ->required();
    m_destination.addOptions(*m_command, "Folder for the copies, not one they come from");
    m_existing.emplace(*m_command);
    m_command->add_flag("--json", m_bJson, "One JSON object per file instead of a line");
    m_command
        ->add_option("FILE", m_files,
                     "RIFF files to copy without the chunk, or folders: a card's takes, "
                     "found by their content through every subfolder; only read")
        ->required();
}

int ChunkRemovalCommand::run()
{
    const TakeList list =
        TakeList::Of(std::vector<fs::path>(m_files.begin(), m_files.end()), TakeList::Named::Any);
    if (list.takes.empty())
        return file_commands::UsageError("no WAVE file among the files and folders");
    if (const std::string refusal = file_commands::FolderRefusal(m_destination, list);
        !refusal.empty())
        return file_commands::UsageError(refusal);
    file_commands::RemoveLeftovers(m_destination.folder);
    m_buffer.resize(riff::kBlockSize);
    // Ctrl-C, SIGTERM and SIGHUP stop the batch after the current file.
    const StopSignal stop;
    const OverwritePrompt prompt(stop.wakeFd());
    int nStatus = 0;
    for (const TakeList::Take& take : list.takes)
    {
        korva::FileOutcome outcome =
            m_bStopped || stop.requested()
                ? Outcome(Kind::NotProcessed, "the batch stopped before it")
                : remove(take.source, take.relative, prompt);
        outcome.sourcePath = take.source.string();
        outcome.destinationPath = (fs::path(m_destination.folder) / take.relative).string();
        file_commands::Print(outcome, m_bJson);
        nStatus = std::max(nStatus, file_commands::StatusOf(outcome.kind));
    }
    return stop.requested() ? stop.exitStatus() : nStatus;
}

// The checks first, on the source: a file the library would refuse is not copied.
korva::FileOutcome ChunkRemovalCommand::remove(const fs::path& source, const fs::path& relative,
                                               const OverwritePrompt& prompt)
{
    if (const auto why = RepairJob::WhyUnreadable(source))
        return Outcome(Kind::Failed, source.string() + ": " + *why);
    CRiffFile file(source.c_str());
    if (const Deletion deletion = file.CheckDeleteChunk(m_id.c_str());
        deletion != Deletion::Deleted)
        return Outcome(Kind::Failed, Refusal(deletion, source, m_id, file.GetSystemError()));

    const fs::path target = fs::path(m_destination.folder) / relative;
    std::error_code ec;
    if (fs::is_directory(target, ec))
        return Outcome(Kind::Failed, "a folder of that name stands in " + m_destination.folder);
    const bool bExists = fs::symlink_status(target, ec).type() != fs::file_type::not_found;
    if (bExists)
    {
        const RepairJob::Answer answer = m_existing->answer(relative, prompt);
        m_bStopped = answer == RepairJob::Answer::No;
        if (answer == RepairJob::Answer::Skip || m_bStopped)
            return Outcome(m_bStopped ? Kind::NotProcessed : Kind::Skipped,
                           "the file already there was kept");
    }
    if (fs::create_directories(target.parent_path(), ec); ec)
        return Outcome(Kind::Failed, "its folder could not be made in " + m_destination.folder +
                                         ": " + korva::SystemErrorWords(ec.value()));
    return copyWithout(source, target, bExists);
}

korva::FileOutcome ChunkRemovalCommand::copyWithout(const fs::path& source, const fs::path& target,
                                                    bool bReplace)
{
    const Descriptor in{::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    struct stat info;
    if (in.fd < 0 || fstat(in.fd, &info) != 0)
        return Outcome(Kind::Failed,
                       source.string() + " could not be read: " + korva::SystemErrorWords(errno));
    std::error_code ec;
    TemporaryCopy copy(m_destination.folder, info.st_mode, ec);
    if (ec)
        return Outcome(Kind::Failed, "no copy can be made in " + m_destination.folder + ": " +
                                         korva::SystemErrorWords(ec.value()));
    const auto nLength = static_cast<uint64_t>(info.st_size);
    const riff::Moved moved =
        file_copy::Copy(in.fd, 0, copy, 0, nLength, m_buffer.data(), m_buffer.size());
    if (moved == riff::Moved::ReadFailed)
        return Outcome(Kind::Failed,
                       source.string() + " could not be read: " + korva::SystemErrorWords(errno));
    if (moved == riff::Moved::WriteFailed)
        return Outcome(Kind::Failed, "the copy failed: " + korva::SystemErrorWords(errno));
    // The copy has no name yet (or a temporary one): the library reaches it
    // through its descriptor.
    CRiffFile copied(("/dev/fd/" + std::to_string(copy.fd())).c_str());
    if (!copied.DeleteChunk(m_id.c_str()))
        return Outcome(Kind::Failed,
                       Refusal(copied.GetDeletion(), source, m_id, copied.GetSystemError()));
    if (!copy.Publish(target, bReplace, ec))
        return Outcome(Kind::Failed,
                       "the copy could not take its name: " + korva::SystemErrorWords(ec.value()) +
                           (bReplace ? "; the file already there was kept" : ""));
    return Outcome(Kind::ChunkRemoved, "its '" + m_id + "' chunk was removed: " +
                                           std::to_string(nLength - copied.GetLength()) + " bytes");
}
