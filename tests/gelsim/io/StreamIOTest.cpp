// The stream primitives, byte for byte, and their errors.
#include <cmath>
#include <cstring>

#include "tests/support/BodyFixture.h"

namespace kin::gelsim::test {
namespace {

template <class F>
Bytes Written(F write) {
    TBankStream s;
    write(s);
    return s.Bytes();
}

TEST(StreamPrimitives, NumbersAreLittleEndian) {
    EXPECT_EQ(Written([](TStream& s) { WriteInt(s, 1); }), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(Written([](TStream& s) { WriteInt(s, -1); }), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Written([](TStream& s) { WriteInt(s, 0x12345678); }), (Bytes{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(Written([](TStream& s) { WriteFloat(s, 482.0f); }), (Bytes{0x00, 0x00, 0xF1, 0x43}));
    EXPECT_EQ(Written([](TStream& s) { WriteFloat(s, 3906.0f); }), (Bytes{0x00, 0x20, 0x74, 0x45}));
    EXPECT_EQ(Written([](TStream& s) { WriteByte(s, 0x1FF); }), (Bytes{0xFF}));
    EXPECT_EQ(Written([](TStream& s) { WriteString(s, "B111", 4); }), (Bytes{'B', '1', '1', '1'}));
    EXPECT_EQ(Written([](TStream& s) { WriteString(s, "ab", 4); }), (Bytes{'a', 'b', 0, 0}));
}

TEST(StreamPrimitives, ValuesComeBackBitForBit) {
    uint32_t nanBits = 0x7FC01234u;
    float nan;
    std::memcpy(&nan, &nanBits, 4);
    TBankStream s;
    WriteInt(s, INT32_MIN);
    WriteFloat(s, -0.0f);
    WriteFloat(s, nan);
    WriteByte(s, 200);
    WriteString(s, std::string("\xE9\x01Z\xFF", 4), 4);
    s.Seek(0);
    EXPECT_EQ(ReadInt(s), INT32_MIN);
    const float z = ReadFloat(s);
    EXPECT_TRUE(z == 0.0f && std::signbit(z));
    const float n = ReadFloat(s);
    uint32_t bits;
    std::memcpy(&bits, &n, 4);
    EXPECT_EQ(bits, nanBits);
    EXPECT_EQ(ReadByte(s), 200);  // unsigned, not -56
    EXPECT_EQ(ReadString(s, 4), std::string("\xE9\x01Z\xFF", 4));
}

struct LineCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;  // read one after the other
};

class LineReading : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineReading, FollowsTheTerminatorRules) {
    TBankStream s(Bytes(GetParam().bytes.begin(), GetParam().bytes.end()));
    for (const auto& expected : GetParam().lines) EXPECT_EQ(ReadLine(s), expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineReading,
                         ::testing::Values(LineCase{"CrLf", "Body\r\nNext\r\n", {"Body", "Next", ""}},
                                           LineCase{"CrDroppedAnywhere", "a\rb\r\n", {"ab"}},
                                           LineCase{"NulEndsALine", std::string("ab\0cd\n", 6), {"ab", "cd"}},
                                           LineCase{"EndOfDataWithoutError", "tail", {"tail", ""}},
                                           LineCase{"EmptyLines", "\n\n", {"", "", ""}}),
                         [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(StreamPrimitives, LineWritesCrLfAndStopsWhereAReaderWould) {
    EXPECT_EQ(Written([](TStream& s) { WriteLine(s, "Body"); }), (Bytes{'B', 'o', 'd', 'y', 13, 10}));
    EXPECT_EQ(Written([](TStream& s) { WriteLine(s, "a\rb"); }), (Bytes{'a', 13, 'b', 13, 10}));
    // Bytes after an LF or NUL would be read back as the next field and shift the file.
    EXPECT_EQ(Written([](TStream& s) { WriteLine(s, "a\nb"); }), (Bytes{'a', 13, 10}));
    EXPECT_EQ(Written([](TStream& s) { WriteLine(s, std::string("a\0b", 3)); }), (Bytes{'a', 13, 10}));
}

TEST(StreamPrimitives, ShortDataRaisesTheReadError) {
    const std::vector<std::pair<const char*, std::function<void(TStream&)>>> readers = {
        {"int", [](TStream& s) { ReadInt(s); }},
        {"float", [](TStream& s) { ReadFloat(s); }},
        {"byte", [](TStream& s) { ReadByte(s); }},
        {"string", [](TStream& s) { ReadString(s, 4); }},
    };
    for (const auto& [what, read] : readers) {
        TBankStream s(Bytes{1, 2, 3});
        if (std::string(what) == "byte") s.Seek(3);
        try {
            read(s);
            ADD_FAILURE() << what << " read past the end";
        } catch (const TStreamReadException& e) {
            EXPECT_STREQ(e.what(), "Error reading from stream") << what;
        }
    }
}

TEST(StreamPrimitives, RefusedBytesRaiseTheWriteError) {
    const uint8_t data[1] = {0};
    TBankStream readOnly(data, 1);
    try {
        WriteInt(readOnly, 5);
        ADD_FAILURE() << "a read-only stream took bytes";
    } catch (const TStreamWriteException& e) {
        EXPECT_STREQ(e.what(), "Error writing to stream");
    }
    EXPECT_THROW(WriteLine(readOnly, "x"), TStreamWriteException);
}

TEST(StreamPrimitives, FormatErrorsAreReadErrorsWithTheirOwnReason) {
    try {
        throw TFileFormatException("mass record 9 is outside its table of 4");
    } catch (const TStreamReadException& e) {
        EXPECT_STREQ(e.what(), "mass record 9 is outside its table of 4");
    }
}

}  // namespace
}  // namespace kin::gelsim::test
