// Linux: copy_file_range, which copies inside the kernel and, on file systems
// that can, shares the blocks instead. Only between equal offsets: a copy that
// shifts the bytes is not block-aligned, and ext4 then falls back to a copy
// through the page cache that is slower than reading and writing.
#include "FileCopy.h"

#include "RiffIO.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace file_copy
{
riff::Moved Copy(int in, uint64_t nFrom, int out, uint64_t nTo, uint64_t nLength, uint8_t* pBuffer,
                 std::size_t nBufferSize)
{
    if (nFrom != nTo)
        return riff::MoveBytes(in, nFrom, out, nTo, nLength, pBuffer, nBufferSize);
    auto nIn = static_cast<off_t>(nFrom), nOut = static_cast<off_t>(nTo);
    for (uint64_t nDone = 0; nDone < nLength;)
    {
        const auto nChunk = static_cast<std::size_t>(std::min<uint64_t>(nLength - nDone, 1u << 30));
        const ssize_t n = copy_file_range(in, &nIn, out, &nOut, nChunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        // The kernel declines (another file system, an old kernel), fails, or
        // finds the source ending before the bytes it was to hold: the rest
        // goes through the buffer, which either copies it or tells which side
        // failed. copy_file_range's own error cannot: EIO may be either.
        if (n <= 0)
            return riff::MoveBytes(in, nFrom + nDone, out, nTo + nDone, nLength - nDone, pBuffer,
                                   nBufferSize);
        nDone += static_cast<uint64_t>(n);
    }
    return riff::Moved::All;
}

const char* Method()
{
    return "copy_file_range";
}
} // namespace file_copy
