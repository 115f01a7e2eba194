#include "RescueJob.h"

#include "ChunkReader.h"
#include "FileCopy.h"
#include "KorvaWav.h"
#include "RepairPlan.h"
#include "RiffIO.h"
#include "RiffLayout.h"
#include "TemporaryCopy.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korva::FileOutcome;
using korva::SystemErrorWords;
using Kind = FileOutcome::Kind;
using Take = TakeFinder::Take;

namespace
{
// The whole disk a device number belongs to, as the kernel's folder of it; "" when none.
std::string WholeDisk(dev_t device)
{
    std::error_code ec;
    const fs::path block = fs::path("/sys/dev/block") /
                           (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
    fs::path folder = fs::canonical(block, ec);
    if (ec)
        return "";
    if (fs::exists(folder / "partition", ec))
        folder = folder.parent_path();
    return folder.string();
}

// The disks the kernel reads an image file through: its loop devices.
std::vector<std::string> LoopDisksOf(const fs::path& image)
{
    std::vector<std::string> disks;
    std::error_code ec;
    const fs::path imagePath = fs::canonical(image, ec);
    for (const auto& entry : fs::directory_iterator("/sys/block", ec))
    {
        std::ifstream backing(entry.path() / "loop" / "backing_file");
        std::string line;
        if (std::getline(backing, line) && !ec && fs::path(line) == imagePath)
            disks.push_back(fs::canonical(entry.path(), ec).string());
    }
    return disks;
}

// The folder itself, or the nearest one above it that exists.
fs::path ExistingFolder(fs::path folder)
{
    std::error_code ec;
    folder = fs::absolute(folder, ec);
    while (!fs::exists(folder, ec) && folder.has_parent_path() && folder != folder.parent_path())
        folder = folder.parent_path();
    return folder;
}

std::string Seconds(double dSeconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", dSeconds);
    return text;
}

// "clusters 10-25, 40, 42-43".
std::string Clusters(const std::vector<uint64_t>& clusters)
{
    std::string words;
    for (std::size_t i = 0; i < clusters.size();)
    {
        std::size_t j = i;
        while (j + 1 < clusters.size() && clusters[j + 1] == clusters[j] + 1)
            ++j;
        words += (words.empty() ? "" : ", ") + std::to_string(clusters[i]) +
                 (j > i ? "-" + std::to_string(clusters[j]) : "");
        i = j + 1;
    }
    return (clusters.size() == 1 ? "cluster " : "clusters ") + words;
}

// What a take holds and where it came from, in a line.
std::string Describe(const Take& take)
{
    const uint64_t nFrames = (take.nLength - take.nAudioOffset) / take.format.BlockAlign();
    std::string words = korva::DescribeFormat(take.format) + ", " +
                        Seconds(static_cast<double>(nFrames) / take.format.nSampleRate) + ", " +
                        std::to_string(nFrames) + " frames, " + Clusters(take.clusters);
    if (!take.bIntact)
        words += ", ended: " + take.ending;
    if (!take.formatFrom.empty())
        words += ", " + take.formatFrom;
    if (take.nContested > 0)
    {
        char margin[64];
        std::snprintf(margin, sizeof margin, "%.1f", take.dWeakestMargin);
        words += ", " + std::to_string(take.nContested) +
                 " clusters given to it over another take recorded at once (the closest call "
                 "fit it " +
                 margin + " times better)";
    }
    return words;
}
} // namespace

RescueJob::RescueJob(fs::path source, fs::path destination, bool bAll)
    : m_source(std::move(source)), m_destination(std::move(destination)), m_bAll(bAll),
      m_pBuffer(new (std::nothrow) uint8_t[riff::kBlockSize])
{
}

RescueJob::~RescueJob()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string RescueJob::WhyNotInto(const fs::path& source, const fs::path& destination)
{
    struct stat card, folder;
    if (stat(source.c_str(), &card) != 0 || stat(ExistingFolder(destination).c_str(), &folder) != 0)
        return "";
    const std::string destinationDisk = WholeDisk(folder.st_dev);
    std::vector<std::string> cardDisks;
    if (S_ISBLK(card.st_mode))
        cardDisks.push_back(WholeDisk(card.st_rdev));
    else
        cardDisks = LoopDisksOf(source);
    for (const std::string& disk : cardDisks)
        if (!disk.empty() && disk == destinationDisk)
            return "the destination " + destination.string() + " lies on the card " +
                   source.string() +
                   " itself, where every file written can overwrite a lost take: choose a "
                   "folder on another disk";
    return "";
}

const std::string& RescueJob::FileSystemName() const
{
    static const std::string kNone;
    return m_card ? m_card->FileSystemName() : kNone;
}

bool RescueJob::Find(std::string& why)
{
    m_fd = ::open(m_source.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (m_fd < 0 || fstat(m_fd, &info) != 0)
    {
        const int nError = errno;
        why = "it cannot be read: " + SystemErrorWords(nError) +
              (nError == EACCES || nError == EPERM
                   ? " (run korva-cli with the rights to read the card, or image the card first)"
                   : "");
        return false;
    }
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
    {
        why = "it is neither a card image nor a block device";
        return false;
    }
    if (S_ISREG(info.st_mode) && info.st_size == 0)
    {
        why = "it is empty";
        return false;
    }
    if (!m_pBuffer)
    {
        why = "there is not enough memory to read it";
        return false;
    }
    m_card = CardImage::Open(m_source, why);
    if (!m_card)
        return false;
    TakeFinder finder(*m_card, m_fd, m_progress, RepairJob::kProgressStep);
    if (!finder.Find(m_takes))
    {
        why = "it could not be read: " + SystemErrorWords(errno);
        return false;
    }
    return true;
}

fs::path RescueJob::TargetOf(const Take& take) const
{
    const fs::path onCard = fs::path(take.path).relative_path();
    bool bSafe = !onCard.empty() && !take.bRecoveredChain;
    for (const fs::path& part : onCard)
        bSafe = bSafe && part != "." && part != ".." && !part.empty();
    if (bSafe)
        return m_destination / onCard;
    char name[48];
    std::snprintf(name, sizeof name, "cluster-%06llu.wav",
                  static_cast<unsigned long long>(take.nHeaderCluster));
    return m_destination / "recovered" / name;
}

FileOutcome RescueJob::Fail(FileOutcome outcome, const std::string& detail, bool bStopsBatch)
{
    outcome.kind = Kind::Failed;
    outcome.detail = detail;
    m_bStopsBatch = bStopsBatch;
    return outcome;
}

// The take's bytes, cluster by cluster, into the copy; a lost take's sizes then
// finished from the bytes that followed its header, to whole frames.
bool RescueJob::Write(const Take& take, const TemporaryCopy& copy, std::string& problem)
{
    const int fd = copy.fd();
    // A run of consecutive clusters is copied at once.
    const uint32_t nClusterSize = m_card->ClusterSize();
    // A take whose header was overwritten gets one of its own in front of
    // its audio, with sizes to be finished as a recorder's.
    uint64_t nSkip = 0, nOut = 0;
    if (take.bHeaderless)
    {
        std::vector<uint8_t> header = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
        const std::vector<uint8_t> fmt = RepairPlan::FormatChunk(take.format, 16, true);
        header.insert(header.end(), fmt.begin(), fmt.end());
        header.insert(header.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0});
        if (!riff::WriteAt(fd, 0, header.data(), header.size()))
            return false;
        nSkip = take.nAudioOffset, nOut = header.size();
    }
    uint64_t nAt = 0;
    for (std::size_t i = 0; i < take.clusters.size();)
    {
        std::size_t nRun = 1;
        while (i + nRun < take.clusters.size() &&
               take.clusters[i + nRun] == take.clusters[i] + nRun)
            ++nRun;
        const uint64_t nBytes = std::min<uint64_t>(nRun * nClusterSize, take.nLength - nAt);
        const uint64_t nFrom = std::min(nBytes, nSkip > nAt ? nSkip - nAt : 0);
        const riff::Moved moved =
            file_copy::Copy(m_fd, m_card->OffsetOf(take.clusters[i]) + nFrom, copy, nOut,
                            nBytes - nFrom, m_pBuffer.get(), riff::kBlockSize);
        if (moved == riff::Moved::ReadFailed)
        {
            problem = "clusters from " + std::to_string(take.clusters[i]) +
                      " of the card could not be read: " + SystemErrorWords(errno);
            return true;
        }
        if (moved != riff::Moved::All)
            return false;
        nAt += nBytes, nOut += nBytes - nFrom, i += nRun;
    }
    if (take.bIntact)
        return true;
    // The header's sizes prove nothing: they are marked unfinished, and the
    // plan finishes them as a recorder would have.
    ChunkReader reader(fd, nOut, true);
    RiffLayout layout = RiffLayout::Read(reader, "data");
    const RiffLayout::Entry* data = layout.Find("data");
    const uint8_t zeros[24] = {};
    if (data == nullptr || !riff::WriteAt(fd, 4, zeros, 4) ||
        !riff::WriteAt(fd, data->nOffset + 4, zeros, 4) ||
        (layout.bHasDs64 && !riff::WriteAt(fd, 20, zeros, sizeof zeros)))
        return false;
    ChunkReader marked(fd, nOut, true);
    layout = RiffLayout::Read(marked);
    const RepairPlan plan = RepairPlan::Make(layout, take.format, true);
    if (plan.verdict != RepairPlan::Verdict::SizesUnfinished)
    {
        problem = "its header is no recorder's that the sizes can be finished in";
        return true;
    }
    if (!KorvaWavFile::ShapeInPlace(fd, nOut, plan) || !KorvaWavFile::WriteRepair(fd, plan))
        return false;
    ChunkReader check(fd, plan.nLength, true);
    problem = RepairPlan::Check(RiffLayout::Read(check));
    if (check.Failed())
        return errno = check.Error(), false;
    if (!problem.empty())
        problem = "the rescued take did not check out (" + problem + "), so it was not kept";
    return true;
}

FileOutcome RescueJob::Run(const Take& take)
{
    m_bStopsBatch = false;
    FileOutcome outcome;
    outcome.sourcePath = m_source.string() + ":" + take.path;
    const fs::path target = TargetOf(take);
    outcome.destinationPath = target.string();
    if (!take.problem.empty())
    {
        outcome.kind = Kind::Listed;
        outcome.detail = take.problem + ": not written";
        return outcome;
    }
    outcome.detail = Describe(take);
    outcome.seconds = korva::SecondsOf(take.nLength - take.nAudioOffset, take.format);
    if (take.bIntact && !m_bAll)
    {
        outcome.kind = Kind::Intact;
        outcome.destinationPath.clear();
        return outcome;
    }
    std::error_code ec;
    struct stat there;
    if (lstat(target.c_str(), &there) == 0)
        return Fail(outcome, "a file of that name is already in the destination: it was kept",
                    false);
    fs::create_directories(target.parent_path(), ec);
    TemporaryCopy copy(target.parent_path(), 0666, ec);
    if (ec)
        return Fail(outcome,
                    "no file can be made in the destination: " + SystemErrorWords(ec.value()),
                    true);
    std::string problem;
    if (!Write(take, copy, problem))
        return Fail(outcome, "it could not be written: " + SystemErrorWords(errno), true);
    if (!problem.empty())
        return Fail(outcome, problem, false);
    const timespec times[2] = {{take.accessed, 0}, {take.modified, 0}};
    if (take.modified != 0 && futimens(copy.fd(), times) != 0)
        return Fail(outcome, "its times could not be set: " + SystemErrorWords(errno), true);
    if (!copy.Publish(target, false, ec))
        return Fail(outcome, "it could not take its name: " + SystemErrorWords(ec.value()), true);
    outcome.kind = take.bIntact ? Kind::Intact : Kind::Rescued;
    outcome.format = take.format;
    return outcome;
}
