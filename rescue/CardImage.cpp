#include "CardImage.h"

#include "TskLibrary.h"

// FATFS_INFO: the geometry of FAT and exFAT file systems, the library's own.
#include <tsk/fs/tsk_fatfs.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace
{
// The library's functions: CardImage::Open loads them before anything here runs.
const TskLibrary& Tsk()
{
    return TskLibrary::Loaded();
}

// Where no FAT or exFAT file system is found, the raw bytes' clusters are sectors.
constexpr uint32_t kRawSectorSize = 512;
// The allocation bitmap is read in pieces of this many bytes (8 M clusters each).
constexpr std::size_t kBitmapPiece = 1 << 20;

struct ImageClose
{
    void operator()(TSK_IMG_INFO* p) const { Tsk().img_close(p); }
};
struct VolumesClose
{
    void operator()(TSK_VS_INFO* p) const { Tsk().vs_close(p); }
};
struct FileSystemClose
{
    void operator()(TSK_FS_INFO* p) const { Tsk().fs_close(p); }
};

std::string LibraryError()
{
    const char* pszError = Tsk().error_get();
    std::string words = pszError != nullptr ? pszError : "";
    Tsk().error_reset();
    while (!words.empty() && (words.back() == '\n' || words.back() == ' '))
        words.pop_back();
    return words;
}

// What the directory walk collects.
struct Walk
{
    const FATFS_INFO* pFat;
    std::vector<CardImage::Entry>* pEntries;
};

TSK_WALK_RET_ENUM OnEntry(TSK_FS_FILE* pFile, const char* pszPath, void* pWalk)
{
    const Walk& walk = *static_cast<Walk*>(pWalk);
    const TSK_FS_NAME* pName = pFile->name;
    const TSK_FS_META* pMeta = pFile->meta;
    if (pName == nullptr || pMeta == nullptr || pMeta->type != TSK_FS_META_TYPE_REG ||
        pName->type == TSK_FS_NAME_TYPE_VIRT)
        return TSK_WALK_CONT;
    CardImage::Entry entry;
    entry.path = std::string(pszPath) + pName->name;
    entry.nSize = static_cast<uint64_t>(pMeta->size);
    entry.bDeleted = (pName->flags & TSK_FS_NAME_FLAG_UNALLOC) != 0;
    entry.modified = pMeta->mtime;
    entry.accessed = pMeta->atime;
    // The library keeps a FAT or exFAT entry's first cluster as its content.
    if (pMeta->content_ptr != nullptr && pMeta->content_len >= sizeof(TSK_DADDR_T))
        std::memcpy(&entry.nFirstCluster, pMeta->content_ptr, sizeof(TSK_DADDR_T));
    if (!entry.bDeleted && entry.nSize > 0)
    {
        const TSK_FS_ATTR* pAttr = Tsk().fs_file_attr_get(pFile);
        if (pAttr != nullptr && (pAttr->flags & TSK_FS_ATTR_NONRES) != 0)
            for (const TSK_FS_ATTR_RUN* pRun = pAttr->nrd.run; pRun != nullptr; pRun = pRun->next)
            {
                if ((pRun->flags & (TSK_FS_ATTR_RUN_FLAG_FILLER | TSK_FS_ATTR_RUN_FLAG_SPARSE)) !=
                    0)
                    continue;
                const FATFS_INFO* fatfs = walk.pFat;
                for (TSK_DADDR_T nSector = pRun->addr; nSector < pRun->addr + pRun->len;
                     nSector += fatfs->csize)
                    entry.chain.push_back(FATFS_SECT_2_CLUST(fatfs, nSector));
            }
        Tsk().error_reset();
    }
    walk.pEntries->push_back(std::move(entry));
    return TSK_WALK_CONT;
}
} // namespace

// The card as the library reads it with a file system's main boot region
// given from its backup: reads of the first sectors of the volume at
// nVolume return the sectors from nBackup on instead. Its image is read
// through, never written.
struct BackupImage
{
    TSK_IMG_INFO info; // first, as the library's external images begin
    TSK_IMG_INFO* card = nullptr;
    uint64_t nVolume = 0;
    uint64_t nBackup = 0;  // the backup's first sector in the volume
    uint64_t nSectors = 0; // the sectors it stands in for

    static ssize_t Read(TSK_IMG_INFO* pInfo, TSK_OFF_T nOffset, char* pOut, size_t nBytes)
    {
        const auto& self = *reinterpret_cast<BackupImage*>(pInfo);
        const ssize_t nRead = Tsk().img_read(self.card, nOffset, pOut, nBytes);
        const auto nFrom = static_cast<uint64_t>(nOffset);
        const uint64_t nMainEnd = self.nVolume + self.nSectors * kRawSectorSize;
        if (nRead <= 0 || nFrom >= nMainEnd || nFrom + static_cast<uint64_t>(nRead) <= self.nVolume)
            return nRead;
        const uint64_t nStart = std::max(nFrom, self.nVolume);
        const uint64_t nEnd = std::min(nFrom + static_cast<uint64_t>(nRead), nMainEnd);
        const auto nShift = static_cast<TSK_OFF_T>(self.nBackup * kRawSectorSize);
        if (Tsk().img_read(self.card, static_cast<TSK_OFF_T>(nStart) + nShift,
                           pOut + (nStart - nFrom),
                           nEnd - nStart) != static_cast<ssize_t>(nEnd - nStart))
            return -1;
        return nRead;
    }
    static void Close(TSK_IMG_INFO*) {} // the handles own it
    static void Stat(TSK_IMG_INFO*, FILE*) {}
};

