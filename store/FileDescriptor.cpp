// Owning descriptors and reading whole stretches of files.
#include "store/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

FileDescriptor FileDescriptor::OpenForReading(const std::string& path)
{
    return FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

void FileDescriptor::Close()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool ReadFully(int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset, std::string& error)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, into + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (got == 0) {
            error = "it became shorter while it was read (" + std::to_string(done) + " of " + std::to_string(length) +
                    " bytes)";
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}
