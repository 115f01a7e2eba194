#include "AudioFile.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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
    // Opened without waiting, so that a FIFO cannot hold the caller; only a
    // regular file is taken.
    const bool bWrite = std::strchr(pszMode, '+') != nullptr;
    const int fd = ::open(m_pszPath.get(), (bWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (m_pFile = fdopen(fd, pszMode)) == nullptr)
    {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    uint64_t nLength = 0;
    if (!riff::SeekEnd(m_pFile, nLength))
    {
        fclose(m_pFile);
        return false;
    }
    m_nFileLength = nLength;
    m_bFileOpen = true;
    m_bWritable = bWrite;
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

CAudioFile::StreamUse::StreamUse(CAudioFile& file, bool bWrite) : m_file(file)
{
    if (m_file.m_bFileOpen && bWrite && !m_file.m_bWritable)
    {
        m_file.Close();
        m_bReopenForReading = true;
    }
    if (!m_file.m_bFileOpen)
        m_bClose = m_file.Open(bWrite ? "r+" : "r") && !m_bReopenForReading;
}

CAudioFile::StreamUse::~StreamUse()
{
    if (m_bClose || m_bReopenForReading)
        m_file.Close();
    if (m_bReopenForReading)
        m_file.Open("r");
}
