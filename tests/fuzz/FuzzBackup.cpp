// Fuzz target for the readers of an iPhone backup's own structures: the keybag (tag-length-
// value items), Manifest.plist and the archived file records (property lists, binary or XML),
// and the unwrapping and decryption of what they hold with a fixed key.
#include "FuzzTargets.h"
#include "evidence/BackupCrypto.h"
#include "evidence/BackupManifest.h"

namespace fuzz {

int FuzzBackup(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    std::string error;
    if (const auto keybag = ParseKeybag(bytes, error)) {
        for (const Keybag::ClassKey& entry : keybag->classes) UnwrapKey(Key256{}, entry.wrapped);
    }
    if (const auto manifest = ParseManifestPlist(bytes, error)) {
        std::map<std::uint32_t, Key256> keys{{4, Key256{}}};
        UnwrapStoredKey(keys, manifest->manifestKey, error);
    }
    if (const auto record = ParseFileRecord(bytes, error)) Check(record->encryptionKey.size() <= size, "a key lies in the input");
    if (const auto plain = DecryptFile(Key256{}, bytes.first(size - size % 16), error)) {
        Check(plain->size() <= size, "decryption never grows a file");
    }
    return 0;
}

}  // namespace fuzz
