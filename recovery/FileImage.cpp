// Reading a file whole for the scans.
#include "recovery/FileImage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "store/FileDescriptor.h"

FileImage::FileImage(const std::string& path)
{
    const FileDescriptor file = FileDescriptor::OpenForReading(path);
    if (!file.Valid()) {
        m_error = std::strerror(errno);
        return;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        m_error = std::strerror(errno);
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        m_error = std::strerror(EISDIR);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        m_error = "not a regular file";
        return;
    }
    const auto length = static_cast<std::uint64_t>(info.st_size);
    if (length > kLargestScannableFile) {
        m_error = "the file is 4 GiB or larger, more than a scan can hold in memory";
        return;
    }
    if (!Allocate(static_cast<std::size_t>(length))) {
        m_error = std::strerror(ENOMEM);
        return;
    }
    // Read, never mapped: a mapping of a file that another program cuts short would end the
    // process with a bus error on the first byte past the new end.
    if (!ReadFully(file.Get(), m_writable, static_cast<std::size_t>(length), 0, m_error)) {
        if (m_error.starts_with("it became shorter")) m_error += ", so it was not scanned";
        Release();
        return;
    }
    m_writable[length] = 0;
    m_data = m_writable;
    m_size = static_cast<std::size_t>(length);
}

bool FileImage::Allocate(std::size_t length)
{
    // Anonymous pages, one byte longer than the file for the zero that ends any varint. Large
    // images ask for huge pages: a few hundred page faults instead of tens of thousands.
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    const std::size_t total = (length + 1 + kHuge - 1) / kHuge * kHuge;
    void* base = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
    if (length >= kHuge) ::madvise(base, total, MADV_HUGEPAGE);
#endif
    m_mapping = base;
    m_mappedLength = total;
    m_writable = static_cast<std::uint8_t*>(base);
    return true;
}

void FileImage::HandBackBefore(std::size_t length)
{
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    const std::size_t whole = std::min(length, m_size) / kHuge * kHuge;
    if (m_mapping != nullptr && whole > 0) ::madvise(m_mapping, whole, MADV_DONTNEED);
}

void FileImage::Release()
{
    if (m_mapping != nullptr) ::munmap(m_mapping, m_mappedLength);
    m_mapping = nullptr;
    m_mappedLength = 0;
    m_writable = nullptr;
    m_data = nullptr;
    m_size = 0;
}

FileImage::~FileImage() { Release(); }

FileImage::FileImage(FileImage&& other) noexcept
    : m_mapping(std::exchange(other.m_mapping, nullptr)),
      m_mappedLength(other.m_mappedLength),
      m_writable(std::exchange(other.m_writable, nullptr)),
      m_data(std::exchange(other.m_data, nullptr)),
      m_size(other.m_size),
      m_error(std::move(other.m_error))
{
}

FileImage FileImage::FromBytes(const std::uint8_t* data, std::size_t size)
{
    FileImage image;
    if (!image.Allocate(size)) throw std::bad_alloc();
    if (size > 0) std::memcpy(image.m_writable, data, size);
    image.m_writable[size] = 0;
    image.m_data = image.m_writable;
    image.m_size = size;
    return image;
}

FileIdentity FileIdentity::Of(const std::string& path)
{
    FileIdentity identity;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return identity;
    identity.known = true;
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.inode = static_cast<std::uint64_t>(info.st_ino);
    identity.size = static_cast<std::uint64_t>(info.st_size);
    identity.modifiedSeconds = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    identity.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    return identity;
}
