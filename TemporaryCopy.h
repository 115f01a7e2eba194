#pragma once

#include <filesystem>
#include <string>
#include <system_error>

// A hidden file ".korva-<name>.XXXXXX" beside the place a new file is to stand,
// so that the new file is complete before it takes its name: the file is
// removed when the object goes, unless it was given its final name.
class TemporaryCopy
{
public:
    // The path the temporary file for name in folder will have, its six
    // unique characters still "XXXXXX" (the same length as the real one).
    static std::filesystem::path pattern(const std::filesystem::path& folder,
                                         const std::string& name);

    // Creates the empty file; ec tells why when it could not be created, and
    // the object then owns nothing.
    TemporaryCopy(const std::filesystem::path& folder, const std::string& name,
                  std::error_code& ec);
    ~TemporaryCopy();
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // Fills the file with the bytes of source, copied by the kernel; the file
    // takes the source's permissions, and its owner may always write it (the
    // repair opens it for update). On failure ec holds the system's own error:
    // a full disk reads "No space left on device".
    bool copyFrom(const std::filesystem::path& source, std::error_code& ec);

    // Renames the file to target, which must be free or a file that may be
    // replaced. On success the object owns nothing; on failure ec tells why
    // and the file stays the object's.
    bool rename(const std::filesystem::path& target, std::error_code& ec);

private:
    std::filesystem::path m_path; // empty: owns nothing
    int m_fd = -1;                // open from creation until the copy is done
};
