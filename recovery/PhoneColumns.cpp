// The message tables of the two phones, column by column.
#include "recovery/PhoneColumns.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

// Integer serial types 0 to 9 as a bit set.
constexpr std::uint16_t Types(std::initializer_list<int> types)
{
    std::uint16_t bits = 0;
    for (const int s : types) bits = static_cast<std::uint16_t>(bits | (1u << s));
    return bits;
}

// Android's sms table since Android 5 (19 columns). Android 2.3 had 16 of them (no date_sent,
// sub_id, creator), 4.0 to 4.4 had 17 (with date_sent); upgraded phones append the rest.
constexpr PhoneColumn kAndroid[] = {
    {"_id", "INTEGER"},
    {"thread_id", "INTEGER", ColumnField::ThreadId, false, ColumnRule::ThreadId, Types({1, 2, 3, 9}), ValueCheck::Positive},
    {"address", "TEXT", ColumnField::Address, true},
    {"person", "INTEGER"},
    {"date", "INTEGER", ColumnField::Date, true, ColumnRule::AndroidDate, Types({5}), ValueCheck::DateRequired},
    {"date_sent", "INTEGER", ColumnField::None, false, ColumnRule::AndroidDate, Types({5, 8}), ValueCheck::DateOrZero},
    {"protocol", "INTEGER"},
    {"read", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::ZeroOrOne},
    {"status", "INTEGER"},
    {"type", "INTEGER", ColumnField::Type, true, ColumnRule::AnyInteger, 0, ValueCheck::SmallCode},
    {"reply_path_present", "INTEGER"},
    {"subject", "TEXT"},
    {"body", "TEXT", ColumnField::Body, true},
    {"service_center", "TEXT"},
    {"locked", "INTEGER"},
    {"sub_id", "INTEGER"},
    {"error_code", "INTEGER"},
    {"creator", "TEXT"},
    {"seen", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::ZeroOrOne},
};

// The iPhone's message table of iOS 16 (84 columns); iOS 9 and 10 have the first 51.
constexpr PhoneColumn kIphone[] = {
    {"rowid", "INTEGER"},
    {"guid", "TEXT", ColumnField::Guid, true},
    {"text", "TEXT", ColumnField::Body, true},
    {"replace", "INTEGER"},
    {"service_center", "TEXT"},
    {"handle_id", "INTEGER", ColumnField::HandleId, true, ColumnRule::AnyInteger, 0, ValueCheck::NonNegative},
    {"subject", "TEXT"},
    {"country", "TEXT"},
    {"attributedbody", "BLOB", ColumnField::AttributedBody, false},
    // The default carver keys on its usual values; a record is no less one for another value.
    {"version", "INTEGER", ColumnField::None, false, ColumnRule::Version},
    {"type", "INTEGER"},
    {"service", "TEXT", ColumnField::Service},
    {"account", "TEXT"},
    {"account_guid", "TEXT"},
    {"error", "INTEGER"},
    {"date", "INTEGER", ColumnField::Date, true, ColumnRule::IphoneDate, Types({4, 6}), ValueCheck::DateRequired},
    {"date_read", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::DateOrZero},
    {"date_delivered", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::DateOrZero},
    {"is_delivered", "INTEGER"},
    {"is_finished", "INTEGER"},
    {"is_emote", "INTEGER"},
    {"is_from_me", "INTEGER", ColumnField::IsFromMe, true, ColumnRule::AnyInteger, 0, ValueCheck::ZeroOrOne},
    {"is_empty", "INTEGER"},
    {"is_delayed", "INTEGER"},
    {"is_auto_reply", "INTEGER"},
    {"is_prepared", "INTEGER"},
    {"is_read", "INTEGER"},
    {"is_system_message", "INTEGER"},
    {"is_sent", "INTEGER"},
    {"has_dd_results", "INTEGER"},
    {"is_service_message", "INTEGER"},
    {"is_forward", "INTEGER"},
    {"was_downgraded", "INTEGER"},
    {"is_archive", "INTEGER"},
    {"cache_has_attachments", "INTEGER"},
    {"cache_roomnames", "TEXT"},
    {"was_data_detected", "INTEGER"},
    {"was_deduplicated", "INTEGER"},
    {"is_audio_message", "INTEGER"},
    {"is_played", "INTEGER"},
    {"date_played", "INTEGER"},
    {"item_type", "INTEGER"},
    {"other_handle", "INTEGER"},
    {"group_title", "TEXT"},
    {"group_action_type", "INTEGER"},
    {"share_status", "INTEGER"},
    {"share_direction", "INTEGER"},
    {"is_expirable", "INTEGER"},
    {"expire_state", "INTEGER"},
    {"message_action_type", "INTEGER"},
    {"message_source", "INTEGER"},
    {"associated_message_guid", "TEXT"},
    {"associated_message_type", "INTEGER"},
    {"balloon_bundle_id", "TEXT"},
    {"payload_data", "BLOB"},
    {"expressive_send_style_id", "TEXT"},
    {"associated_message_range_location", "INTEGER"},
    {"associated_message_range_length", "INTEGER"},
    {"time_expressive_send_played", "INTEGER"},
    {"message_summary_info", "BLOB"},
    {"ck_sync_state", "INTEGER"},
    {"ck_record_id", "TEXT"},
    {"ck_record_change_tag", "TEXT"},
    {"destination_caller_id", "TEXT"},
    {"sr_ck_sync_state", "INTEGER"},
    {"sr_ck_record_id", "TEXT"},
    {"sr_ck_record_change_tag", "TEXT"},
    {"is_corrupt", "INTEGER"},
    {"reply_to_guid", "TEXT"},
    {"sort_id", "INTEGER"},
    {"is_spam", "INTEGER"},
    {"has_unseen_mention", "INTEGER"},
    {"thread_originator_guid", "TEXT"},
    {"thread_originator_part", "TEXT"},
    {"syndication_ranges", "TEXT"},
    {"was_delivered_quietly", "INTEGER"},
    {"did_notify_recipient", "INTEGER"},
    {"synced_syndication_ranges", "TEXT"},
    {"date_retracted", "INTEGER"},
    {"date_edited", "INTEGER"},
    {"was_detonated", "INTEGER"},
    {"part_count", "INTEGER"},
    {"is_stewie", "INTEGER"},
    {"is_kt_verified", "INTEGER"},
};

