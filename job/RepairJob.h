#pragma once

#include "FileOutcome.h"
#include "FormatChoice.h"
#include "RepairPlan.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

// One listed file, from its source to its final name in the destination
// folder: the checks, one read of the source's chunks and the repair's plan, a
// copy written once with room for what the repair adds, the repair itself and
// a check of the repaired copy, the source's permissions and times kept, and
// the copy given its name (replacing an existing file only when the user
// agrees). The source is only ever read. Both front ends run it, one file at a
// time, from one thread; nothing here touches a window or a terminal.
class RepairJob
{
public:
    // The answers to "a file of that name is already in the destination".
    enum class Answer
    {
        Yes,      // replace it
        YesToAll, // replace it and every later one without asking
        Skip,     // keep it and go on with the next file
        No,       // keep it and stop the batch
    };
    // What the question puts before the user: the file's path under the
    // destination, and the size and modification time (seconds since 1970)
    // of the file standing there against those of the copy that would
    // replace it.
    struct Question
    {
        std::string name;
        uint64_t nExistingSize = 0;
        int64_t nExistingTime = 0;
        uint64_t nNewSize = 0;
        int64_t nNewTime = 0;

        // The two files side by side, as both front ends ask: "In the
        // destination: 1,204 bytes, modified 2024-06-11 14:02\nThe new copy:
        // ..." (local time).
        std::string Comparison() const;
    };
    using AskToOverwrite = std::function<Answer(const Question& question)>;
    // Receives the internal log lines: what was replaced, what the system said.
    using Log = std::function<void(const std::string& line)>;
    // Receives how many of a source's bytes are copied, of how many, after
    // each kProgressStep of them while more are to come, on the job's thread:
    // a file of one step or less reports nothing.
    using Progress = std::function<void(uint64_t nDone, uint64_t nTotal)>;
    static constexpr uint64_t kProgressStep = uint64_t{8} << 20;

    // choice: the format a new format chunk states, or what of it the file's
    // own evidence is to tell; ask is called on the job's thread.
    RepairJob(std::filesystem::path destination, FormatChoice choice, AskToOverwrite ask, Log log);
    ~RepairJob();
    RepairJob(const RepairJob&) = delete;
    RepairJob& operator=(const RepairJob&) = delete;

    void SetChoice(const FormatChoice& choice) { m_choice = choice; }
    void SetProgress(Progress progress) { m_progress = std::move(progress); }

    // What Run would make of a source, as far as the source decides it.
    struct Preview
    {
        enum class Action
        {
            WriteFormat, // a format chunk of format goes in, or a damaged one is mended
            KeepFormat,  // the file has a format chunk of its own: none is written
            LeaveAlone,  // no bext chunk, no data chunk, or not a RIFF file: copied as it is
            Fail,        // Run fails the file
        };
        Action action = Action::Fail;
        WavFormat format;                  // WriteFormat: the format the new chunk states,
        std::string sources;               // where the file told its parts ("rate from iXML"),
        std::vector<std::string> warnings; // and what its metadata says against the choice
        std::string detail; // LeaveAlone and Fail: Run's words ("no bext chunk", why it fails)
        // The format's frame is known for certain, so a partial last frame of
        // a finished data size is left out rather than a reason to fail.
        bool bLeaveOutPartialFrame = false;
        // Fail: the check the file did not pass.
        enum class Refusal
        {
            Unreadable,     // it could not be opened or read, or is no regular file
            TooLarge,       // it, or its repaired copy, would pass RIFF's 4 GiB limit
            Unsettled,      // the choice and the file's evidence leave a part open
            NotWholeFrames, // its audio is no whole number of frames of the format
        };
        Refusal refusal = Refusal::Unreadable;
        // WriteFormat and KeepFormat: where the audio stands in the source and
        // the format it is read in (the one written, or the file's own when
        // it states a plausible one), for a look at it (TakeOverview): the
        // whole frames of the data chunk the repaired copy holds.
        struct Audio
        {
            uint64_t nOffset = 0; // of the first sample
            uint64_t nBytes = 0;  // whole frames of format
            WavFormat format;
        };
        std::optional<Audio> audio;

