// Reading the backup's property lists with libplist.
#include "evidence/BackupManifest.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace {

using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, decltype(&plist_free)>;

Plist Parse(std::span<const std::uint8_t> bytes)
{
    plist_t root = nullptr;
    if (!bytes.empty() && bytes.size() <= std::numeric_limits<std::uint32_t>::max()) {
        plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()), &root);
    }
    return Plist(root, plist_free);
}

std::vector<std::uint8_t> DataOf(plist_t node)
{
    std::vector<std::uint8_t> out;
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) return out;
    char* value = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &value, &length);
    if (value != nullptr) out.assign(value, value + length);
    std::free(value);
    return out;
}

// An archived object: a UID into $objects, or the object itself.
plist_t Resolve(plist_t objects, plist_t node)
{
    if (node == nullptr || plist_get_node_type(node) != PLIST_UID) return node;
    uint64_t index = 0;
    plist_get_uid_val(node, &index);
    if (index >= plist_array_get_size(objects)) return nullptr;
    return plist_array_get_item(objects, static_cast<uint32_t>(index));
}

}  // namespace

std::optional<ManifestPlist> ParseManifestPlist(std::span<const std::uint8_t> bytes, std::string& error)
{
    const Plist root = Parse(bytes);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        error = "Manifest.plist is not a property list";
        return std::nullopt;
    }
    ManifestPlist manifest;
    if (plist_t encrypted = plist_dict_get_item(root.get(), "IsEncrypted");
        encrypted != nullptr && plist_get_node_type(encrypted) == PLIST_BOOLEAN) {
        uint8_t value = 0;
        plist_get_bool_val(encrypted, &value);
        manifest.encrypted = value != 0;
    }
    manifest.keybag = DataOf(plist_dict_get_item(root.get(), "BackupKeyBag"));
    manifest.manifestKey = DataOf(plist_dict_get_item(root.get(), "ManifestKey"));
    return manifest;
}

std::optional<BackupFileRecord> ParseFileRecord(std::span<const std::uint8_t> blob, std::string& error)
{
    const Plist root = Parse(blob);
    plist_t objects = root ? plist_dict_get_item(root.get(), "$objects") : nullptr;
    plist_t top = root ? plist_dict_get_item(root.get(), "$top") : nullptr;
    if (objects == nullptr || plist_get_node_type(objects) != PLIST_ARRAY || top == nullptr ||
        plist_get_node_type(top) != PLIST_DICT) {
        error = "a file's record is not an archived object";
        return std::nullopt;
    }
    plist_t file = Resolve(objects, plist_dict_get_item(top, "root"));
    if (file == nullptr || plist_get_node_type(file) != PLIST_DICT) {
        error = "a file's record has no root object";
        return std::nullopt;
    }
    BackupFileRecord record;
    if (plist_t size = plist_dict_get_item(file, "Size"); size != nullptr && plist_get_node_type(size) == PLIST_UINT) {
        plist_get_uint_val(size, &record.size);
    }
    // The key is archived as NSData: data, or a dictionary holding it under NS.data.
    plist_t key = Resolve(objects, plist_dict_get_item(file, "EncryptionKey"));
    if (key != nullptr && plist_get_node_type(key) == PLIST_DICT) key = plist_dict_get_item(key, "NS.data");
    record.encryptionKey = DataOf(key);
    return record;
}
