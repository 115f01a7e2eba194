#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TSK_FS_INFO; // The Sleuth Kit's file system

// A memory card's FAT12/16/32 or exFAT file system, as The Sleuth Kit reads it
// from an image or a device opened read-only: the geometry of its data area,
// which clusters are allocated now, and every directory entry, live and
// deleted. Out come plain values; the library's handles stay inside.
class CardImage
{
public:
    struct Entry
    {
        std::string path;           // on the card, "2024-06-11/SC12_T03.WAV"
        uint64_t nFirstCluster = 0; // 0: the entry names no cluster
        uint64_t nSize = 0;         // the size the entry records
        bool bDeleted = false;
        std::time_t modified = 0;
        std::time_t accessed = 0;
        // The clusters the file system gives a live file of that size, in order
        // (its FAT chain, or exFAT's run); empty for a deleted entry.
        std::vector<uint64_t> chain;
    };

    // Opens source (an image file or a block device) for reading only: the
    // first FAT or exFAT file system of its partition table, or the bare file
    // system. Where there is none, its raw bytes: sectors as clusters, all
    // free, and no entries. Nothing, and why in plain words, when it cannot
    // be read as an image.
    static std::unique_ptr<CardImage> Open(const std::filesystem::path& source, std::string& why);
    ~CardImage();
    CardImage(const CardImage&) = delete;
    CardImage& operator=(const CardImage&) = delete;

    // "FAT32", "exFAT", ...; or what was found instead and that the raw bytes were read.
    const std::string& FileSystemName() const { return m_fsName; }
    uint32_t ClusterSize() const { return m_nClusterSize; }
    // Clusters are numbered from 2 to LastCluster().
    uint64_t LastCluster() const { return m_nLastCluster; }
    // Where a cluster's bytes begin in the source.
    uint64_t OffsetOf(uint64_t nCluster) const
    {
        return m_nDataOffset + (nCluster - 2) * m_nClusterSize;
    }
    bool IsAllocated(uint64_t nCluster) const
    {
        return !m_allocated.empty() && m_allocated[nCluster - 2];
    }
    const std::vector<Entry>& Entries() const { return m_entries; }

private:
    struct Handles;
    CardImage();
    bool Read(const std::filesystem::path& source, std::string& why);
    bool ReadBitmap(TSK_FS_INFO* fs);

    std::unique_ptr<Handles> m_handles;
    std::string m_fsName;
    uint32_t m_nClusterSize = 0;
    uint64_t m_nDataOffset = 0;
    uint64_t m_nLastCluster = 0;
    std::vector<bool> m_allocated; // one bit a cluster, from cluster 2; none in raw bytes
    std::vector<Entry> m_entries;
};