// The message table of iOS 5 (33 columns); iOS 4 and earlier have its first 17, without the
// madrid_* columns of iMessage. SMS dates are seconds since 1970, iMessage dates since 2001.
constexpr PhoneColumn kIphoneLegacy[] = {
    {"rowid", "INTEGER"},
    {"address", "TEXT", ColumnField::Address},
    {"date", "INTEGER", ColumnField::Date, true, ColumnRule::IphoneDate, Types({4}), ValueCheck::DateRequired},
    {"text", "TEXT", ColumnField::Body, true},
    {"flags", "INTEGER", ColumnField::LegacyFlags, true, ColumnRule::AnyInteger, Types({1, 2, 8, 9}), ValueCheck::NonNegative},
    {"replace", "INTEGER"},
    {"svc_center", "TEXT"},
    {"group_id", "INTEGER", ColumnField::ThreadId, false, ColumnRule::AnyInteger, Types({0, 1, 2, 3, 8, 9}), ValueCheck::NonNegative},
    {"association_id", "INTEGER"},
    {"height", "INTEGER"},
    {"uiflags", "INTEGER"},
    {"version", "INTEGER"},
    {"subject", "TEXT"},
    {"country", "TEXT"},
    {"headers", "BLOB"},
    {"recipients", "BLOB"},
    {"read", "INTEGER"},
    {"madrid_attributedbody", "BLOB", ColumnField::AttributedBody},
    {"madrid_handle", "TEXT", ColumnField::MadridHandle},
    {"madrid_version", "INTEGER"},
    {"madrid_guid", "TEXT"},
    {"madrid_type", "INTEGER"},
    {"madrid_roomname", "TEXT"},
    {"madrid_service", "TEXT", ColumnField::Service},
    {"madrid_account", "TEXT"},
    {"madrid_account_guid", "TEXT"},
    {"madrid_flags", "INTEGER", ColumnField::MadridFlags, false, ColumnRule::AnyInteger, 0, ValueCheck::NonNegative},
    {"madrid_attachmentinfo", "BLOB"},
    {"madrid_url", "TEXT"},
    {"madrid_error", "INTEGER"},
    {"is_madrid", "INTEGER", ColumnField::IsMadrid, false, ColumnRule::AnyInteger, 0, ValueCheck::ZeroOrOne},
    {"madrid_date_read", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::DateOrZero},
    {"madrid_date_delivered", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::DateOrZero},
};

