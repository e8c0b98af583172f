// A whole file in memory, followed by one zero byte that ends any varint running off the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class FileImage {
public:
    // Reads the regular file at `path` whole. On failure Data() is null and Error() says why
    // (with the system's reason); files of 4 GiB or more are refused rather than truncated,
    // and a file that another program cuts short while it is read is refused with a sentence
    // saying so (never a crash).
    explicit FileImage(const std::string& path);
    ~FileImage();
    FileImage(FileImage&& other) noexcept;
    FileImage& operator=(FileImage&&) = delete;
    FileImage(const FileImage&) = delete;

    bool Loaded() const { return m_data != nullptr; }
    const std::string& Error() const { return m_error; }
    const std::uint8_t* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }  // the file's length, without the added zero
    const std::uint8_t* End() const { return m_data + m_size; }  // the added zero byte

    // Hands the memory of the image's first `length` bytes (whole huge pages of it) back to the
    // system: they read as zeros afterwards. For a scan that never reads them again.
    void HandBackBefore(std::size_t length);

    // Builds an image from bytes already in memory (tests, fuzzing).
    static FileImage FromBytes(const std::uint8_t* data, std::size_t size);

private:
    FileImage() = default;
    // Anonymous memory for `length` bytes and the zero after them.
    bool Allocate(std::size_t length);
    void Release();

    void* m_mapping = nullptr;  // the anonymous pages holding the image, m_mappedLength bytes
    std::size_t m_mappedLength = 0;
    std::uint8_t* m_writable = nullptr;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::string m_error;
};

// What tells whether a file changed between two readings: device, inode, size and the
// modification time to the nanosecond.
struct FileIdentity {
    bool known = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    static FileIdentity Of(const std::string& path);
    bool operator==(const FileIdentity&) const = default;
};

constexpr std::uint64_t kLargestScannableFile = (std::uint64_t{1} << 32) - 1;
