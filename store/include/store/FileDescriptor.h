// One owner for an open file descriptor, and reading a stretch of a file whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    // Opens `path` for reading only (close-on-exec); Valid() tells whether it worked (errno
    // says why not).
    static FileDescriptor OpenForReading(const std::string& path);

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Close();

private:
    int m_fd = -1;
};

// Reads `length` bytes at `offset` of `fd` into `into`, through EINTR and short reads. On
// failure returns false and sets `error`: the system's reason, or, for a file that ends early
// (another program cut it short while it was read), a sentence saying how much there was.
bool ReadFully(int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset, std::string& error);
