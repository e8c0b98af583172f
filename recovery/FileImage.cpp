// Reading a file whole for the scans.
#include "FileImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Closes a descriptor however the reading ends.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

FileImage::FileImage(const std::string& path)
{
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        m_error = std::strerror(errno);
        return;
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        m_error = std::strerror(errno);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        m_error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        return;
    }
    const auto length = static_cast<std::uint64_t>(info.st_size);
    if (length > kLargestScannableFile) {
        m_error = "the file is 4 GiB or larger, more than a scan can hold in memory";
        return;
    }
    auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(length + 1);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::read(file.fd, bytes.get() + done, length - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            m_error = std::strerror(errno);
            return;
        }
        if (got == 0) break;  // the file shrank while it was read: scan what there is
        done += static_cast<std::size_t>(got);
    }
    bytes[done] = 0;
    m_bytes = std::move(bytes);
    m_size = done;
}

FileImage FileImage::FromBytes(const std::uint8_t* data, std::size_t size)
{
    FileImage image;
    image.m_bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size + 1);
    if (size > 0) std::memcpy(image.m_bytes.get(), data, size);
    image.m_bytes[size] = 0;
    image.m_size = size;
    return image;
}
