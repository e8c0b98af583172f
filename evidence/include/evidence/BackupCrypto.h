// The cryptography of encrypted iPhone backups: the keybag, the password's key, the class keys
// and the files' own keys, and the files themselves (AES-256-CBC).
//
// Keybag (Manifest.plist's BackupKeyBag): tag-length-value items, each a 4-byte ASCII tag, a
// 4-byte big-endian length and the value (integers 4 bytes big-endian). The header's items
// (VERS, TYPE, UUID, HMCK, WRAP, SALT, ITER, DPWT, DPIC, DPSL) come first; each class key's
// record then starts at a UUID: CLAS (class), WRAP (2: wrapped with the password's key),
// KTYP, WPKY (the 40-byte wrapped key). Example: "SALT" 00 00 00 14 <20 bytes>.
// The password's key: PBKDF2-HMAC-SHA1(PBKDF2-HMAC-SHA256(password, DPSL, DPIC), SALT, ITER),
// 32 bytes; without DPSL/DPIC (before iOS 10.2) PBKDF2-HMAC-SHA1(password, SALT, ITER).
#pragma once

#include <openssl/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

using Key256 = std::array<std::uint8_t, 32>;

struct Keybag {
    std::vector<std::uint8_t> salt, doubleSalt;  // SALT, DPSL (empty when absent)
    std::uint32_t iterations = 0, doubleIterations = 0;  // ITER, DPIC
    struct ClassKey {
        std::uint32_t protectionClass = 0;
        std::uint32_t wrap = 0;
        std::vector<std::uint8_t> wrapped;
    };
    std::vector<ClassKey> classes;
};

// The keybag in `bytes`; nothing (with `error` saying what is wrong) when it is truncated,
// lacks SALT or ITER, or an item runs past the end.
std::optional<Keybag> ParseKeybag(std::span<const std::uint8_t> bytes, std::string& error);

// Told how far a long derivation has come (0 to 100); returns false to stop it.
using DerivationProgress = std::function<bool(int percent)>;

// The key the password gives for the keybag (takes seconds at real iteration counts);
// nothing when `progress` stopped it.
std::optional<Key256> DerivePasswordKey(const Keybag& keybag, const std::string& password,
                                        const DerivationProgress& progress = {});

// PBKDF2 (RFC 8018) with HMAC over `md`, telling `progress` of every 65,536 iterations (its
// percent counts `done` iterations before and `total` in all); false when it was stopped.
bool Pbkdf2(const EVP_MD* md, std::span<const std::uint8_t> password, std::span<const std::uint8_t> salt,
            std::uint32_t iterations, std::span<std::uint8_t> out, const DerivationProgress& progress = {},
            std::uint64_t done = 0, std::uint64_t total = 0);

// RFC 3394 key unwrap of a 40-byte wrapped 256-bit key; nothing when its integrity check
// fails (a wrong key) or the length is not 40.
std::optional<Key256> UnwrapKey(const Key256& key, std::span<const std::uint8_t> wrapped);

// The class keys the password's key unwraps (classes wrapped with it); empty when the key is
// wrong for every one of them.
std::map<std::uint32_t, Key256> UnlockClassKeys(const Keybag& keybag, const Key256& passwordKey);

// A key as a backup stores it: 4-byte little-endian class, then the 40-byte wrapped key,
// unwrapped with that class's key. Nothing (with `error`) when it is too short, its class is
// not unlocked or the unwrap fails.
std::optional<Key256> UnwrapStoredKey(const std::map<std::uint32_t, Key256>& classKeys, std::span<const std::uint8_t> stored,
                                      std::string& error);

// AES-256-CBC with a zero IV, PKCS#7 padding removed when there is valid padding. Nothing
// (with `error`) when the length is not a multiple of 16.
std::optional<std::vector<std::uint8_t>> DecryptFile(const Key256& key, std::span<const std::uint8_t> ciphertext,
                                                     std::string& error);
