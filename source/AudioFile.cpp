#include "AudioFile.h"

#include <cstring>
#include <unistd.h>

#include "RiffIO.h"

namespace
{
bool FitsPathBuffer(const char* pszPath)
{
    return pszPath != nullptr &&
           strnlen(pszPath, CAudioFile::kPathCapacity) < CAudioFile::kPathCapacity;
}
} // namespace

CAudioFile::CAudioFile() : m_pszPath(new char[kPathCapacity]()) {}

CAudioFile::CAudioFile(const char* pszPath) : CAudioFile()
{
    // A path that does not fit is refused rather than cut: a cut path names another file.
    if (FitsPathBuffer(pszPath))
    {
        strcpy(m_pszPath.get(), pszPath);
        m_bPathSet = true;
    }
}

CAudioFile::~CAudioFile()
{
    Close();
}

bool CAudioFile::Open(const char* pszMode)
{
    if (!m_bPathSet || m_bFileOpen)
        return false;
    if (access(m_pszPath.get(), F_OK) != 0)
    {
        m_bFileMissing = true;
        return false;
    }
    m_pFile = fopen(m_pszPath.get(), pszMode);
    if (m_pFile == nullptr)
        return false;
    uint64_t nLength = 0;
    if (!riff::SeekEnd(m_pFile, nLength))
    {
        fclose(m_pFile);
        return false;
    }
    m_nFileLength = nLength;
    m_bFileOpen = true;
    return true;
}

bool CAudioFile::Close()
{
    if (!m_bFileOpen)
        return false;
    fflush(m_pFile);
    fclose(m_pFile);
    m_bFileOpen = false;
    return true;
}

bool CAudioFile::SetPath(const char* pszPath, bool bIntelByteOrder)
{
    if (!FitsPathBuffer(pszPath))
        return false;
    m_bIntelByteOrder = bIntelByteOrder;
    if (strcmp(pszPath, m_pszPath.get()) != 0)
    {
        strcpy(m_pszPath.get(), pszPath);
        Close();
    }
    m_bPathSet = true;
    return true;
}
