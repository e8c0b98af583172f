// A whole file in memory, followed by one zero byte that ends any varint running off the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class FileImage {
public:
    // Reads the file at `path`. On failure Data() is null and Error() says why (with the
    // system's reason); files of 4 GiB or more are refused rather than truncated. A regular
    // file is mapped read-only and privately rather than copied (another program that cuts
    // the file short while it is scanned would end the scan with a bus error); other files
    // are read.
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

    // Builds an image from bytes already in memory (tests, fuzzing).
    static FileImage FromBytes(const std::uint8_t* data, std::size_t size);

private:
    FileImage() = default;
    bool Map(int fd, std::size_t length);

    std::unique_ptr<std::uint8_t[]> m_bytes;  // a copy, when the file is not mapped
    void* m_mapping = nullptr;                // or the mapping, m_mappedLength bytes
    std::size_t m_mappedLength = 0;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::string m_error;
};

constexpr std::uint64_t kLargestScannableFile = (std::uint64_t{1} << 32) - 1;
