#pragma once

#include "RiffFile.h"

// The WAV layer: reads a file's format and data properties and the positions
// of the chunks the system cares about; writes new WAV files from a range of
// sample frames; reads the Broadcast Wave time stamp and Pro Tools regions.
class CWavFile : public CRiffFile
{
public:
    // The copies fall back to this buffer when kBlockSize cannot be had.
    static constexpr uint32_t kFallbackBufferSize = 20224;

    CWavFile() = default;
    // Reads the file's properties at once and leaves the stream closed.
    explicit CWavFile(const char* pszPath);

    // --- Properties -------------------------------------------------------
    // True when the file begins with neither "RIFF" nor RF64's "RF64" or
    // "BW64". Needs an open stream.
    bool CheckHeader();
    // Reads the six format fields of the fmt chunk at nOffset; false, with no
    // field changed, when no fmt chunk stands there. Fields whose bytes lie
    // beyond a short chunk or the end of the file keep their values.
    bool GetProperties(uint64_t nOffset);
    // Reads the data size of the data chunk at nOffset into m_nDataLength.
    bool GetDataProperties(uint64_t nOffset);
    // The property reader: checks the header and walks for fmt, bext, regn,
    // data, cue and AFJx (an RF64 data size comes from ds64). A chunk that is
    // missing records offset 0; the fields it would feed keep their values.
    // A closed stream is opened read-only, and closed again when bClose is
    // true; a stream found open stays open.
    void DoGetProperties(bool bClose);

    using CAudioFile::SetPath;
    // Set the path with the byte-order flag true and read the properties.
    bool SetPath(const char* pszPath);
    bool SetPath(const char& rPath);

    // --- New files and appends (frames are counted from the first frame of
    // the data chunk; nEndFrame is one past the last) -----------------------
    // What the last CreateNewFile or AppendToFile did, or why it did not: a
    // front end words it. Refusals come before a byte is written.
    enum class Copy
    {
        NotRun,
        Copied,
        SourceUnopened, // the source could not be opened for reading
        NoFormat,       // the source has no fmt chunk
        BlockAlignZero, // its fmt chunk states a block align of 0: frames cannot be counted
        FormatTooLarge, // its fmt chunk is larger than the copy buffer
        NoData,         // the source has no data chunk, or it no longer stands where it was found
        StartAfterEnd,  // nStartFrame > nEndFrame
        PastTheFrames,  // nEndFrame > the whole frames of the data chunk (GetFullFileRegionEnd)
        FramesCutOff,   // the frames run past the end of the file: the data size states more
        TooLarge,       // the frames, or the new file, pass what a 32-bit size can state
        DestinationUnopened, // the new file could not be created, or the destination opened
                             // for update (GetSystemError)
        DestinationNotWav,   // append: the destination is no RIFF file with a data chunk
        DestinationRf64,     // append: an RF64 file, whose sizes in ds64 this does not rewrite
        DataNotLast,         // append: the destination's data chunk does not end the file
        DestinationFull,     // append: its data chunk or the file would pass a 32-bit size
        IoFailed,            // a read or write failed, or no buffer could be had (GetSystemError)
    };
    // Writes a new WAV file holding this file's fmt chunk and the frames.
    // Checks everything before writing: on failure returns false and no file
    // is left at pszPath. The source stream is left as it was found.
    bool CreateNewFile(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame);
    // Appends the frames to the data chunk, which must end the existing RIFF
    // WAV file at pszPath. On failure the destination is as it was.
    bool AppendToFile(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame);
    Copy GetCopy() const { return m_eCopy; }
    // Per-channel streams: m_nChannels handles starting at pFiles.
    void CloseFiles(FILE** pFiles);
    void SetFileDataLen(FILE** pFiles);
    bool WriteBuffer(FILE** pFiles, const void* pBuffer, uint32_t nBytes);

    // --- Broadcast Wave and Pro Tools -------------------------------------
    // The low 32 bits of the bext time reference of the chunk at nOffset;
    // bFound tells whether a bext chunk stands there. A bext chunk too short
    // to hold a time reference has none: 0.
    static uint32_t GetTimeStampFromBWF(FILE* pFile, uint64_t nOffset, bool& bFound,
                                        bool bIntelByteOrder);
    // As above on the object's stream; records m_bHasBext and m_nBextLength.
    uint32_t GetTimeStampFromBWF(uint64_t nOffset);
    uint32_t GetNumberOfProToolsRegions();
    // Whole frames in the data chunk; 0 when the block align is 0.
    uint64_t GetFullFileRegionEnd() const;

    bool m_bHasBext = false;
    uint32_t m_nBextLength = 0;
    uint64_t m_nRegnOffset = 0;
    uint64_t m_nCueOffset = 0;
    uint64_t m_nAfjxOffset = 0;
    bool m_bHasCue = false;
    bool m_bHasAfjx = false;

private:
    // Where the frames of a copy lie in the source and how many bytes they are.
    struct FrameCopy
    {
        uint64_t nFrom = 0;
        uint32_t nBytes = 0;
    };
    // Checks a frame range against the source's open stream before anything
    // is written: whole frames only, a data chunk where it was found, a byte
    // count that fits 32 bits and bytes that are all in the file. Copied when
    // nothing stands against the copy.
    Copy PlanFrameCopy(uint32_t nStartFrame, uint32_t nEndFrame, FrameCopy& copy);
    Copy WriteNewFile(const char* pszPath, const FrameCopy& copy);
    Copy AppendFrames(const char* pszPath, const FrameCopy& copy);
    // Plans the copy on the source's open stream and runs one of the two
    // above, then closes a stream it opened; records the outcome.
    using FrameCopier = Copy (CWavFile::*)(const char*, const FrameCopy&);
    bool CopyWithSourceOpen(FrameCopier pCopier, const char* pszPath, uint32_t nStartFrame,
                            uint32_t nEndFrame);

    Copy m_eCopy = Copy::NotRun;
};
