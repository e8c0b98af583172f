// Keybags, key derivation, key unwrapping and file decryption, with OpenSSL.
#include "evidence/BackupCrypto.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

std::uint32_t BigEndian32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

}  // namespace

std::optional<Keybag> ParseKeybag(std::span<const std::uint8_t> bytes, std::string& error)
{
    Keybag keybag;
    bool inClasses = false;
    Keybag::ClassKey* current = nullptr;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) {
            error = "the keybag is truncated";
            return std::nullopt;
        }
        const std::string tag(reinterpret_cast<const char*>(bytes.data() + at), 4);
        const std::uint32_t length = BigEndian32(bytes.data() + at + 4);
        at += 8;
        if (length > bytes.size() - at) {
            error = "the keybag's item " + tag + " runs past its end";
            return std::nullopt;
        }
        const std::span<const std::uint8_t> value = bytes.subspan(at, length);
        at += length;
        const std::uint32_t number = length == 4 ? BigEndian32(value.data()) : 0;
        if (tag == "UUID") {
            // The first UUID is the keybag's own; each later one starts a class key's record.
            if (inClasses || !keybag.salt.empty()) {
                current = &keybag.classes.emplace_back();
                inClasses = true;
            }
            continue;
        }
        if (current != nullptr) {
            if (tag == "CLAS") current->protectionClass = number;
            if (tag == "WRAP") current->wrap = number;
            if (tag == "WPKY") current->wrapped.assign(value.begin(), value.end());
            continue;
        }
        if (tag == "SALT") keybag.salt.assign(value.begin(), value.end());
        if (tag == "ITER") keybag.iterations = number;
        if (tag == "DPSL") keybag.doubleSalt.assign(value.begin(), value.end());
        if (tag == "DPIC") keybag.doubleIterations = number;
    }
    if (keybag.salt.empty() || keybag.iterations == 0) {
        error = "the keybag has no salt or iteration count";
        return std::nullopt;
    }
    return keybag;
}

bool Pbkdf2(const EVP_MD* md, std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
            std::uint32_t iterations, std::span<std::uint8_t> out, const DerivationProgress& progress, std::uint64_t done,
            std::uint64_t total)
{
    // HMAC with the key's inner and outer pads hashed once: each iteration copies the two
    // prepared digest states instead of starting over (faster than OpenSSL's own loop).
    const auto size = static_cast<std::size_t>(EVP_MD_get_size(md));
    const auto blockSize = static_cast<std::size_t>(EVP_MD_get_block_size(md));
    std::vector<std::uint8_t> key(blockSize, 0);
    unsigned length = 0;
    if (password.size() > blockSize) {
        EVP_Digest(password.data(), password.size(), key.data(), &length, md, nullptr);
    } else {
        std::copy(password.begin(), password.end(), key.begin());
    }
    using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
    DigestContext inner(EVP_MD_CTX_new(), EVP_MD_CTX_free), outer(EVP_MD_CTX_new(), EVP_MD_CTX_free),
        work(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::vector<std::uint8_t> pad(blockSize);
    for (const auto& [context, byte] : {std::pair{inner.get(), 0x36}, std::pair{outer.get(), 0x5c}}) {
        for (std::size_t i = 0; i < blockSize; ++i) pad[i] = static_cast<std::uint8_t>(key[i] ^ byte);
        if (context == nullptr || EVP_DigestInit_ex(context, md, nullptr) != 1) return false;
        EVP_DigestUpdate(context, pad.data(), blockSize);
    }
    std::uint8_t u[EVP_MAX_MD_SIZE], t[EVP_MAX_MD_SIZE], h[EVP_MAX_MD_SIZE];
    auto hmac = [&](std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
        EVP_MD_CTX_copy_ex(work.get(), inner.get());
        EVP_DigestUpdate(work.get(), a.data(), a.size());
        if (!b.empty()) EVP_DigestUpdate(work.get(), b.data(), b.size());
        EVP_DigestFinal_ex(work.get(), h, &length);
        EVP_MD_CTX_copy_ex(work.get(), outer.get());
        EVP_DigestUpdate(work.get(), h, size);
        EVP_DigestFinal_ex(work.get(), u, &length);
    };
    if (total == 0) total = std::uint64_t{iterations} * ((out.size() + size - 1) / size);
    std::size_t written = 0;
    for (std::uint32_t block = 1; written < out.size(); ++block) {
        const std::uint8_t count[4] = {static_cast<std::uint8_t>(block >> 24), static_cast<std::uint8_t>(block >> 16),
                                       static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
        hmac(salt, count);
        std::copy(u, u + size, t);
        for (std::uint32_t i = 1; i < iterations; ++i) {
            hmac(std::span(u, size), {});
            for (std::size_t k = 0; k < size; ++k) t[k] ^= u[k];
            if ((i & 0xFFFF) == 0 && progress && !progress(static_cast<int>((done + i) * 100 / std::max<std::uint64_t>(total, 1)))) {
                return false;
            }
        }
        done += iterations;
        const std::size_t take = std::min(size, out.size() - written);
        std::copy(t, t + take, out.begin() + static_cast<std::ptrdiff_t>(written));
        written += take;
    }
    return true;
}

std::optional<Key256> DerivePasswordKey(const Keybag& keybag, const std::string& password, const DerivationProgress& progress)
{
    Key256 key{};
    std::vector<std::uint8_t> first(password.begin(), password.end());
    const bool twice = !keybag.doubleSalt.empty() && keybag.doubleIterations != 0;
    // The SHA-256 step (iOS 10.2 and later, ten million iterations) is almost all of the work.
    const std::uint64_t total = (twice ? std::uint64_t{keybag.doubleIterations} : 0) + std::uint64_t{keybag.iterations} * 2;
    if (twice) {
        Key256 inner{};
        if (!Pbkdf2(EVP_sha256(), first, keybag.doubleSalt, keybag.doubleIterations, inner, progress, 0, total)) {
            return std::nullopt;
        }
        first.assign(inner.begin(), inner.end());
    }
    if (!Pbkdf2(EVP_sha1(), first, keybag.salt, keybag.iterations, key, progress,
                twice ? std::uint64_t{keybag.doubleIterations} : 0, total)) {
        return std::nullopt;
    }
    return key;
}

std::optional<Key256> UnwrapKey(const Key256& key, std::span<const std::uint8_t> wrapped)
{
    if (wrapped.size() != 40) return std::nullopt;
    CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Key256 out{};
    int length = 0, last = 0;
    // The wrap's integrity check (A6A6A6A6A6A6A6A6) fails the final step for a wrong key.
    if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_256_wrap(), nullptr, key.data(), nullptr) != 1 ||
        EVP_DecryptUpdate(context.get(), out.data(), &length, wrapped.data(), static_cast<int>(wrapped.size())) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out.data() + length, &last) != 1 || length + last != 32) {
        return std::nullopt;
    }
    return out;
}

