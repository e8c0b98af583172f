// Varints and the three record carvers on hand-made record bytes.
#include <gtest/gtest.h>

#include <random>

#include "LiteralCarvers.h"
#include "RecordBytes.h"
#include "StoreHelpers.h"
#include "recovery/Carvers.h"
#include "recovery/Varint.h"

namespace {

using namespace records;

struct VarintCase {
    Bytes bytes;
    std::uint64_t value;
    std::int32_t length;
    std::int32_t contentLength;
};

TEST(ReadVarint, ValuesLengthsAndContentLengths)
{
    const VarintCase cases[] = {
        {{0x00}, 0, 1, 0},
        {{0x81, 0x55}, 213, 2, 100},
        {{0x81, 0x00}, 128, 2, 58},
        {{0x0A}, 10, 1, -1},
        {{0x0B}, 11, 1, -1},
        {{0x0C}, 12, 1, 0},
        {{0x0D}, 13, 1, 0},
        {{0x05}, 5, 1, 6},
        {{0x06}, 6, 1, 8},
        {{0x07}, 7, 1, 8},
        {{0x08}, 8, 1, 0},
        {{0x09}, 9, 1, 0},
        {{0x04}, 4, 1, 4},
        {{0x80, 0x80, 0x01}, 1, 3, 1},  // non-canonical forms are accepted
        {{0x90, 0x80, 0x80, 0x80, 0x05}, (std::uint64_t{1} << 32) + 5, 5, 2147483644},
        // No nine-byte limit: ten bytes, the value taken modulo 2^64.
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, ~std::uint64_t{0} - 126, 10, -70},
    };
    for (const VarintCase& c : cases) {
        std::int32_t length = 0, content = 0;
        EXPECT_EQ(ReadVarint(c.bytes.data(), &length, &content), c.value);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(content, c.contentLength);
        EXPECT_EQ(ReadVarint(c.bytes.data()), c.value);  // outputs are optional
    }
    EXPECT_EQ(static_cast<std::int32_t>(ReadVarint(Bytes{0x90, 0x80, 0x80, 0x80, 0x05}.data())), 5);
}

const std::vector<std::pair<std::string, std::string>> kAndroidSchema = {
    {"_id", "INTEGER"}, {"thread_id", "INTEGER"}, {"address", "TEXT"}, {"date", "INTEGER"},
    {"date_sent", "INTEGER"}, {"type", "INTEGER"}, {"body", "TEXT"}, {"extra", "BOOLEAN"}};

// A valid Android row for kAndroidSchema, with one column replaced.
std::vector<Column> AndroidRow(int replace = -1, Column with = Null())
{
    std::vector<Column> row = {Null(), Int(7, 1), Text("+8613812345678"), Int(1'439'532'000'123, 6),
                               Zero(), One(), Text("晚上好"), Int(1, 1)};
    if (replace >= 0) row[replace] = with;
    return row;
}

class CarverTest : public FreshStore {
protected:
    // Carves at the byte after the header-size byte (default variants) or at it (header
    // variant), in an image made of the bytes followed by the appended zero.
    bool Carve(RecordCarver::Kind kind, const Bytes& bytes, std::size_t at, MessageRecord* record,
               std::int32_t* length = nullptr)
    {
        Bytes image = bytes;
        image.push_back(0);
        const RecordCarver carver(kind, g_store);
        std::int32_t len = -1;
        const bool ok = carver.Carve(len, image.data() + at, record, image.data() + bytes.size());
        // Same verdict and length without an output record, and the same as the reference.
        std::int32_t bare = -1, reference = -1;
        EXPECT_EQ(carver.Carve(bare, image.data() + at, nullptr, image.data() + bytes.size()), ok);
        const auto variant = kind == RecordCarver::Kind::Iphone ? literal::Variant::Iphone
                           : kind == RecordCarver::Kind::Android ? literal::Variant::Android
                                                                 : literal::Variant::AndroidWithHeader;
        EXPECT_EQ(literal::Carve(variant, reference, image.data() + at, nullptr, image.data() + bytes.size()), ok);
        if (ok) {
            EXPECT_EQ(bare, len);
            EXPECT_EQ(reference, len);
        }
        if (length != nullptr) *length = len;
        return ok;
    }
    bool Android(const std::vector<Column>& row, MessageRecord* record = nullptr, std::int32_t* length = nullptr)
    {
        return Carve(RecordCarver::Kind::Android, Record(row), 1, record, length);
    }
};