struct CardImage::Handles
{
    std::unique_ptr<TSK_IMG_INFO, ImageClose> image;
    std::unique_ptr<BackupImage> backupMemory;
    std::unique_ptr<TSK_IMG_INFO, ImageClose> backup; // image with a backup boot region, if used
    std::unique_ptr<TSK_VS_INFO, VolumesClose> volumes;
    std::unique_ptr<TSK_FS_INFO, FileSystemClose> fileSystem;

    // Opens fileSystem as the FAT or exFAT file system at nOffset, through
    // the backup boot sector where the main one is damaged (bBackup then says
    // so); leaves it empty when there is none.
    void OpenAt(uint64_t nOffset, bool& bBackup);
};

void CardImage::Handles::OpenAt(uint64_t nOffset, bool& bBackup)
{
    const auto isFat = [](const TSK_FS_INFO* p)
    { return TSK_FS_TYPE_ISFAT(p->ftype); }; // exFAT is one
    fileSystem.reset(
        Tsk().fs_open_img(image.get(), static_cast<TSK_OFF_T>(nOffset), TSK_FS_TYPE_DETECT));
    Tsk().error_reset();
    if (fileSystem && isFat(fileSystem.get()))
    {
        // The library reads FAT32's backup boot sector itself where the main
        // one is zeroed; the main one's signature tells.
        uint8_t signature[2] = {};
        bBackup = Tsk().img_read(image.get(), static_cast<TSK_OFF_T>(nOffset + 510),
                                 reinterpret_cast<char*>(signature), 2) == 2 &&
                  (signature[0] != 0x55 || signature[1] != 0xAA);
        return;
    }
    fileSystem.reset();
    // Otherwise it is given the backup in the main one's place: FAT32's boot
    // sector at sector 6, exFAT's boot region of 12 sectors at sector 12.
    for (const auto& [nBackup, nSectors] : {std::pair<uint64_t, uint64_t>{6, 1}, {12, 12}})
    {
        backup.reset();
        backupMemory = std::make_unique<BackupImage>();
        backupMemory->card = image.get();
        backupMemory->nVolume = nOffset, backupMemory->nBackup = nBackup;
        backupMemory->nSectors = nSectors;
        backupMemory->info.tag = TSK_IMG_INFO_TAG;
        backup.reset(Tsk().img_open_external(backupMemory.get(), image->size, kRawSectorSize,
                                             BackupImage::Read, BackupImage::Close,
                                             BackupImage::Stat));
        if (backup)
            fileSystem.reset(Tsk().fs_open_img(backup.get(), static_cast<TSK_OFF_T>(nOffset),
                                               TSK_FS_TYPE_DETECT));
        Tsk().error_reset();
        if (fileSystem && isFat(fileSystem.get()))
        {
            bBackup = true;
            return;
        }
        fileSystem.reset();
    }
    backup.reset(), backupMemory.reset();
}

CardImage::CardImage() : m_handles(std::make_unique<Handles>()) {}
CardImage::~CardImage() = default;

std::unique_ptr<CardImage> CardImage::Open(const std::filesystem::path& source, std::string& why)
{
    if (!TskLibrary::Load(why))
        return nullptr;
    std::unique_ptr<CardImage> card(new CardImage());
    if (!card->Read(source, why))
        return nullptr;
    return card;
}

// exFAT keeps a bit a cluster, from cluster 2 on, in its allocation bitmap:
// read in large pieces, not asked for cluster by cluster (a library call and
// often a read each, millions on a large card).
bool CardImage::ReadBitmap(TSK_FS_INFO* fs)
{
    const auto* fatfs = reinterpret_cast<const FATFS_INFO*>(fs);
    const uint64_t nBits = m_allocated.size();
    const uint64_t nBytes =
        std::min<uint64_t>(fatfs->EXFATFS_INFO.length_of_alloc_bitmap_in_bytes, (nBits + 7) / 8);
    const auto nFrom =
        static_cast<TSK_OFF_T>(fatfs->EXFATFS_INFO.first_sector_of_alloc_bitmap * fatfs->ssize);
    std::vector<char> piece(kBitmapPiece);
    for (uint64_t nAt = 0; nAt < nBytes; nAt += piece.size())
    {
        const auto n = static_cast<std::size_t>(std::min<uint64_t>(piece.size(), nBytes - nAt));
        if (Tsk().fs_read(fs, nFrom + static_cast<TSK_OFF_T>(nAt), piece.data(), n) !=
            static_cast<ssize_t>(n))
        {
            Tsk().error_reset();
            return false;
        }
        for (uint64_t nBit = nAt * 8; nBit < std::min(nBits, (nAt + n) * 8); ++nBit)
            m_allocated[nBit] = (piece[nBit / 8 - nAt] >> (nBit % 8) & 1) != 0;
    }
    return true;
}