std::map<std::uint32_t, Key256> UnlockClassKeys(const Keybag& keybag, const Key256& passwordKey)
{
    std::map<std::uint32_t, Key256> keys;
    for (const Keybag::ClassKey& entry : keybag.classes) {
        if ((entry.wrap & 2) == 0) continue;  // wrapped with the device's own key: not here
        if (const auto key = UnwrapKey(passwordKey, entry.wrapped)) keys[entry.protectionClass] = *key;
    }
    return keys;
}

std::optional<Key256> UnwrapStoredKey(const std::map<std::uint32_t, Key256>& classKeys, std::span<const std::uint8_t> stored,
                                      std::string& error)
{
    if (stored.size() != 44) {
        error = "a file key has " + std::to_string(stored.size()) + " bytes instead of 44";
        return std::nullopt;
    }
    const std::uint32_t protectionClass =
        std::uint32_t{stored[0]} | std::uint32_t{stored[1]} << 8 | std::uint32_t{stored[2]} << 16 | std::uint32_t{stored[3]} << 24;
    const auto classKey = classKeys.find(protectionClass);
    if (classKey == classKeys.end()) {
        error = "the key of protection class " + std::to_string(protectionClass) + " is not in the keybag";
        return std::nullopt;
    }
    const auto key = UnwrapKey(classKey->second, stored.subspan(4));
    if (!key) error = "a file key does not unwrap";
    return key;
}

std::optional<std::vector<std::uint8_t>> DecryptFile(const Key256& key, std::span<const std::uint8_t> ciphertext,
                                                     std::string& error)
{
    if (ciphertext.size() % 16 != 0) {
        error = "its length (" + std::to_string(ciphertext.size()) + " bytes) is not a multiple of 16";
        return std::nullopt;
    }
    CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    std::vector<std::uint8_t> plain(ciphertext.size() + 16);
    const std::array<std::uint8_t, 16> iv{};
    int length = 0;
    if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data()) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
        EVP_DecryptUpdate(context.get(), plain.data(), &length, ciphertext.data(), static_cast<int>(ciphertext.size())) != 1) {
        error = "the decryption failed";
        return std::nullopt;
    }
    plain.resize(static_cast<std::size_t>(length));
    // PKCS#7 padding, when the last block carries valid padding.
    if (!plain.empty()) {
        const std::uint8_t pad = plain.back();
        const bool padded = pad >= 1 && pad <= 16 && pad <= plain.size() &&
                            std::all_of(plain.end() - pad, plain.end(), [pad](std::uint8_t b) { return b == pad; });
        if (padded) plain.resize(plain.size() - pad);
    }
    return plain;
}
