// The property lists of an iPhone backup: Manifest.plist (encrypted or not, its keybag and the
// key of Manifest.db) and the archived MBFile record of each file in Manifest.db (its size and,
// in an encrypted backup, its own key).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct ManifestPlist {
    bool encrypted = false;                 // IsEncrypted
    std::vector<std::uint8_t> keybag;       // BackupKeyBag
    std::vector<std::uint8_t> manifestKey;  // ManifestKey (iOS 10.2 and later): class + wrapped key
};

// Manifest.plist's bytes (binary or XML); nothing (with `error`) when they are no property
// list or not a dictionary.
std::optional<ManifestPlist> ParseManifestPlist(std::span<const std::uint8_t> bytes, std::string& error);

struct BackupFileRecord {
    std::uint64_t size = 0;                   // Size: the file's length before encryption
    std::vector<std::uint8_t> encryptionKey;  // EncryptionKey: class + wrapped key (encrypted backups)
};

// The MBFile record archived (NSKeyedArchiver) in a Files row's `file` blob; nothing (with
// `error`) when the archive is not one.
std::optional<BackupFileRecord> ParseFileRecord(std::span<const std::uint8_t> blob, std::string& error);