bool CardImage::Read(const std::filesystem::path& source, std::string& why)
{
    Handles& h = *m_handles;
    // The library opens images and devices for reading only.
    h.image.reset(Tsk().img_open_sing(source.c_str(), TSK_IMG_TYPE_DETECT, 0));
    if (!h.image)
    {
        why = "it cannot be opened as a card image (" + LibraryError() + ")";
        return false;
    }
    // The first FAT or exFAT file system of a partition table, else the bare one.
    bool bBackup = false;
    h.volumes.reset(Tsk().vs_open(h.image.get(), 0, TSK_VS_TYPE_DETECT));
    Tsk().error_reset();
    if (h.volumes)
        for (TSK_PNUM_T n = 0; n < h.volumes->part_count && !h.fileSystem; ++n)
        {
            const TSK_VS_PART_INFO* pPart = Tsk().vs_part_get(h.volumes.get(), n);
            if (pPart != nullptr && (pPart->flags & TSK_VS_PART_FLAG_ALLOC) != 0)
                h.OpenAt(pPart->start * h.volumes->block_size, bBackup);
        }
    if (!h.fileSystem)
        h.OpenAt(0, bBackup);
    if (!h.fileSystem)
        h.fileSystem.reset(Tsk().fs_open_img(h.image.get(), 0, TSK_FS_TYPE_DETECT));
    Tsk().error_reset();
    TSK_FS_INFO* fs = h.fileSystem.get();
    const auto nImageSize = static_cast<uint64_t>(h.image->size);
    if (fs == nullptr || !TSK_FS_TYPE_ISFAT(fs->ftype))
    {
        // A card's image holds whole sectors; anything else is some other file.
        if (nImageSize % kRawSectorSize != 0)
        {
            why = "it is no card image: no FAT or exFAT file system is in it, and its size (" +
                  std::to_string(nImageSize) + (nImageSize == 1 ? " byte" : " bytes") +
                  ") is no whole number of 512-byte sectors, as a card's is";
            return false;
        }
        // Takes are then looked for at every sector, in the raw bytes.
        m_fsName = (fs == nullptr ? std::string("no FAT or exFAT file system")
                                  : std::string("a ") + Tsk().fs_type_toname(fs->ftype) +
                                        " file system, not FAT or exFAT") +
                   ", so its raw bytes were scanned";
        m_nClusterSize = kRawSectorSize;
        m_nLastCluster = static_cast<uint64_t>(h.image->size) / kRawSectorSize + 1;
        return true;
    }
    auto* fatfs = reinterpret_cast<FATFS_INFO*>(fs);
    m_fsName = fs->ftype == TSK_FS_TYPE_EXFAT   ? "exFAT"
               : fs->ftype == TSK_FS_TYPE_FAT12 ? "FAT12"
               : fs->ftype == TSK_FS_TYPE_FAT16 ? "FAT16"
                                                : "FAT32";
    if (bBackup)
        m_fsName += " (its main boot sector is damaged: the backup boot sector was used)";
    m_nClusterSize = fatfs->csize * fatfs->ssize;
    m_nDataOffset = static_cast<uint64_t>(fs->offset) + fatfs->firstclustsect * fatfs->ssize;
    m_nLastCluster = fatfs->lastclust;
    if (const uint64_t nEnd = OffsetOf(m_nLastCluster + 1); nEnd > nImageSize)
    {
        why = "the image ends at byte " + std::to_string(nImageSize) +
              ", before the end of its file system at byte " + std::to_string(nEnd) +
              " (it was cut short): image the card again, whole";
        return false;
    }
    m_allocated.resize(m_nLastCluster - 1);
    if (fs->ftype != TSK_FS_TYPE_EXFAT || !ReadBitmap(fs))
        for (uint64_t nCluster = 2; nCluster <= m_nLastCluster; ++nCluster)
            m_allocated[nCluster - 2] = fatfs->is_cluster_alloc(fatfs, nCluster) == 1;

    // The folders' entries, live and deleted. Not the library's orphan files
    // (entries whose folder is gone): it finds them by reading every sector
    // of the card in small pieces and keeps a list that grows with the card
    // (a sparse 1 TiB card: over ten minutes and 180 MiB). The headers of
    // such takes are found in the free clusters all the same.
    Walk walk{fatfs, &m_entries};
    if (Tsk().fs_dir_walk(fs, fs->root_inum,
                          static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(
                              TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC |
                              TSK_FS_DIR_WALK_FLAG_RECURSE | TSK_FS_DIR_WALK_FLAG_NOORPHAN),
                          OnEntry, &walk) != 0)
    {
        why = "its folders cannot be read (" + LibraryError() + ")";
        return false;
    }
    return true;
}
