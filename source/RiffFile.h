#pragma once

#include "AudioFile.h"

// The chunk layer: finds chunks in a RIFF file and removes them.
class CRiffFile : public CAudioFile
{
public:
    CRiffFile() = default;
    explicit CRiffFile(const char* pszPath) : CAudioFile(pszPath) {}

    // Walks the chunk list of pFile from nStart, as RiffLayout does (pad bytes
    // behind odd sizes stepped over where they stand, holes crossed), and
    // returns the offset of the first live chunk named pszChunk, 0 when none
    // is (or when it lies beyond the 32-bit result). bNoSkip examines every
    // 8-byte step instead of skipping payloads. Traces every header it visits,
    // and for a hole the bytes where a header should have stood. The stream
    // position afterwards is unspecified.
    static uint32_t SearchForChunk(FILE* pFile, uint64_t nStart, const char* pszChunk, bool bNoSkip,
                                   bool bIntelByteOrder);

    // Removes the first chunk named pszChunk after the RIFF header in place,
    // with the pad byte behind it: the bytes behind it move down, the file is
    // cut and the RIFF size is rewritten. Refuses, with the file untouched, a
    // chunk whose size runs past the end of the file, an RF64 file, and a file
    // longer than a RIFF size can state. Updates m_nFileLength but no other
    // property; leaves the stream as it found it (closed, or open).
    bool DeleteChunk(const char* pszChunk);
};
