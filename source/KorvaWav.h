#pragma once

#include <string>

#include "RepairPlan.h"
#include "WavFile.h"

// The repair: gives a Broadcast Wave file that lost its format chunk a new PCM
// one. The chunk goes where the lost one stood when its remains are found
// (sized to fill them, JUNK behind it where they are longer), otherwise behind
// bext (or in front of the audio when bext follows it). A damaged format chunk
// whose fields are readable is mended in place instead. Sizes a recorder never
// finished are finished, holes in front of the audio become JUNK, and odd-sized
// chunks there get their pad byte, so that every reader finds its way.
class KorvaWavFile : public CWavFile
{
public:
    // What the last RepairFMTChunk did; its facts are in GetRepairPlan.
    enum class RepairOutcome
    {
        NotRun,         // RepairFMTChunk has not run
        Written,        // the format chunk was written over the lost one's remains
        Inserted,       // no remains: the format chunk was inserted
        Mended,         // a damaged format chunk was mended where it stands (its
                        // fields kept where they state the format given)
        SizesRepaired,  // the file has a format chunk; unfinished sizes were finished
        FormatExists,   // the file has a format chunk and finished sizes; unchanged
        NoBext,         // no format chunk and no bext chunk; unchanged
        NoData,         // no format chunk and no data chunk; unchanged
        NotRiff,        // not a RIFF or RF64 file; unchanged
        NotWholeFrames, // the audio is no whole number of the format's frames; unchanged
        TooLarge,       // the repair would take the file past RIFF's 4 GiB limit; unchanged
        OpenFailed,     // the file could not be opened for update
        IoFailed,       // a read or write failed while changing the file
        CheckFailed,    // the changed file does not walk as a repaired one must
    };

    KorvaWavFile() = default;
    explicit KorvaWavFile(const char* pszPath) : CWavFile(pszPath) {}

    using CWavFile::SetPath;
    // Stores the path and the caller's byte-order flag, then reads the properties.
    bool SetPath(const char* pszPath, bool bIntelByteOrder) override;

    // Repairs the file in place with a mono integer PCM format chunk of this
    // rate and depth. True when the chunk was written or mended or the file has
    // no bext chunk; false when it could not be opened, already has a format
    // chunk (with the line "FMT Chunk Exists - return"; unfinished sizes are
    // still finished), or the repair could not be done or failed its check.
    // Traces the searches for the format chunk and, where there is none, for
    // bext, as SearchForChunk does.
    bool RepairFMTChunk(uint32_t nSampleRate, uint16_t nBitsPerSample);
    // The same with any PCM or IEEE float format.
    bool RepairFMTChunk(const WavFormat& format);

    RepairOutcome GetRepairOutcome() const { return m_eOutcome; }
    const RepairPlan& GetRepairPlan() const { return m_plan; }
    // What the check found wrong, after CheckFailed.
    const std::string& GetCheckProblem() const { return m_sProblem; }

    // The one writer of the repair's bytes: writes the plan's patches into a
    // file its edits already shaped. False, with errno set, when a write fails.
    static bool WriteRepair(int fd, const RepairPlan& plan);
    // Shapes a file of nLength bytes in place by the plan's edits, moving what
    // lies behind each one; a copy made for the repair takes them as it is made
    // instead. False, with errno set, when a read or write fails.
    static bool ShapeInPlace(int fd, uint64_t nLength, const RepairPlan& plan);

private:
    RepairOutcome Repair(const WavFormat& format);

    RepairOutcome m_eOutcome = RepairOutcome::NotRun;
    RepairPlan m_plan;
    std::string m_sProblem;
};
