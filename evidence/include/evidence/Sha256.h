// SHA-256 digests of evidence, as lower-case hex: of a file, or of bytes as they stream past.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(std::span<const std::uint8_t> bytes);
    // The digest of everything given; empty when the hashing failed.
    std::string HexDigest();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// The SHA-256 of a file as lower-case hex; empty when it cannot be read.
std::string Sha256OfFile(const std::string& path);
