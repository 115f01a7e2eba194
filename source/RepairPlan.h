#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RiffLayout.h"
#include "WavFormat.h"

// What the repair makes of one file, decided from its layout before a byte is
// written. One plan serves inspect, which shows it, and the repair, which
// carries it out, so that the two always agree.
//
// A plan changes a file in two steps. Its edits shape the file: zero bytes go
// in where a chunk or a pad byte needs room, and the bytes of a partial last
// frame stay out. Its patches are then written over the shaped file: the new
// format chunk, JUNK headers over holes, pad bytes and sizes. A copy can take
// the edits while it is made, and so write every byte once.
//
// A damaged format chunk is mended where it stands: its size set, the bits
// field put in where its body ends before it. Its fields stay when they state
// the format given; otherwise the given format is written over them.
class RepairPlan
{
public:
    enum class Verdict
    {
        NotRiff,         // not a RIFF or RF64 (with ds64) file: left alone
        NoBext,          // no format chunk and no bext chunk: left alone
        NoData,          // no format chunk and no data chunk: nothing to repair
        Intact,          // a format chunk and finished sizes: left alone
        SizesUnfinished, // a format chunk, but a data or RIFF size never finished
        FormatMissing,   // bext and data but no format chunk: a new one goes in
        FormatDamaged,   // bext and data and a damaged format chunk: it is mended
        NotWholeFrames,  // the audio's finished size is no whole number of the
                         // format's frames: that format cannot be the file's
        TooLarge,        // the repaired file would pass RIFF's 4 GiB limit
    };

    // At source offset nAt, nDrop bytes stay out and nInsert zero bytes go in.
    struct Edit
    {
        uint64_t nAt = 0;
        uint64_t nDrop = 0;
        uint64_t nInsert = 0;
    };
    // Bytes written over the shaped file, at an offset in it.
    struct Patch
    {
        uint64_t nOffset = 0;
        std::vector<uint8_t> bytes;
    };

    // Whether the repair of a file with this layout writes a format chunk, and
    // so depends on the format given: a RIFF file with bext and audio that has
    // no format chunk, or a damaged one.
    static bool NeedsFormat(const RiffLayout& layout);
    // The plan for a file with this layout. format is what a new format chunk
    // states; where the file keeps its own, the audio's frames are that one's.
    // nShareBlock: the block size by which the copy can share blocks with the
    // source, 0 where it cannot. A new chunk inserted then comes with a JUNK
    // chunk that makes everything behind move by a whole number of blocks.
    // A finished data size that is no whole number of frames makes the verdict
    // NotWholeFrames, unless bLeaveOutPartialFrame, when the format is known
    // for certain: the last frame's bytes then stay out, as they do for an
    // unfinished size.
    static RepairPlan Make(const RiffLayout& layout, const WavFormat& format, bool bIntelByteOrder,
                           uint64_t nShareBlock = 0, bool bLeaveOutPartialFrame = false);
    // What is wrong with a repaired file's layout, in plain words; "" when
    // nothing is: one format chunk and no hole in front of the audio, pad bytes
    // behind odd sizes there, whole frames of audio inside the file, and a RIFF
    // size (RF64: ds64 sizes) that matches the file.
    static std::string Check(const RiffLayout& layout);

    bool Changes() const { return !edits.empty() || !patches.empty(); }
    // The bytes a new format chunk of this format and body size (16, 18 or 40) holds.
    static std::vector<uint8_t> FormatChunk(const WavFormat& format, uint32_t nBody,
                                            bool bIntelByteOrder);

    Verdict verdict = Verdict::NotRiff;
    std::vector<Edit> edits; // by ascending nAt
    std::vector<Patch> patches;
    uint64_t nSourceLength = 0;
    uint64_t nLength = 0; // of the repaired file

    // What the verdict rests on, for the words a front end puts to it.
    bool bHasBext = false;
    uint64_t nRemainsOffset = 0; // the lost format chunk's remains, in the source
    uint64_t nRemainsLength = 0; // 0: none were found; the new chunk is inserted
    uint64_t nInsertAt = 0;      // where it is inserted then, in the source:
    bool bBehindBext = false;    // behind bext, or in front of the audio
    uint64_t nDamagedOffset = 0; // the damaged format chunk, in the source; 0: none
    uint64_t nDamagedSize = 0;   // its size field
    uint64_t nDamagedBody = 0;   // the body it holds
    bool bFieldsKept = false;    // its fields state the format given, and stay
    uint64_t nFormatOffset = 0;  // where the new or mended format chunk stands in the repaired file
    uint32_t nFormatBody = 0;    // its body size; 0 when none is written
    uint64_t nInserted = 0;      // zero bytes put in
    uint64_t nDataOffset = 0;    // of the data chunk, in the source; 0 without one
    uint64_t nDataDeclared = 0;  // the size its header declares
    uint64_t nDataPresent = 0;   // the audio bytes that follow it
    uint64_t nDataSize = 0;      // its size in the repaired file
    uint64_t nPartialBytes = 0;  // bytes of a partial last frame left out, of either size
    uint16_t nBlockAlign = 0;    // of the frames the audio is counted in
    bool bDataSizeUnfinished = false;
    bool bRiffSizeUnfinished = false;
};
