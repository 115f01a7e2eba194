#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <system_error>
#include <vector>

// A new file in a folder that takes its final name only once it is complete,
// so that an interrupted batch never leaves a half-written file under a real
// name. Where the system allows it the file has no name at all until then
// (Linux's O_TMPFILE), and a killed run leaves nothing behind; elsewhere it is
// ".korva-PID-XXXXXX", short whatever the final name, and carrying the process
// id so that a later run can tell a leftover from a file still being written.
class TemporaryCopy
{
public:
    // Creates the empty file, open for reading and writing; ec tells why when
    // it could not be created, and the object then owns nothing.
    TemporaryCopy(const std::filesystem::path& folder, std::error_code& ec);
    // A file never given its name goes.
    ~TemporaryCopy();
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    int fd() const { return m_fd; }

    // Gives the copy the permissions of a source of mode sourceMode as a new
    // file gets them, as cp does without -p: no setuid, setgid or sticky bit,
    // less what the umask takes away, and always readable and writable by
    // its owner. False, with errno set, when the system refuses.
    bool SetModeOf(mode_t sourceMode);

    // Gives the file its final name. bReplace: a file standing at target is
    // replaced in one step; otherwise nothing standing there is touched and
    // the call fails with "file exists". On failure ec tells why and the file
    // stays the object's. The descriptor stays open either way.
    bool Publish(const std::filesystem::path& target, bool bReplace, std::error_code& ec);

    // The temporary files in folder that runs no longer going left behind
    // (a second Ctrl-C, a crash), removed; their names, for a message.
    static std::vector<std::string> RemoveLeftovers(const std::filesystem::path& folder);

    // Writes the whole file system that holds folder through to its disk, at
    // the end of a batch: less costly than a flush after each file. Nothing
    // when that is done; otherwise why not, in plain words.
    static std::optional<std::string> FlushFileSystemOf(const std::filesystem::path& folder);

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_path; // empty while the file has no name
    int m_fd = -1;
};
