#include "TemporaryCopy.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

fs::path TemporaryCopy::pattern(const fs::path& folder, const std::string& name)
{
    return folder / (".korva-" + name + ".XXXXXX");
}

TemporaryCopy::TemporaryCopy(const fs::path& folder, const std::string& name, std::error_code& ec)
{
    std::string path = pattern(folder, name).string();
    const int fd = mkstemp(path.data());
    if (fd < 0)
    {
        ec.assign(errno, std::generic_category());
        return;
    }
    ec.clear();
    m_path = path;
    m_fd = fd;
}

TemporaryCopy::~TemporaryCopy()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_path.empty())
        return;
    std::error_code ignored;
    fs::remove(m_path, ignored);
}

bool TemporaryCopy::rename(const fs::path& target, std::error_code& ec)
{
    fs::rename(m_path, target, ec);
    if (ec)
        return false;
    m_path.clear();
    return true;
}

namespace
{
// Copies every byte from in to out inside the kernel: copy_file_range where the
// file systems allow it, sendfile otherwise. errno tells why it failed.
bool KernelCopy(int in, int out, off_t nLength)
{
    bool bRange = true;
    for (off_t nDone = 0; nDone < nLength;)
    {
        const size_t nChunk = static_cast<size_t>(std::min<off_t>(nLength - nDone, 1 << 30));
        ssize_t n = bRange ? copy_file_range(in, nullptr, out, nullptr, nChunk, 0)
                           : sendfile(out, in, nullptr, nChunk);
        if (n < 0 && bRange &&
            (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
        {
            bRange = false;
            continue;
        }
        if (n < 0)
            return false;
        if (n == 0)
        {
            errno = EIO; // the source ended before its measured length
            return false;
        }
        nDone += n;
    }
    return true;
}
} // namespace

bool TemporaryCopy::copyFrom(const fs::path& source, std::error_code& ec)
{
    int nError = 0;
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (in < 0 || fstat(in, &info) != 0 || !KernelCopy(in, m_fd, info.st_size) ||
        fchmod(m_fd, (info.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0)
        nError = errno;
    if (in >= 0)
        ::close(in);
    // Closing is the last chance for the file system to report a failed write.
    if (::close(m_fd) != 0 && nError == 0)
        nError = errno;
    m_fd = -1;
    ec.assign(nError, std::generic_category());
    return nError == 0;
}
