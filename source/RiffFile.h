#pragma once

#include "AudioFile.h"

#include <cerrno>

class RiffLayout;

// The chunk layer: finds chunks in a RIFF file and removes them.
class CRiffFile : public CAudioFile
{
public:
    // What DeleteChunk did, or would do: a front end words it.
    enum class Deletion
    {
        NotRun,      // DeleteChunk has not run
        Deleted,     // the chunk is gone (CheckDeleteChunk: nothing stands against it)
        Unopened,    // no path, or the file could not be opened (GetSystemError)
        NotRiff,     // the file does not begin with "RIFF", "RF64" or "BW64"
        Rf64,        // an RF64 (or BW64) file, whose sizes in ds64 this does not rewrite
        TooLarge,    // longer than a RIFF size can state
        NoSuchChunk, // no live chunk of that name (or none below 4 GiB)
        CutOff,      // the chunk's size runs past the end of the file
        IoFailed,    // a read or write failed, or no buffer could be had (GetSystemError)
    };

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
    // The same search through a walk already made from offset 12: the trace
    // and the result SearchForChunk gives for the file the layout was read from.
    static uint32_t SearchWalked(const RiffLayout& layout, const char* pszChunk);

    // Removes the first chunk named pszChunk after the RIFF header in place,
    // with the pad byte behind it: the bytes behind it move down, the file is
    // cut and the RIFF size is rewritten. Refuses, with the file untouched, a
    // file that is not RIFF, an RF64 file, a file longer than a RIFF size can
    // state, and a chunk that is not there or whose size runs past the end of
    // the file; GetDeletion tells which. Updates m_nFileLength but no other
    // property; leaves the stream as it found it (closed, or open).
    bool DeleteChunk(const char* pszChunk);
    // What DeleteChunk would do with the file as it stands, read without a
    // byte written (a stream found open stays open, one opened is closed):
    // Deleted when nothing stands against it, otherwise the refusal. A caller
    // that deletes from a copy asks the source first and copies only then.
    Deletion CheckDeleteChunk(const char* pszChunk);
    Deletion GetDeletion() const { return m_eDeletion; }

    // The system's error number behind the last Unopened or IoFailed (and
    // behind CWavFile's failed copies); 0 when there was none to tell.
    int GetSystemError() const { return m_nSystemError; }

protected:
    // outcome, with the error number of the failure that just happened kept.
    template <typename Outcome> Outcome WithSystemError(Outcome outcome)
    {
        m_nSystemError = errno;
        return outcome;
    }

    int m_nSystemError = 0;

private:
    // Where the chunk to delete lies in a file of nLength bytes.
    struct ChunkSpan
    {
        uint64_t nLength = 0;
        uint64_t nOffset = 0; // of its header
        uint64_t nEnd = 0;    // behind its pad byte, if it has one
    };
    // The checks both deletion calls make on the open stream.
    Deletion Check(const char* pszChunk, ChunkSpan& span);

    Deletion m_eDeletion = Deletion::NotRun;
};
