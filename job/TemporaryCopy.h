#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
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
    // Creates the empty file, open for reading and writing, with the
    // permissions a copy of a file of mode sourceMode gets, as cp gives them
    // without -p: no setuid, setgid or sticky bit, less what the umask takes
    // away, and always readable and writable by its owner. ec tells why when
    // it could not be created, and the object then owns nothing.
    TemporaryCopy(const std::filesystem::path& folder, mode_t sourceMode, std::error_code& ec);
    // A file never given its name goes.
    ~TemporaryCopy();
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    int fd() const { return m_fd; }
    // The file's device and inode, its identity once it has its name too.
    dev_t device() const { return m_info.st_dev; }
    ino_t inode() const { return m_info.st_ino; }
    // Its permissions, as made.
    mode_t mode() const { return m_info.st_mode & 07777; }
    // The block size its file system gives for it.
    uint64_t blockSize() const { return static_cast<uint64_t>(m_info.st_blksize); }

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
    // Closes the file and takes its temporary name away, if it has one.
    void Remove();

    std::filesystem::path m_folder;
    std::filesystem::path m_path; // empty while the file has no name
    int m_fd = -1;
    struct stat m_info = {};
};