// Android's pdu table (35 columns since Android 5; 4.4 had 33, without sub_id and creator).
constexpr PhoneColumn kAndroidPdu[] = {
    {"_id", "INTEGER"},
    {"thread_id", "INTEGER", ColumnField::ThreadId, true, ColumnRule::AnyInteger, Types({1, 2, 3, 9}), ValueCheck::Positive},
    {"date", "INTEGER", ColumnField::DateSeconds, true, ColumnRule::AnyInteger, Types({4, 5}), ValueCheck::DateRequired},
    {"date_sent", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, Types({0, 4, 5, 8}), ValueCheck::None},
    {"msg_box", "INTEGER", ColumnField::Box, true, ColumnRule::AnyInteger, Types({1, 9}), ValueCheck::SmallCode},
    {"read", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::ZeroOrOne},
    {"m_id", "TEXT"},
    {"sub", "TEXT", ColumnField::Subject},
    {"sub_cs", "INTEGER", ColumnField::SubjectCharset},
    {"ct_t", "TEXT"},
    {"ct_l", "TEXT"},
    {"exp", "INTEGER"},
    {"m_cls", "TEXT"},
    {"m_type", "INTEGER", ColumnField::MmsType, true, ColumnRule::AnyInteger, Types({2}), ValueCheck::MmsCode},
    {"v", "INTEGER"},
    {"m_size", "INTEGER"},
    {"pri", "INTEGER"},
    {"rr", "INTEGER"},
    {"rpt_a", "INTEGER"},
    {"resp_st", "INTEGER"},
    {"st", "INTEGER"},
    {"tr_id", "TEXT"},
    {"retr_st", "INTEGER"},
    {"retr_txt", "TEXT"},
    {"retr_txt_cs", "INTEGER"},
    {"read_status", "INTEGER"},
    {"ct_cls", "INTEGER"},
    {"resp_txt", "TEXT"},
    {"d_tm", "INTEGER"},
    {"d_rpt", "INTEGER"},
    {"locked", "INTEGER"},
    {"sub_id", "INTEGER"},
    {"seen", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, 0, ValueCheck::ZeroOrOne},
    {"creator", "TEXT"},
    {"text_only", "INTEGER"},
};

// Android's part table (14 columns; Android 14 appends sub_id).
constexpr PhoneColumn kAndroidPart[] = {
    {"_id", "INTEGER"},
    {"mid", "INTEGER", ColumnField::MessageId, true, ColumnRule::AnyInteger, Types({1, 2, 3, 4, 9}), ValueCheck::Positive},
    {"seq", "INTEGER", ColumnField::Sequence, true, ColumnRule::AnyInteger, Types({0, 1, 2, 8, 9}), ValueCheck::PartSeq},
    {"ct", "TEXT", ColumnField::ContentType, true, ColumnRule::Text, 0, ValueCheck::NotNull},
    {"name", "TEXT", ColumnField::Name},
    {"chset", "INTEGER"},
    {"cd", "TEXT"},
    {"fn", "TEXT", ColumnField::FallbackName},
    {"cid", "TEXT"},
    {"cl", "TEXT", ColumnField::Name},
    {"ctt_s", "INTEGER"},
    {"ctt_t", "TEXT"},
    {"_data", "TEXT", ColumnField::StoredPath},
    {"text", "TEXT", ColumnField::Body, true},
    {"sub_id", "INTEGER"},
};

// The iPhone's attachment table, as far as its columns tell about the file (later releases
// append more).
constexpr PhoneColumn kIphoneAttachment[] = {
    {"rowid", "INTEGER"},
    {"guid", "TEXT", ColumnField::Guid, true, ColumnRule::Text, 0, ValueCheck::NotNull},
    {"created_date", "INTEGER", ColumnField::Date, true, ColumnRule::AnyInteger, Types({4, 6, 8}), ValueCheck::DateOrZero},
    {"start_date", "INTEGER", ColumnField::None, false, ColumnRule::AnyInteger, Types({4, 6, 8}), ValueCheck::DateOrZero},
    {"filename", "TEXT", ColumnField::StoredPath, true},
    {"uti", "TEXT"},
    {"mime_type", "TEXT", ColumnField::ContentType, true},
    {"transfer_state", "INTEGER"},
    {"is_outgoing", "INTEGER", ColumnField::IsFromMe, true, ColumnRule::AnyInteger, 0, ValueCheck::ZeroOrOne},
    {"user_info", "BLOB"},
    {"transfer_name", "TEXT", ColumnField::Name, true},
    {"total_bytes", "INTEGER", ColumnField::Size, true, ColumnRule::AnyInteger, 0, ValueCheck::FileSize},
};

// The texts of messages in "Recently Deleted" (iOS 16 and later); its key is not the row id,
// so column 0 is stored as a value.
constexpr PhoneColumn kIphoneRecoverable[] = {
    {"chat_id", "INTEGER", ColumnField::ChatId, true, ColumnRule::AnyInteger, Types({1, 2, 3, 9}), ValueCheck::Positive},
    {"message_id", "INTEGER", ColumnField::MessageId, true, ColumnRule::AnyInteger, Types({1, 2, 3, 4, 9}), ValueCheck::Positive},
    {"part_index", "INTEGER", ColumnField::Sequence, true, ColumnRule::AnyInteger, Types({1, 2, 8, 9}), ValueCheck::PartSeq},
    {"delete_date", "INTEGER", ColumnField::Date, true, ColumnRule::AnyInteger, Types({4, 6}), ValueCheck::DateRequired},
    {"part_text", "BLOB", ColumnField::AttributedBody, true, ColumnRule::Blob, 0, ValueCheck::NotNull},
    {"ck_sync_state", "INTEGER"},
};

