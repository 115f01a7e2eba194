#pragma once

#include "AudioFile.h"

#include <string>
#include <vector>

// The chunk layer: finds chunks in a RIFF file and removes them.
class CRiffFile : public CAudioFile
{
public:
    // Every move or copy of file bytes goes through one buffer of this size,
    // so memory stays fixed whatever the file size.
    static constexpr uint32_t kBlockSize = 614400; // 600 KiB

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

    // One chunk header as a walk visits it.
    struct ChunkEntry
    {
        std::string id;       // the four identifier bytes as they stand in the file
        uint64_t nOffset = 0; // offset of the identifier
        uint32_t nSize = 0;   // the payload size the header declares; 0 when cut off
        bool bCutOff = false; // the size field or the payload runs past the end of the file
    };
    // Every chunk header that a walk from nStart visits, by the stepping rule
    // of SearchForChunk (a data chunk's pad byte included), in file order. The
    // last entry may be cut off; the walk ends there. Traces nothing; the
    // stream position afterwards is unspecified.
    static std::vector<ChunkEntry> ListChunks(FILE* pFile, uint64_t nStart, bool bIntelByteOrder);

    // Removes the first chunk named pszChunk after the RIFF header in place:
    // the bytes behind it move down, the file is cut and the RIFF size is
    // rewritten. A pad byte behind an odd-sized chunk stays. Refuses, with the
    // file untouched, a chunk whose size runs past the end of the file. Leaves
    // the stream closed. Updates m_nFileLength but no other property.
    bool DeleteChunk(const char* pszChunk);
};
