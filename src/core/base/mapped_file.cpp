#include "core/base/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

TMappedFile::TMappedFile(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info { };
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const auto size = static_cast<size_t>(info.st_size);
        // Populated at once: the file was just written, its pages are in the
        // cache, and one call maps them all instead of a fault per page.
        void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (data != MAP_FAILED) {
            m_data = static_cast<const uint8_t*>(data);
            m_size = size;
        }
    }
    ::close(fd);
}

TMappedFile::~TMappedFile()
{
    if (m_data)
        ::munmap(const_cast<uint8_t*>(m_data), m_size);
}

} // namespace sw
