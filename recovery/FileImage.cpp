// Reading a file whole for the scans.
#include "FileImage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

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
    if (Map(file.fd, static_cast<std::size_t>(length))) return;
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
    m_data = m_bytes.get();
    m_size = done;
}

bool FileImage::Map(int fd, std::size_t length)
{
    // Anonymous zero pages one byte longer than the file, with the file mapped over their
    // start: the byte after the file is always a readable zero, whether it falls in the file's
    // last page (beyond its end, which reads as zero) or in the anonymous page after it.
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t total = (length + 1 + page - 1) / page * page;
    void* base = ::mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return false;
    if (length > 0 &&
        ::mmap(base, length, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) == MAP_FAILED) {
        ::munmap(base, total);
        return false;
    }
    m_mapping = base;
    m_mappedLength = total;
    m_data = static_cast<const std::uint8_t*>(base);
    m_size = length;
    return true;
}

FileImage::~FileImage()
{
    if (m_mapping != nullptr) ::munmap(m_mapping, m_mappedLength);
}

FileImage::FileImage(FileImage&& other) noexcept
    : m_bytes(std::move(other.m_bytes)),
      m_mapping(std::exchange(other.m_mapping, nullptr)),
      m_mappedLength(other.m_mappedLength),
      m_data(std::exchange(other.m_data, nullptr)),
      m_size(other.m_size),
      m_error(std::move(other.m_error))
{
}

FileImage FileImage::FromBytes(const std::uint8_t* data, std::size_t size)
{
    FileImage image;
    image.m_bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size + 1);
    if (size > 0) std::memcpy(image.m_bytes.get(), data, size);
    image.m_bytes[size] = 0;
    image.m_data = image.m_bytes.get();
    image.m_size = size;
    return image;
}
