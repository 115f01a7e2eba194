// Linux: copy_file_range, which copies inside the kernel and, on file systems
// that can (XFS, btrfs), shares the blocks instead. Only between offsets at
// the same place in a block: a copy that shifts the bytes otherwise is not
// block-aligned, and ext4 then falls back to a copy through the page cache
// that is slower than reading and writing.
#include "FileCopy.h"

#include "RiffIO.h"
#include "TemporaryCopy.h"

#include <algorithm>
#include <cerrno>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace file_copy
{
riff::Moved Copy(int in, uint64_t nFrom, const TemporaryCopy& out, uint64_t nTo, uint64_t nLength,
                 uint8_t* pBuffer, std::size_t nBufferSize)
{
    const uint64_t nBlock = out.blockSize();
    const uint64_t nShift = nTo > nFrom ? nTo - nFrom : nFrom - nTo;
    if (nBlock == 0 || nShift % nBlock != 0)
        return riff::MoveBytes(in, nFrom, out.fd(), nTo, nLength, pBuffer, nBufferSize);
    // The kernel shares only whole blocks from a boundary: the bytes in front
    // of the first one are written.
    const uint64_t nHead = std::min(nLength, (nBlock - nTo % nBlock) % nBlock);
    const riff::Moved head = riff::MoveBytes(in, nFrom, out.fd(), nTo, nHead, pBuffer, nBufferSize);
    if (head != riff::Moved::All)
        return head;
    auto nIn = static_cast<off_t>(nFrom + nHead), nOut = static_cast<off_t>(nTo + nHead);
    for (uint64_t nDone = nHead; nDone < nLength;)
    {
        const auto nChunk = static_cast<std::size_t>(std::min<uint64_t>(nLength - nDone, 1u << 30));
        const ssize_t n = copy_file_range(in, &nIn, out.fd(), &nOut, nChunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        // The kernel declines (another file system, an old kernel), fails, or
        // finds the source ending before the bytes it was to hold: the rest
        // goes through the buffer, which either copies it or tells which side
        // failed. copy_file_range's own error cannot: EIO may be either.
        if (n <= 0)
            return riff::MoveBytes(in, nFrom + nDone, out.fd(), nTo + nDone, nLength - nDone,
                                   pBuffer, nBufferSize);
        nDone += static_cast<uint64_t>(n);
    }
    return riff::Moved::All;
}

uint64_t SharedBlockSize(const std::filesystem::path& folder)
{
    std::error_code ec;
    TemporaryCopy from(folder, 0600, ec);
    if (ec)
        return 0;
    TemporaryCopy to(folder, 0600, ec);
    if (ec || to.blockSize() == 0)
        return 0;
    // The middle one of three blocks: a clone that ends at the end of its
    // source may end off a boundary, and so would pass with a size that is
    // not the file system's.
    const uint64_t nBlock = to.blockSize();
    const std::vector<uint8_t> blocks(3 * nBlock, 0x5A);
    file_clone_range range = {};
    range.src_fd = from.fd();
    range.src_offset = nBlock;
    range.src_length = nBlock;
    range.dest_offset = nBlock;
    if (!riff::WriteAt(from.fd(), 0, blocks.data(), blocks.size()) ||
        ioctl(to.fd(), FICLONERANGE, &range) != 0)
        return 0;
    return nBlock;
}

const char* Method()
{
    return "copy_file_range";
}
} // namespace file_copy