TEST_F(CarverTest, AndroidDefaultRecognisesAndExtractsARow)
{
    SetSchema(kAndroidSchema);
    MessageRecord record;
    std::int32_t length = 0;
    const Bytes bytes = Record(AndroidRow());
    ASSERT_TRUE(Android(AndroidRow(), &record, &length));
    EXPECT_EQ(length, static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(record.address, "13812345678");
    EXPECT_EQ(record.time, 1'439'532'000'123);
    EXPECT_EQ(record.fromMe, 0);  // type stored as the constant 1: received
    EXPECT_EQ(record.body, "晚上好");
    EXPECT_EQ(record.spillFlag, 0);

    // The position must hold the NULL of column 0: one byte earlier or later is no record.
    EXPECT_FALSE(Carve(RecordCarver::Kind::Android, bytes, 0, nullptr));
    EXPECT_FALSE(Carve(RecordCarver::Kind::Android, bytes, 2, nullptr));
}

TEST_F(CarverTest, AndroidColumnRules)
{
    SetSchema(kAndroidSchema);
    struct RuleCase {
        int column;
        Column value;
        bool accepted;
    };
    const RuleCase cases[] = {
        {3, Int(1, 1), false}, {3, Int(1, 4), false}, {3, Int(1, 8), false}, {3, {7, Bytes(8)}, false},
        {3, Null(), false},    {3, One(), false},     {3, Zero(), true},     {4, Int(5, 6), true},
        {4, Int(5, 2), false}, {1, Null(), false},    {1, Zero(), false},    {1, Int(5, 4), false},
        {1, One(), true},      {1, Int(70000, 3), true},
        {5, Text("1"), false}, {5, Blob({1}), false}, {5, {10, {}}, false},  {5, {7, Bytes(8)}, true},
        {5, Int(2, 1), true},  {6, Blob({1, 2}), false}, {6, Null(), true},  {6, Text(""), true},
        {7, Blob({1, 2, 3}), true}, {7, Text("any"), true},  // a type the rules do not know
        {7, {10, {}}, false},  // but a negative content length never fits
    };
    for (const RuleCase& c : cases) {
        EXPECT_EQ(Android(AndroidRow(c.column, c.value)), c.accepted)
            << "column " << c.column << " serial type " << c.value.serialType;
    }
    // A serial type whose low 32 bits have the top bit set is negative: it passes the integer
    // rule and fails the text rule (either way its huge content never fits here).
    EXPECT_FALSE(Android(AndroidRow(2, {0x80000001ULL, {}})));
}

TEST_F(CarverTest, AndroidExtractionForms)
{
    SetSchema(kAndroidSchema);
    struct AddressCase {
        std::string stored, expected;
    };
    for (const AddressCase& c : {AddressCase{"+8613812345678", "13812345678"}, {"+86", ""},
                                 {"8613812345678", "8613812345678"}, {"+14155550123", "+14155550123"}}) {
        MessageRecord record;
        ASSERT_TRUE(Android(AndroidRow(2, Text(c.stored)), &record));
        EXPECT_EQ(record.address, c.expected);
    }
    MessageRecord record;
    ASSERT_TRUE(Android(AndroidRow(6, Text(std::string("be\0fore", 7))), &record));
    EXPECT_EQ(record.body, "be");  // a text ends at its first zero byte
    ASSERT_TRUE(Android(AndroidRow(3, Int(0xFFFF'FFFF'FFFF, 6)), &record));
    EXPECT_EQ(record.time, 0xFFFF'FFFF'FFFF);  // unsigned 48 bits, no sign extension
    ASSERT_TRUE(Android(AndroidRow(5, Int(1, 1)), &record));
    EXPECT_EQ(record.fromMe, 1);  // 1 as a one-byte integer is not the constant 1
    ASSERT_TRUE(Android(AndroidRow(2, Null()), &record));
    EXPECT_EQ(record.address, "");
    MessageRecord untouched;
    untouched.body = "keep";
    EXPECT_FALSE(Android(AndroidRow(1, Null()), &untouched));
    EXPECT_EQ(untouched.body, "keep");
}

TEST_F(CarverTest, FitTestsAtTheEndOfTheImage)
{
    SetSchema(kAndroidSchema);
    const Bytes whole = Record(AndroidRow());
    // Default variant: the record may end on the last byte or on the appended zero.
    Bytes shortByOne(whole.begin(), whole.end() - 1);
    Bytes shortByTwo(whole.begin(), whole.end() - 2);
    EXPECT_TRUE(Carve(RecordCarver::Kind::Android, whole, 1, nullptr));
    EXPECT_TRUE(Carve(RecordCarver::Kind::Android, shortByOne, 1, nullptr));
    EXPECT_FALSE(Carve(RecordCarver::Kind::Android, shortByTwo, 1, nullptr));
    // Header-size variant: it must end on the last byte of the file.
    EXPECT_TRUE(Carve(RecordCarver::Kind::AndroidWithHeader, whole, 0, nullptr));
    EXPECT_FALSE(Carve(RecordCarver::Kind::AndroidWithHeader, shortByOne, 0, nullptr));
    // Serial types running past the image are rejected, never read beyond it.
    const Bytes types(whole.begin(), whole.begin() + 4);
    EXPECT_FALSE(Carve(RecordCarver::Kind::Android, types, 1, nullptr));
}

TEST_F(CarverTest, HeaderSizeVariantWindowAndTheMissingLastColumn)
{
    SetSchema(kAndroidSchema);  // n = 8: the first byte must lie in 8..18
    std::vector<Column> row = AndroidRow();
    MessageRecord record;
    ASSERT_EQ(Record(row)[0], 9);
    EXPECT_TRUE(Carve(RecordCarver::Kind::AndroidWithHeader, Record(row), 0, &record));
    EXPECT_EQ(record.body, "晚上好");
    // The window of first bytes, on records followed by enough bytes to fit any header size.
    auto padded = [&](long headerSize) {
        Bytes bytes = Record(row, headerSize);
        bytes.insert(bytes.end(), 30, 'x');
        return Carve(RecordCarver::Kind::AndroidWithHeader, bytes, 0, nullptr);
    };
    EXPECT_TRUE(padded(8));
    EXPECT_TRUE(padded(18));
    EXPECT_FALSE(padded(7));
    EXPECT_FALSE(padded(19));

    // A row written before the last column existed: its header says so, the column reads NULL.
    row.pop_back();
    std::int32_t length = 0;
    const Bytes shorter = Record(row);
    ASSERT_EQ(shorter[0], 8);  // 1 + seven one-byte serial types
    ASSERT_TRUE(Carve(RecordCarver::Kind::AndroidWithHeader, shorter, 0, &record, &length));
    EXPECT_EQ(length, static_cast<std::int32_t>(shorter.size()));
    // Two columns short is not recognised that way.
    row.pop_back();
    EXPECT_FALSE(Carve(RecordCarver::Kind::AndroidWithHeader, Record(row, 8), 0, nullptr));

    // alternateCarving hands the default entry point over to the header-size variant.
    Bytes image = Record(AndroidRow(), 8);
    image.push_back(0);
    std::int32_t len = 0;
    EXPECT_FALSE(CarveAndroidRecord(len, image.data(), nullptr, image.data() + image.size() - 1));
    g_store.alternateCarving = 1;
    EXPECT_TRUE(CarveAndroidRecord(len, image.data(), nullptr, image.data() + image.size() - 1));
}

const std::vector<std::pair<std::string, std::string>> kIphoneSchema = {
    {"rowid", "INTEGER"}, {"guid", "TEXT"}, {"text", "TEXT"}, {"handle_id", "INTEGER"},
    {"attributedbody", "BLOB"}, {"version", "INTEGER"}, {"date", "INTEGER"}, {"is_from_me", "INTEGER"},
    {"cache_roomnames", "TEXT"}};

std::vector<Column> IphoneRow(int replace = -1, Column with = Null())
{
    std::vector<Column> row = {Null(), Text("8F2C1A3B-0000-4000"), Text("你好 😀"), Int(3, 1),
                               Blob({1, 2, 3}), Int(10, 1), Int(461'234'567, 4), Zero(), Null()};
    if (replace >= 0) row[replace] = with;
    return row;
}

TEST_F(CarverTest, IphoneRulesAndExtraction)
{
    SetSchema(kIphoneSchema);
    auto carve = [&](const std::vector<Column>& row, MessageRecord* record = nullptr) {
        return Carve(RecordCarver::Kind::Iphone, Record(row), 1, record);
    };
    MessageRecord record;
    ASSERT_TRUE(carve(IphoneRow(), &record));
    EXPECT_EQ(record.body, "你好 😀");
    EXPECT_EQ(record.address, "3");
    EXPECT_EQ(record.time, 461'234'567);
    EXPECT_EQ(record.fromMe, 0);

    for (const Column& date : {Int(1, 1), Int(1, 2), Int(1, 3), Int(1, 6), Int(1, 8), Column{7, Bytes(8)},
                               Null(), Zero(), One()}) {
        EXPECT_FALSE(carve(IphoneRow(6, date))) << "date serial type " << date.serialType;
    }
    for (const Column& version : {Null(), Zero(), One(), Int(10, 6)}) {
        EXPECT_FALSE(carve(IphoneRow(5, version))) << "version serial type " << version.serialType;
    }
    EXPECT_TRUE(carve(IphoneRow(5, Int(10, 4))));
    EXPECT_FALSE(carve(IphoneRow(2, Blob({1}))));  // TEXT column holding a blob
    EXPECT_FALSE(carve(IphoneRow(4, Text("x"))));  // BLOB column holding a text
    EXPECT_TRUE(carve(IphoneRow(4, Null())));
    ASSERT_TRUE(carve(IphoneRow(2, Text("")), &record));
    EXPECT_EQ(record.body, "");

    struct HandleCase {
        Column stored;
        const char* address;
    };
    for (const HandleCase& c : {HandleCase{One(), "1"}, {Null(), "0"}, {Zero(), "0"},
                                {Int(0x80000005, 4), "-2147483643"}, {Int(0x1'0000'0007, 6), "7"}}) {
        ASSERT_TRUE(carve(IphoneRow(3, c.stored), &record));
        EXPECT_EQ(record.address, c.address);
    }
    for (const Column& mine : {Null(), One(), Int(0, 1), Int(5, 1)}) {
        ASSERT_TRUE(carve(IphoneRow(7, mine), &record));
        EXPECT_EQ(record.fromMe, 1);
    }

    // Fit: ending on the last byte or on the appended zero is accepted, a byte later is not.
    const Bytes whole = Record(IphoneRow());
    EXPECT_TRUE(Carve(RecordCarver::Kind::Iphone, Bytes(whole.begin(), whole.end() - 1), 1, nullptr));
    EXPECT_FALSE(Carve(RecordCarver::Kind::Iphone, Bytes(whole.begin(), whole.end() - 2), 1, nullptr));
}

// The same record behind N junk bytes is found N bytes later, with the same length and fields.
TEST_F(CarverTest, ShiftedRecordsGiveTheSameFinds)
{
    struct Setup {
        std::vector<std::pair<std::string, std::string>> schema;
        RecordCarver::Kind kind;
        Bytes record;
        std::size_t at;  // candidate offset inside the record bytes
    };
    const Setup setups[] = {
        {kAndroidSchema, RecordCarver::Kind::Android, Record(AndroidRow()), 1},
        {kAndroidSchema, RecordCarver::Kind::AndroidWithHeader, Record(AndroidRow()), 0},
        {kIphoneSchema, RecordCarver::Kind::Iphone, Record(IphoneRow()), 1},
    };
    std::mt19937 random(5);
    for (const Setup& s : setups) {
        SetSchema(s.schema);
        const RecordCarver carver(s.kind, g_store);
        MessageRecord expected;
        std::int32_t expectedLength = 0;
        {
            Bytes image = s.record;
            image.push_back(0);
            ASSERT_TRUE(carver.Carve(expectedLength, image.data() + s.at, &expected, image.data() + s.record.size()));
        }
        for (std::size_t shift : {1u, 2u, 7u, 100u, 4095u}) {
            Bytes image;
            for (std::size_t i = 0; i < shift; ++i) image.push_back(static_cast<std::uint8_t>(random() | 1));
            image.insert(image.end(), s.record.begin(), s.record.end());
            const std::size_t size = image.size();
            image.push_back(0);
            MessageRecord found;
            std::int32_t length = 0;
            ASSERT_TRUE(carver.Carve(length, image.data() + shift + s.at, &found, image.data() + size));
            EXPECT_EQ(length, expectedLength);
            EXPECT_EQ(found, expected);
        }
    }
}

// Random schemas and random bytes (biased toward plausible serial types): the carvers agree
// with the step-by-step reference in verdict, length and every extracted field.
TEST_F(CarverTest, FastCarversAgreeWithTheReferenceOnRandomInput)
{
    std::mt19937 random(1234);
    const char* names[] = {"_id", "thread_id", "address", "date", "date_sent", "type", "body",
                           "text", "handle_id", "version", "is_from_me", "other"};
    const char* types[] = {"INTEGER", "TEXT", "BLOB", "REAL", ""};
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::pair<std::string, std::string>> schema;
        const int n = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < n; ++i) schema.emplace_back(names[random() % 12], types[random() % 5]);
        SetSchema(schema);
        Bytes image(1 + random() % 200);
        for (auto& b : image) {
            const auto r = random() % 10;
            b = static_cast<std::uint8_t>(r < 4 ? random() % 14 : r < 5 ? 0x80 | random() : random());
        }
        const std::size_t size = image.size();
        image.push_back(0);
        for (const auto kind : {RecordCarver::Kind::Android, RecordCarver::Kind::AndroidWithHeader,
                                RecordCarver::Kind::Iphone}) {
            const RecordCarver carver(kind, g_store);
            const auto variant = kind == RecordCarver::Kind::Iphone ? literal::Variant::Iphone
                               : kind == RecordCarver::Kind::Android ? literal::Variant::Android
                                                                     : literal::Variant::AndroidWithHeader;
            for (std::size_t at = 0; at <= size; ++at) {
                MessageRecord fast, reference;
                std::int32_t fastLength = -1, referenceLength = -1;
                const bool a = carver.Carve(fastLength, image.data() + at, &fast, image.data() + size);
                const bool b = literal::Carve(variant, referenceLength, image.data() + at, &reference,
                                              image.data() + size);
                ASSERT_EQ(a, b) << "round " << round << " offset " << at << " kind " << static_cast<int>(kind) << " n " << n << " size " << size;
                if (a) {
                    ++accepted;
                    ASSERT_EQ(fastLength, referenceLength);
                    fast.threadId = 0;  // the reference carvers keep no thread
                    ASSERT_EQ(fast, reference);
                }
            }
        }
    }
    EXPECT_GT(accepted, 1000);  // the comparison covered many accepted candidates
}

}  // namespace
