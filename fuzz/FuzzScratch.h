#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

// The files a fuzz target works on: the library takes paths, so every input is
// written to a file in one private folder per process (on a RAM disk when the
// machine has one), which is removed when the process ends.
class FuzzScratch
{
public:
    static const FuzzScratch& Get();

    std::filesystem::path Path(const char* pszName) const { return m_folder / pszName; }
    // Replaces the file named pszName with the bytes and returns its path.
    std::filesystem::path Write(const char* pszName, const uint8_t* pData, std::size_t nSize) const;

    FuzzScratch(const FuzzScratch&) = delete;
    FuzzScratch& operator=(const FuzzScratch&) = delete;

private:
    FuzzScratch();
    ~FuzzScratch();

    std::filesystem::path m_folder;
};
