#include "TemporaryCopy.h"

#include "FileOutcome.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

// Linux's unnamed files, unless the build asks for what other systems do.
#if defined(O_TMPFILE) && !defined(KORVA_PORTABLE_COPY)
#define KORVA_UNNAMED_FILES 1
#endif

namespace
{
constexpr std::string_view kPrefix = ".korva-";

// ".korva-PID-XXXXXX" in folder, created exclusively; -1 with errno when not.
int CreateNamed(const fs::path& folder, fs::path& path)
{
    std::string name =
        (folder / (std::string(kPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
    const int fd = mkstemp(name.data());
    if (fd >= 0)
        path = name;
    return fd;
}

#ifdef KORVA_UNNAMED_FILES
// Links the unnamed file behind fd to path, through its /proc entry, which
// needs no privilege (linkat's AT_EMPTY_PATH would).
bool LinkUnnamed(int fd, const fs::path& path, std::error_code& ec)
{
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    ec.assign(errno, std::generic_category());
    return false;
}
#endif

// The process's umask. Linux tells it without changing it; elsewhere it is
// set and put back, once, before the batch's copies are made.
mode_t ProcessUmask()
{
    static const mode_t mask = []
    {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("Umask:"))
                return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        const mode_t was = umask(0);
        umask(was);
        return was;
    }();
    return mask;
}

bool IsLeftoverOfAGoneRun(const std::string& name)
{
    // ".korva-" PID "-" six characters.
    if (name.size() < kPrefix.size() + 8 || !name.starts_with(kPrefix))
        return false;
    const std::string rest = name.substr(kPrefix.size());
    const auto dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || rest.size() - dash - 1 != 6 ||
        rest.find_first_not_of("0123456789") != dash)
        return false;
    const auto pid = static_cast<pid_t>(std::strtol(rest.c_str(), nullptr, 10));
    // A process of that id still running may be a run still writing it.
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}
} // namespace

TemporaryCopy::TemporaryCopy(const fs::path& folder, mode_t sourceMode, std::error_code& ec)
    : m_folder(folder)
{
    const mode_t mode = (sourceMode & 0777 & ~ProcessUmask()) | S_IRUSR | S_IWUSR;
#ifdef KORVA_UNNAMED_FILES
    // An unnamed file is made with its permissions, which the umask trims as
    // the copy's own are trimmed; the owner's two bits are given back below
    // if the umask took them.
    static const bool bProcThere = access("/proc/self/fd", X_OK) == 0;
    if (bProcThere)
        m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
#endif
    // File systems without unnamed files (and systems without them) get a
    // named one, made for its owner only.
    if (m_fd < 0)
        m_fd = CreateNamed(folder, m_path);
    if (m_fd >= 0 &&
        (fstat(m_fd, &m_info) != 0 || ((m_info.st_mode & 0777) != mode && fchmod(m_fd, mode) != 0)))
    {
        ec.assign(errno, std::generic_category());
        Remove();
        return;
    }
    m_info.st_mode = (m_info.st_mode & ~mode_t{07777}) | mode;
    ec.assign(m_fd < 0 ? errno : 0, std::generic_category());
}

TemporaryCopy::~TemporaryCopy()
{
    Remove();
}

void TemporaryCopy::Remove()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_path.empty())
        ::unlink(m_path.c_str());
    m_fd = -1;
    m_path.clear();
}

bool TemporaryCopy::Publish(const fs::path& target, bool bReplace, std::error_code& ec)
{
    ec.clear();
#ifdef KORVA_UNNAMED_FILES
    // An unnamed file takes a free target at once; one that replaces a file
    // takes a temporary name first, and is renamed over it like a named one.
    if (m_path.empty() && !bReplace)
        return LinkUnnamed(m_fd, target, ec);
    if (m_path.empty())
    {
        fs::path named;
        const int fd = CreateNamed(m_folder, named);
        if (fd < 0)
        {
            ec.assign(errno, std::generic_category());
            return false;
        }
        ::close(fd);
        ::unlink(named.c_str()); // the name was taken to be sure it was free
        if (!LinkUnnamed(m_fd, named, ec))
            return false;
        m_path = named;
    }
#endif
    if (bReplace)
        fs::rename(m_path, target, ec);
    else if (::link(m_path.c_str(), target.c_str()) == 0)
        ::unlink(m_path.c_str());
    // File systems without hard links (FAT, exFAT cards) are renamed onto a
    // target that was free a moment ago.
    else if (errno == EEXIST || fs::exists(target, ec))
        ec = std::make_error_code(std::errc::file_exists);
    else
        fs::rename(m_path, target, ec);
    if (ec)
        return false;
    m_path.clear();
    return true;
}

std::vector<std::string> TemporaryCopy::RemoveLeftovers(const fs::path& folder)
{
    std::vector<std::string> removed;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
    {
        const std::string name = entry.path().filename().string();
        if (IsLeftoverOfAGoneRun(name) && entry.is_regular_file(ec) && fs::remove(entry.path(), ec))
            removed.push_back(name);
    }
    return removed;
}

std::optional<std::string> TemporaryCopy::FlushFileSystemOf(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef __linux__
    const bool bFlushed = fd >= 0 && syncfs(fd) == 0;
#else
    const bool bFlushed = fd >= 0 && fsync(fd) == 0 && (sync(), true);
#endif
    const int nError = errno;
    if (fd >= 0)
        ::close(fd);
    if (bFlushed)
        return std::nullopt;
    return "the copies could not be written through to the destination's disk: " +
           korva::SystemErrorWords(nError) + "; check the destination before removing it";
}
