#pragma once

#include "WavFile.h"

// The repair: gives a Broadcast Wave file that lost its fmt chunk a new
// 24-byte PCM one (mono, integer PCM) directly behind its bext chunk.
class KorvaWavFile : public CWavFile
{
public:
    // What the last RepairFMTChunk did, for the user; the result of
    // RepairFMTChunk itself is kept as it always was.
    enum class RepairOutcome
    {
        NotRun,         // RepairFMTChunk has not run
        Written,        // written over the remains of the lost chunk behind bext
        Inserted,       // a live chunk stood behind bext: inserted in front of it
        FormatExists,   // the file already has a fmt chunk; unchanged
        NoBext,         // no bext chunk; unchanged
        OpenFailed,     // the file could not be opened for update
        BextUnreadable, // the bext chunk is cut off by the end of the file; unchanged
        TooLarge,       // inserting would take the file past RIFF's 4 GiB limit; unchanged
        WriteFailed,    // a read or write failed while changing the file
    };

    static constexpr uint32_t kFormatChunkSize = 24;

    KorvaWavFile() = default;
    explicit KorvaWavFile(const char* pszPath) : CWavFile(pszPath) {}

    // Stores the path and the caller's byte-order flag, then reads the properties.
    bool SetPath(const char* pszPath, bool bIntelByteOrder) override;

    // Writes the fmt chunk behind bext: over the bytes there when they are the
    // remains of the lost chunk, or inserted (the rest of the file moving up 24
    // bytes, the RIFF size growing by 24) when they are a live chunk header.
    // Behind an odd-sized bext, a zero pad byte followed by a live chunk (right
    // away or behind 24 bytes of remains) puts the new chunk behind the pad byte.
    // Block align is 2 for 16 bits and 3 for every other depth.
    // True when the chunk was written or the file has no bext chunk; false when
    // it could not be opened, already has a fmt chunk (with the line
    // "FMT Chunk Exists - return"), or the change failed.
    bool RepairFMTChunk(uint32_t nSampleRate, uint16_t nBitsPerSample);

    RepairOutcome GetRepairOutcome() const { return m_eOutcome; }
    // A short text for the user: "fmt chunk written behind bext" and so on.
    static const char* DescribeOutcome(RepairOutcome eOutcome);

private:
    // Where the new chunk goes, and whether a live chunk there must move up.
    struct Placement
    {
        uint64_t nOffset;
        bool bInsert;
    };
    Placement PlaceFormatChunk(uint64_t nBehindBext, uint64_t nFileLength, bool bOddBext);
    bool IsLiveChunkHeaderAt(uint64_t nOffset, uint64_t nFileLength);
    bool WriteFormatChunk(uint32_t nSampleRate, uint16_t nBitsPerSample);
    bool MoveTailUp(uint64_t nFrom, uint64_t nFileLength, uint64_t nDistance);

    RepairOutcome m_eOutcome = RepairOutcome::NotRun;
};
