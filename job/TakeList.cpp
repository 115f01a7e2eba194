#include "TakeList.h"

#include "ChunkReader.h"
#include "FileOutcome.h"
#include "RiffLayout.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
constexpr const char* kNotWave = "not a WAVE file";
constexpr bool kHostIsIntel = std::endian::native == std::endian::little;

// The path from the root of the file system, without "." or "..", and
// without the empty name a trailing slash leaves; a relative path lies under
// the working folder workingFolder.
fs::path Absolute(const fs::path& path, const fs::path& workingFolder)
{
    fs::path absolute = (workingFolder / path).lexically_normal();
    if (absolute.has_parent_path() && absolute.filename().empty())
        absolute = absolute.parent_path();
    return absolute;
}

// Whether path is folder or lies in it (both absolute and lexically normal),
// told without taking them apart.
bool LiesIn(const fs::path& path, const fs::path& folder)
{
    const std::string &p = path.native(), &f = folder.native();
    return p.starts_with(f) && (p.size() == f.size() || p[f.size()] == '/' || f.ends_with('/'));
}

// The deepest folder both a and b lie in (or are).
fs::path SharedFolder(const fs::path& a, const fs::path& b)
{
    fs::path shared;
    for (auto i = a.begin(), j = b.begin(); i != a.end() && j != b.end() && *i == *j; ++i, ++j)
        shared /= *i;
    return shared;
}

bool EndsInWav(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".wav";
}

// Why a file found in a folder is no take; "" when it is one. A file that
// cannot be read is one when its name says so, so that the job says why it
// fails instead of it vanishing from the batch.
std::string WhyNoTake(const fs::path& path)
{
    if (path.filename().string().starts_with("._"))
        return "a macOS AppleDouble file (another file's metadata)";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return EndsInWav(path) ? "" : "it could not be read: " + korva::SystemErrorWords(errno);
    std::array<char, 12> head = {};
    const ssize_t nRead = ::read(fd, head.data(), head.size());
    ::close(fd);
    if (nRead != static_cast<ssize_t>(head.size()))
        return kNotWave;
    const bool bRiff = std::memcmp(head.data(), "RIFF", 4) == 0 ||
                       std::memcmp(head.data(), "RF64", 4) == 0 ||
                       std::memcmp(head.data(), "BW64", 4) == 0;
    return bRiff && std::memcmp(head.data() + 8, "WAVE", 4) == 0 ? "" : kNotWave;
}

// The files under folder, in name order, each folder's before the next
// folder's; what cannot be walked goes to passedOver.
void Walk(const fs::path& folder, std::vector<fs::path>& files,
          std::vector<TakeList::PassedOver>& passedOver)
{
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        entries.push_back(*it);
    if (ec)
        passedOver.push_back(
            {folder, "a folder that could not be read: " + korva::SystemErrorWords(ec.value())});
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries)
    {
        if (entry.is_symlink(ec) && entry.is_directory(ec))
            passedOver.push_back({entry.path(), "a link to a folder, not followed"});
        else if (entry.is_directory(ec))
            Walk(entry.path(), files, passedOver);
        else if (entry.is_regular_file(ec))
            files.push_back(entry.path());
        else
            passedOver.push_back({entry.path(), "not a regular file"});
    }
}

// What the intact format chunk of the file at path states; nothing when it
// cannot be read or has none.
std::optional<WavFormat> IntactFormat(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info;
    std::optional<WavFormat> format;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
    {
        ChunkReader reader(fd, static_cast<uint64_t>(info.st_size), kHostIsIntel);
        format = RiffLayout::Read(reader, "fmt ").format;
    }
    ::close(fd);
    return format;
}

// The same file reached twice has one key: its device and inode where it
// can be stat'ed (info, or nullptr), its absolute path where not.
std::string Identity(const fs::path& absolute, const struct stat* info)
{
    if (info == nullptr)
        return absolute.string();
    return std::to_string(info->st_dev) + ':' + std::to_string(info->st_ino);
}

std::string Identity(const fs::path& absolute)
{
    struct stat info;
    return Identity(absolute, ::stat(absolute.c_str(), &info) == 0 ? &info : nullptr);
}
} // namespace

TakeList TakeList::Of(const std::vector<fs::path>& sources, Named named)
{
    TakeList list;
    // Each file absolute (for its place under the root), as the user would
    // name it (for the outcome's lines) and its identity.
    struct File
    {
        fs::path absolute, asNamed;
        std::string identity;
    };
    std::vector<File> files;
    std::error_code ec;
    const fs::path workingFolder = fs::current_path(ec); // asked once, not for every file
    for (std::size_t i = 0; i < sources.size(); ++i)
    {
        const fs::path absolute = Absolute(sources[i], workingFolder);
        struct stat info;
        const bool bStat = ::stat(absolute.c_str(), &info) == 0;
        const bool bFolder = bStat && S_ISDIR(info.st_mode);
        const fs::path folder = bFolder ? absolute : absolute.parent_path();
        // A batch's files mostly lie in the folder of the first one.
        if (i == 0)
            list.root = folder;
        else if (!LiesIn(folder, list.root))
            list.root = SharedFolder(list.root, folder);
        if (!bFolder)
        {
            if (named == Named::Any || EndsInWav(absolute))
                files.push_back(
                    {absolute, sources[i], Identity(absolute, bStat ? &info : nullptr)});
            else
                list.passedOver.push_back({sources[i], "not a .wav file", true});
            continue;
        }
        list.folders.push_back(absolute);
        std::vector<fs::path> found;
        Walk(absolute, found, list.passedOver);
        for (fs::path& file : found)
        {
            if (const std::string why = WhyNoTake(file); !why.empty())
                list.passedOver.push_back({sources[i] / file.lexically_relative(absolute), why});
            else
                files.push_back(
                    {file, sources[i] / file.lexically_relative(absolute), Identity(file)});
        }
    }
    std::set<std::string> taken;
    for (const File& file : files)
        if (taken.insert(file.identity).second)
            list.takes.push_back({file.asNamed, file.absolute.lexically_relative(list.root),
                                  file.absolute.parent_path()});
    return list;
}

FormatEvidence::CardTakeSource TakeList::CardTakes(const Take& take) const
{
    return [this, folder = take.folder]() -> std::span<const FormatEvidence::CardTake>
    {
        const std::lock_guard lock(m_intact->mutex);
        const auto [found, bNew] = m_intact->byFolder.try_emplace(folder);
        if (bNew)
            for (const Take& other : takes)
                if (other.folder == folder)
                    if (const auto format = IntactFormat(folder / other.source.filename()))
                        found->second.push_back({other.source.filename().string(), *format});
        return found->second;
    };
}

std::string TakeList::DestinationRefusal(const fs::path& destination) const
{
    std::error_code ec;
    std::set<fs::path> sourceFolders; // each once: most takes share one
    for (const Take& take : takes)
        sourceFolders.insert(take.folder);
    for (const fs::path& folder : sourceFolders)
        if (fs::equivalent(folder, destination, ec))
            return "the destination is a folder the files come from: " + destination.string();
    const fs::path real = fs::weakly_canonical(destination, ec);
    for (const fs::path& folder : folders)
    {
        const fs::path inside = real.lexically_relative(fs::weakly_canonical(folder, ec));
        if (!inside.empty() && *inside.begin() != "..")
            return "the destination " + destination.string() + " lies inside " + folder.string() +
                   ", a folder given, whose walk would take the copies for takes: choose a "
                   "folder outside it";
    }
    return "";
}
