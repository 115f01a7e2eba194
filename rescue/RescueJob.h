#pragma once

#include "CardImage.h"
#include "FileOutcome.h"
#include "RepairJob.h"
#include "TakeFinder.h"
#include "TemporaryCopy.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The rescue of a card's lost takes, from its image or device into a folder:
// the card read once through the file-system library, its takes found and
// followed, and each lost one written as its recorder would have closed it
// (its own header, bext and fmt kept, the RIFF and data sizes finished to
// whole frames), checked as the repair checks its copies, named after its
// entry and folder on the card, and given its name only when complete. The
// card is only ever read. Both front ends run it; nothing here touches a
// window or a terminal.
class RescueJob
{
public:
    // bAll: intact takes are copied too, as they are.
    RescueJob(std::filesystem::path source, std::filesystem::path destination, bool bAll);
    ~RescueJob();
    RescueJob(const RescueJob&) = delete;
    RescueJob& operator=(const RescueJob&) = delete;

    // Why takes of source must not be written into destination: it lies on
    // the card itself (on its device, or in the file system an image of it
    // is mounted as), where every byte written can overwrite a lost take.
    // "" when they may.
    static std::string WhyNotInto(const std::filesystem::path& source,
                                  const std::filesystem::path& destination);

    // Receives how far the card's reading is, as bytes of the card of its
    // size, after each RepairJob::kProgressStep of them while more are to
    // come, on the job's thread; a card of one step or less reports nothing.
    void SetProgress(RepairJob::Progress progress) { m_progress = std::move(progress); }

    // Reads the card and finds its takes; false, and why in plain words, when
    // it cannot.
    bool Find(std::string& why);
    const std::string& FileSystemName() const;
    const std::vector<TakeFinder::Take>& Takes() const { return m_takes; }

    // Writes one take found, or lists it; the outcome says which.
    korva::FileOutcome Run(const TakeFinder::Take& take);
    // The last Run says the rescue must stop: the destination is full or
    // cannot be written.
    bool StopsBatch() const { return m_bStopsBatch; }
    // Writes the rescued takes through to the destination's disk, once, at
    // the end; nothing when that is done, otherwise why not in plain words.
    std::optional<std::string> FlushDestination() const
    {
        return TemporaryCopy::FlushFileSystemOf(m_destination);
    }

    // Where a take goes: its entry's path on the card under the destination,
    // or "recovered/cluster-NNNNNN.wav" when no entry with its folder names
    // it, only a checker's file for its chain does (whose name is the
    // checker's, not the recorder's), or that path cannot be one there.
    std::filesystem::path TargetOf(const TakeFinder::Take& take) const;

private:
    korva::FileOutcome Fail(korva::FileOutcome outcome, const std::string& detail,
                            bool bStopsBatch);
    bool Write(const TakeFinder::Take& take, const TemporaryCopy& copy, std::string& problem);

    std::filesystem::path m_source;
    std::filesystem::path m_destination;
    bool m_bAll;
    RepairJob::Progress m_progress;
    int m_fd = -1;
    std::unique_ptr<CardImage> m_card;
    std::vector<TakeFinder::Take> m_takes;
    bool m_bStopsBatch = false;
    std::unique_ptr<uint8_t[]> m_pBuffer;
};
