#include "FuzzScratch.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

#include "Trace.h"
#include "WavBuilder.h"

const FuzzScratch& FuzzScratch::Get()
{
    static const FuzzScratch scratch;
    return scratch;
}

FuzzScratch::FuzzScratch()
{
    // Thousands of small files a second: a RAM disk keeps the target fast.
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "korva-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch folder under " + base.string());
    m_folder = pattern;
    // A fuzz target checks results, not the walk's trace.
    CTrace::SetStream(nullptr);
}

FuzzScratch::~FuzzScratch()
{
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
}

std::filesystem::path FuzzScratch::Write(const char* pszName, const uint8_t* pData,
                                         std::size_t nSize) const
{
    const std::filesystem::path path = Path(pszName);
    fixture::writeFile(path, fixture::Bytes(pData, pData + nSize));
    return path;
}
