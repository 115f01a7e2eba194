#pragma once

#include "RiffIO.h"
#include "TemporaryCopy.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

// Copying bytes from one open file to another by the fastest means the system
// has, behind one small interface. Each system has its own implementation
// (FileCopyLinux.cpp, FileCopyMac.cpp) and every one falls back to the
// portable one: reads and writes through the caller's buffer.
namespace file_copy
{
// Copies the nLength bytes at nFrom of in to nTo of the copy out. Where the two
// offsets stand at the same place in a block of out's file system, the system may copy
// inside the kernel or share the blocks: the bytes up to out's next block
// boundary go through the buffer, the rest from one boundary to the other. A
// copy to any other offset, or one the system cannot do, goes through the
// buffer. A failure says which side failed, with errno set.
riff::Moved Copy(int in, uint64_t nFrom, const TemporaryCopy& out, uint64_t nTo, uint64_t nLength,
                 uint8_t* pBuffer, std::size_t nBufferSize);

// The block size by which files in folder can share blocks, found by cloning a
// block from one temporary file there into another; 0 where they cannot (ext4,
// tmpfs, a system without a clone of part of a file). A repair that shifts the
// audio by a whole number of these blocks lets Copy share them.
uint64_t SharedBlockSize(const std::filesystem::path& folder);

// The means this build copies by: "copy_file_range", "fcopyfile" or "read/write".
const char* Method();
} // namespace file_copy
