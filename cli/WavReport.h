#pragma once

#include "RiffFile.h"

#include <cstdint>
#include <string>
#include <vector>

// What the file library can tell about one file, read without changing it:
// the chunks a walk visits, the format and data properties, the Broadcast
// Wave time reference, the Pro Tools region count, and whether the repair
// would take it on.
struct WavReport
{
    // Reads the file at path. The library's trace should be silenced first.
    static WavReport Of(const std::string& path);

    std::string path;
    std::string error; // why the file could not be read; "" when it was

    bool bRiff = false;
    uint64_t nLength = 0;
    std::vector<CRiffFile::ChunkEntry> chunks;

    bool bHasFormat = false;
    uint16_t nFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSampleRate = 0;
    uint32_t nBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t nBitsPerSample = 0;

    bool bHasData = false;
    uint64_t nDataOffset = 0;
    uint64_t nDataLength = 0;
    uint64_t nFrames = 0; // whole frames; 0 without a block align

    bool bHasBext = false;
    uint32_t nTimeReference = 0; // low 32 bits of the bext time reference
    uint32_t nRegions = 0;
    bool bHasCue = false;
    bool bHasAfjx = false;

    // "repairable: bext present, format chunk missing", "intact",
    // "no bext chunk: not repairable" or "not a RIFF file".
    std::string verdict() const;
};
