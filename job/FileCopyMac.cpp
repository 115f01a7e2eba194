// macOS: fcopyfile copies a whole file's data inside the kernel (and clones it
// on APFS); anything less than a whole file goes through the buffer.
#include "FileCopy.h"

#include "RiffIO.h"

#include <copyfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace file_copy
{
riff::Moved Copy(int in, uint64_t nFrom, int out, uint64_t nTo, uint64_t nLength, uint8_t* pBuffer,
                 std::size_t nBufferSize)
{
    struct stat info;
    // fcopyfile works from the descriptors' offsets: both start at 0.
    if (nFrom == 0 && nTo == 0 && fstat(in, &info) == 0 &&
        static_cast<uint64_t>(info.st_size) == nLength && lseek(in, 0, SEEK_SET) == 0 &&
        lseek(out, 0, SEEK_SET) == 0 && fcopyfile(in, out, nullptr, COPYFILE_DATA) == 0)
        return riff::Moved::All;
    return riff::MoveBytes(in, nFrom, out, nTo, nLength, pBuffer, nBufferSize);
}

const char* Method()
{
    return "fcopyfile";
}
} // namespace file_copy