// Column counts of the layouts phones are known to have had.
constexpr std::int32_t kAndroidCounts[] = {16, 17, 19};
constexpr std::int32_t kIphoneCounts[] = {51, 84};
constexpr std::int32_t kIphoneLegacyCounts[] = {17, 33};
constexpr std::int32_t kPduCounts[] = {33, 35};
constexpr std::int32_t kPartCounts[] = {14, 15};
constexpr std::int32_t kRecoverableCounts[] = {6};

constexpr CarvedTable kAndroidParts[] = {CarvedTable::MmsMessages, CarvedTable::MmsParts};
constexpr CarvedTable kIphoneParts[] = {CarvedTable::Attachments, CarvedTable::RecoverableParts};

}  // namespace

std::string_view CarvedTableName(CarvedTable table)
{
    switch (table) {
    case CarvedTable::Messages: return "message";
    case CarvedTable::MmsMessages: return "pdu";
    case CarvedTable::MmsParts: return "part";
    case CarvedTable::Attachments: return "attachment";
    case CarvedTable::RecoverableParts: return "recoverable_message_part";
    case CarvedTable::LegacyMessages: return "message";
    }
    return "";
}

std::span<const PhoneColumn> PhoneLayout(DeviceKind kind, CarvedTable table)
{
    const bool iphone = kind == kDeviceIphone;
    switch (table) {
    case CarvedTable::Messages: return iphone ? std::span<const PhoneColumn>(kIphone) : kAndroid;
    case CarvedTable::MmsMessages: return iphone ? std::span<const PhoneColumn>() : kAndroidPdu;
    case CarvedTable::MmsParts: return iphone ? std::span<const PhoneColumn>() : kAndroidPart;
    case CarvedTable::Attachments: return iphone ? std::span<const PhoneColumn>(kIphoneAttachment) : std::span<const PhoneColumn>();
    case CarvedTable::RecoverableParts: return iphone ? std::span<const PhoneColumn>(kIphoneRecoverable) : std::span<const PhoneColumn>();
    case CarvedTable::LegacyMessages: return iphone ? std::span<const PhoneColumn>(kIphoneLegacy) : std::span<const PhoneColumn>();
    }
    return {};
}

const PhoneColumn* PhoneColumnNamed(DeviceKind kind, std::string_view name, CarvedTable table)
{
    for (const PhoneColumn& column : PhoneLayout(kind, table)) {
        if (column.name == name) return &column;
    }
    return nullptr;
}

std::span<const std::int32_t> KnownColumnCounts(DeviceKind kind, CarvedTable table)
{
    switch (table) {
    case CarvedTable::Messages: return kind == kDeviceIphone ? std::span<const std::int32_t>(kIphoneCounts) : kAndroidCounts;
    case CarvedTable::MmsMessages: return kPduCounts;
    case CarvedTable::MmsParts: return kPartCounts;
    case CarvedTable::RecoverableParts: return kRecoverableCounts;
    case CarvedTable::LegacyMessages: return kIphoneLegacyCounts;
    case CarvedTable::Attachments: break;  // many releases: the file's own count
    }
    return {};
}

std::span<const CarvedTable> PartTables(DeviceKind kind)
{
    if (kind == kDeviceIphone) return kIphoneParts;
    return kAndroidParts;
}

CarvedTable MessageTableOf(DeviceKind kind, std::span<const std::string> names)
{
    if (kind != kDeviceIphone) return CarvedTable::Messages;
    const bool flags = std::find(names.begin(), names.end(), "flags") != names.end();
    const bool handle = std::find(names.begin(), names.end(), "handle_id") != names.end();
    return flags && !handle ? CarvedTable::LegacyMessages : CarvedTable::Messages;
}

CarvedTable MessageTableOf(const MessageStore& store)
{
    const DeviceKind kind = store.currentReader != nullptr ? static_cast<DeviceKind>(store.currentReader->m_deviceKind) : kDeviceAndroid;
    return MessageTableOf(kind, std::span(store.columnNames).first(static_cast<std::size_t>(std::clamp(store.columnCount, 0, kColumnCapacity))));
}

void UsePhoneLayout(MessageStore& store, DeviceKind kind)
{
    store.columnCount = 0;
    for (const PhoneColumn& column : PhoneLayout(kind)) {
        store.columnNames[store.columnCount] = std::string(column.name);
        store.columnTypes[store.columnCount] = std::string(column.type);
        ++store.columnCount;
    }
}
