// SHA-256 through OpenSSL's digest interface.
#include "evidence/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "store/FileDescriptor.h"

struct Sha256::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    bool ok = md != nullptr && EVP_DigestInit_ex(md, EVP_sha256(), nullptr) == 1;
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::uint8_t> bytes)
{
    if (m_context->ok) m_context->ok = EVP_DigestUpdate(m_context->md, bytes.data(), bytes.size()) == 1;
}

std::string Sha256::HexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!m_context->ok || EVP_DigestFinal_ex(m_context->md, digest, &length) != 1) return "";
    m_context->ok = false;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 15];
    }
    return text;
}

std::string Sha256OfFile(const std::string& path)
{
    const FileDescriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) return "";
    Sha256 hash;
    std::vector<std::uint8_t> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return "";
        if (got == 0) break;
        hash.Update(std::span(buffer.data(), static_cast<std::size_t>(got)));
    }
    return hash.HexDigest();
}
