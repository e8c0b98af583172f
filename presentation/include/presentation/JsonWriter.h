// Writing JSON as it is produced, without building a document in memory: the companion's
// reports run to hundreds of thousands of messages. The layout is nlohmann/json's dump(2):
// two-space indentation, ": " after keys, "[]" and "{}" for empty containers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
public:
    // Writes to `out` through its own buffer, which Flush (and the destructor) empties.
    explicit JsonWriter(std::FILE* out) : m_out(out) {}
    // Collects the text instead; Text() returns it.
    JsonWriter() = default;
    ~JsonWriter() { Flush(); }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // The key of the next member of the current object.
    void Key(std::string_view key);
    // A string value; bytes that are not valid UTF-8 are written as U+FFFD.
    void String(std::string_view text);
    void Int(std::int64_t value);
    void Bool(bool value);
    void Null();

    // Shorthands for a member of the current object.
    void Member(std::string_view key, std::string_view text) { Key(key), String(text); }
    void Member(std::string_view key, const char* text) { Key(key), String(text); }
    void Member(std::string_view key, std::int64_t value) { Key(key), Int(value); }
    void Member(std::string_view key, std::int32_t value) { Key(key), Int(value); }
    void Member(std::string_view key, bool value) { Key(key), Bool(value); }

    // Ends the document with a line break and writes out the buffer.
    void Finish();
    void Flush();
    const std::string& Text() const { return m_buffer; }

private:
    void BeforeValue();
    void WriteQuoted(std::string_view text);
    void Open(char bracket);
    void Close(char bracket);
    void Indent();

    std::FILE* m_out = nullptr;
    std::string m_buffer;
    struct Level {
        bool object;
        std::size_t members = 0;
    };
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};
