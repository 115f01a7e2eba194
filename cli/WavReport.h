#pragma once

#include "FormatChoice.h"
#include "FormatEvidence.h"
#include "RepairPlan.h"
#include "RiffLayout.h"

#include <cstdint>
#include <optional>
#include <string>

// What the file library can tell about one file, read without changing it:
// its chunks and holes as the repair's walk finds them, its format and audio,
// the Broadcast Wave time reference, the Pro Tools region count, and the
// repair's plan for it, from the same analysis the repair runs.
struct WavReport
{
    // Reads the file at path. Never waits: a FIFO or a folder is an error.
    static WavReport Of(const std::string& path);

    std::string path;
    std::string error; // why the file could not be read; "" when it was

    RiffLayout layout;
    RepairPlan plan; // counting audio in bytes where the file states no format,
                     // in a damaged format chunk's frames where it has one

    // The first format chunk's fields: tag, channels, rate, bytes/s, block align,
    // bits; or a damaged one's, its bits derived where the field is missing.
    struct Format
    {
        uint16_t nFormatTag = 0;
        uint16_t nChannels = 0;
        uint32_t nSampleRate = 0;
        uint32_t nBytesPerSec = 0;
        uint16_t nBlockAlign = 0;
        uint16_t nBitsPerSample = 0;
        bool bDamaged = false;
        bool bBitsMissing = false;
    };
    std::optional<Format> format;
    bool bHasBext = false;
    std::optional<uint32_t> timeReference; // low 32 bits; none in a bext too short for it
    uint32_t nRegions = 0;
    // The bext chunk's text fields, as they stand (NULs and trailing blanks cut).
    struct BextText
    {
        std::string description, originator, originationDate, originationTime, codingHistory;
    };
    std::optional<BextText> bextText;
    // What the file says of its own format, and the format repair --auto writes.
    std::optional<FormatEvidence> evidence;
    FormatChoice::Result autoFormat;

    // "repairable: format chunk missing, remains of 24 bytes at 622",
    // "repairable: format chunk damaged at 622: its size says 14, its body
    // holds 14 bytes", "intact",
    // "sizes unfinished: data size 0, 43200 bytes of audio follow", "no bext
    // chunk: not repairable", "no data chunk: not repairable", "not a RIFF
    // file", or "too large: ...": exactly what repair will do.
    std::string verdict() const;
    // The repair's action in a line: what it writes where, or "none".
    std::string action() const;
};
