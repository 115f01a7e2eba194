#pragma once

#include "AudioFile.h"

// The chunk layer: finds chunks in a RIFF file and removes them.
class CRiffFile : public CAudioFile
{
public:
    CRiffFile() = default;
    explicit CRiffFile(const char* pszPath) : CAudioFile(pszPath) {}

    // Walks the chunk headers of pFile from nStart and returns the offset of
    // the first chunk whose identifier equals pszChunk, 0 when none does. The
    // next header follows the payload directly, except that an odd-sized data
    // chunk is followed by one pad byte. bNoSkip examines every 8-byte step
    // instead of skipping payloads. Traces every header it visits. The walk
    // always ends: a size that points past the end, or a chunk whose offset
    // does not fit the 32-bit result, ends it with 0. The stream position
    // afterwards is unspecified.
    static uint32_t SearchForChunk(FILE* pFile, uint64_t nStart, const char* pszChunk, bool bNoSkip,
                                   bool bIntelByteOrder);

    // Removes the first chunk named pszChunk after the RIFF header in place:
    // the bytes behind it move down, the file is cut and the RIFF size is
    // rewritten. A pad byte behind an odd-sized chunk stays. Refuses, with the
    // file untouched, a chunk whose size runs past the end of the file. Leaves
    // the stream closed. Updates m_nFileLength but no other property.
    bool DeleteChunk(const char* pszChunk);
};
