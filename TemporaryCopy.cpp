#include "TemporaryCopy.h"

#include <cerrno>
#include <cstdlib>
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
    ::close(fd);
    ec.clear();
    m_path = path;
}

TemporaryCopy::~TemporaryCopy()
{
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