        // What the repair makes of the file in a line, as the window's Format
        // column and inspect show it: "48000 Hz, 24 bit, stereo (rate from
        // iXML; ...)" and any warning, "has its own format chunk", "no bext
        // chunk: left as it is", or why the file fails.
        std::string Words() const;
    };
    // Reads source as Run does, with choice and the card's other takes, and
    // changes, copies and asks nothing; any thread. Run may still fail the
    // file for what only the destination decides (the name taken, a full
    // disk) or for a change to the source in between.
    static Preview PreviewOf(const std::filesystem::path& source, const FormatChoice& choice,
                             const FormatEvidence::CardTakeSource& cardTakes);

    // Why a listed source cannot be read ("it is no longer there (...)", "it
    // cannot be read: permission denied"); nothing when it can. For telling
    // the user before a batch starts.
    static std::optional<std::string> WhyUnreadable(const std::filesystem::path& source);

    // Called with each file's plan once the checks have passed, just before
    // its copy is made from it. Tests spoil the plan here, to see that the
    // check before naming keeps a wrong copy from its name, or change the
    // destination under the job.
    void SetBeforeCopy(std::function<void(RepairPlan&)> beforeCopy)
    {
        m_beforeCopy = std::move(beforeCopy);
    }

    // Copies and repairs one file into the destination at relative (its name,
    // or its path under the batch's root: missing folders are made), with the
    // intact takes of its card folder as evidence (TakeList::CardTakes); the
    // outcome says what became of it. A name this job already gave a copy is
    // never given another (two takes whose names differ only in letter case,
    // on a destination that does not tell them apart): that file fails.
    korva::FileOutcome Run(const std::filesystem::path& source,
                           const std::filesystem::path& relative,
                           const FormatEvidence::CardTakeSource& cardTakes);
    // The last Run says the batch must stop: the user answered No, or the
    // file could not be copied (a full disk, a source too large, the same file).
    // A source that cannot be opened or read, or whose repair fails, stops nothing.
    bool StopsBatch() const { return m_bStopsBatch; }

    // Writes what the batch put in the destination through to its disk, at
    // the end of a batch: the destination's whole file system at once, which
    // costs less than a flush after each file. Nothing when that is done;
    // otherwise why not, in plain words.
    std::optional<std::string> FlushDestination() const;

private:
    struct Source;
    // nShareBlock: as RepairPlan::Make takes it.
    static void Read(const std::filesystem::path& sourcePath, const FormatChoice& choice,
                     const FormatEvidence::CardTakeSource& cardTakes, uint64_t nShareBlock,
                     Source& source);
    korva::FileOutcome Copy(const Source& source, korva::FileOutcome outcome, bool bReplace);
    // Asks whether the file of outcome's name in the destination goes; the
    // outcome of keeping it, or nothing when it goes.
    std::optional<korva::FileOutcome> AskToReplace(const Source& source,
                                                   korva::FileOutcome outcome);
    korva::FileOutcome Fail(korva::FileOutcome outcome, const std::string& detail,
                            bool bStopsBatch);

    std::filesystem::path m_destination;
    FormatChoice m_choice;
    AskToOverwrite m_ask;
    Log m_log;
    Progress m_progress;
    std::function<void(RepairPlan&)> m_beforeCopy;
    bool m_bReplaceAll = false;
    bool m_bStopsBatch = false;
    // The block size by which copies in the destination can share blocks with
    // their sources (0: they cannot), tried once, at the batch's first file.
    std::optional<uint64_t> m_nShareBlock;
    std::unique_ptr<uint8_t[]> m_pBuffer;          // the copy's buffer, for every file of the batch
    std::set<std::pair<dev_t, ino_t>> m_published; // the copies this job named
    std::set<std::filesystem::path> m_folders;     // the destination's folders it made or found
};
