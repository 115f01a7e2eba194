// The copy on systems without a faster means, and wherever the faster one
// declines: the library's block mover, pread and pwrite through the buffer.
#include "FileCopy.h"

#include "RiffIO.h"

namespace file_copy
{
riff::Moved Copy(int in, uint64_t nFrom, const TemporaryCopy& out, uint64_t nTo, uint64_t nLength,
                 uint8_t* pBuffer, std::size_t nBufferSize)
{
    return riff::MoveBytes(in, nFrom, out.fd(), nTo, nLength, pBuffer, nBufferSize);
}

uint64_t SharedBlockSize(const std::filesystem::path&)
{
    return 0;
}

const char* Method()
{
    return "read/write";
}
} // namespace file_copy
