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
    // Writes a new WAV file holding this file's fmt chunk and the frames.
    // Checks everything before writing: on failure returns false and no file
    // is left at pszPath. The source stream is left as it was found.
    bool CreateNewFile(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame);
    // Appends the frames to the data chunk, which must end the existing WAV
    // file at pszPath. On failure the destination is as it was.
    bool AppendToFile(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame);
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
    // count that fits 32 bits and bytes that are all in the file.
    bool PlanFrameCopy(uint32_t nStartFrame, uint32_t nEndFrame, FrameCopy& copy);
    bool WriteNewFile(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame);
    bool AppendFrames(const char* pszPath, uint32_t nStartFrame, uint32_t nEndFrame);
    // Runs one of the two above on the source's open stream, then closes it.
    using FrameCopier = bool (CWavFile::*)(const char*, uint32_t, uint32_t);
    bool CopyWithSourceOpen(FrameCopier pCopier, const char* pszPath, uint32_t nStartFrame,
                            uint32_t nEndFrame);
};
