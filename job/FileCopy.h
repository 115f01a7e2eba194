#pragma once

#include "RiffIO.h"

#include <cstddef>
#include <cstdint>

// Copying bytes from one open file to another by the fastest means the system
// has, behind one small interface. Each system has its own implementation
// (FileCopyLinux.cpp, FileCopyMac.cpp) and every one falls back to the
// portable one: reads and writes through the caller's buffer.
namespace file_copy
{
// Copies the nLength bytes at nFrom of in to nTo of out. Where the two offsets
// are the same, the system may copy inside the kernel or share the blocks; a
// copy to another offset, or one the system cannot do, goes through the
// buffer. A failure says which side failed, with errno set.
riff::Moved Copy(int in, uint64_t nFrom, int out, uint64_t nTo, uint64_t nLength, uint8_t* pBuffer,
                 std::size_t nBufferSize);

// The means this build copies by: "copy_file_range", "fcopyfile" or "read/write".
const char* Method();
} // namespace file_copy
