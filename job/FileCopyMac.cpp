// macOS: fcopyfile clones a whole file where the volume can (APFS) and copies
// its data inside the kernel where it cannot; anything less than a whole file
// goes through the buffer. The clone brings the source's permissions, times
// and extended attributes along, as cp does; the copy's own permissions are
// put back, and the job sets the times afterwards as it does for every copy.
#include "FileCopy.h"

#include "RiffIO.h"

#include <copyfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace file_copy
{
riff::Moved Copy(int in, uint64_t nFrom, const TemporaryCopy& out, uint64_t nTo, uint64_t nLength,
                 uint8_t* pBuffer, std::size_t nBufferSize)
{
    struct stat info;
    // fcopyfile works from the descriptors' offsets: both start at 0.
    if (nFrom == 0 && nTo == 0 && fstat(in, &info) == 0 &&
        static_cast<uint64_t>(info.st_size) == nLength && lseek(in, 0, SEEK_SET) == 0 &&
        lseek(out.fd(), 0, SEEK_SET) == 0 &&
        (fcopyfile(in, out.fd(), nullptr, COPYFILE_CLONE) == 0 ||
         fcopyfile(in, out.fd(), nullptr, COPYFILE_DATA) == 0))
        return fchmod(out.fd(), out.mode()) == 0 ? riff::Moved::All : riff::Moved::WriteFailed;
    return riff::MoveBytes(in, nFrom, out.fd(), nTo, nLength, pBuffer, nBufferSize);
}

// A clone of part of a file is Linux's; here only whole files are cloned.
uint64_t SharedBlockSize(const std::filesystem::path&)
{
    return 0;
}

const char* Method()
{
    return "fcopyfile";
}
} // namespace file_copy
