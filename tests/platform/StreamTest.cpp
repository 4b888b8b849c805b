// Byte streams: exact transfers and their two errors, memory banks, files, media names.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Media.h"
#include "platform/Stream.h"

namespace fs = std::filesystem;
using namespace kin;

namespace {

std::string ReadMessage(TStream& s, int64_t n) {
    std::vector<uint8_t> buf(static_cast<size_t>(n > 0 ? n : 1));
    try {
        s.ReadBytes(buf.data(), n);
    } catch (const std::runtime_error& e) {  // both errors are runtime errors
        return e.what();
    }
    return "";
}

std::string WriteMessage(TStream& s, int64_t n) {
    std::vector<uint8_t> buf(static_cast<size_t>(n > 0 ? n : 1), 7);
    try {
        s.WriteBytes(buf.data(), n);
    } catch (const TStreamWriteException& e) {
        return e.what();
    }
    return "";
}

class FileStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kin_stream_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

}  // namespace

TEST(StreamErrors, ShortReadsAndRefusedWritesRaiseTheirExactMessages) {
    const uint8_t three[3] = {1, 2, 3};
    TBankStream view(three, 3);
    EXPECT_EQ(ReadMessage(view, 4), "Error reading from stream");
    TBankStream empty;
    EXPECT_EQ(ReadMessage(empty, 1), "Error reading from stream");
    EXPECT_EQ(ReadMessage(empty, -1), "Error reading from stream");
    EXPECT_EQ(ReadMessage(empty, 0), "");  // nothing asked, nothing missing

    TBankStream readOnly(three, 3);
    EXPECT_EQ(WriteMessage(readOnly, 1), "Error writing to stream");
    TBankStream owned;
    EXPECT_EQ(WriteMessage(owned, 5), "");
    EXPECT_EQ(owned.Size(), 5);
}

TEST(StreamErrors, AShortReadConsumesWhatWasThere) {
    const uint8_t three[3] = {1, 2, 3};
    TBankStream view(three, 3);
    uint8_t buf[8];
    EXPECT_THROW(view.ReadBytes(buf, 8), TStreamReadException);
    EXPECT_TRUE(view.Eof());
}

TEST(BankStream, WritesSeeksAndReadsBack) {
    TBankStream bank;
    const char text[] = "slime";
    bank.WriteBytes(text, 5);
    EXPECT_EQ(bank.Pos(), 5);
    EXPECT_EQ(bank.Seek(1), 1);
    bank.WriteBytes("L", 1);  // overwrite in place
    EXPECT_EQ(bank.Size(), 5);
    EXPECT_EQ(bank.Seek(6), -1);
    EXPECT_EQ(bank.Seek(-1), -1);
    EXPECT_EQ(bank.Seek(0), 0);
    char back[6] = {};
    EXPECT_EQ(bank.Read(back, 100), 5);  // a plain Read returns what there is
    EXPECT_STREQ(back, "sLime");
    EXPECT_TRUE(bank.Eof());
    EXPECT_EQ(bank.Read(back, 1), 0);
}

TEST(BankStream, ViewsBorrowWithoutCopyingAndCopiesOwn) {
    uint8_t data[4] = {9, 8, 7, 6};
    TBankStream view(data, 4);
    EXPECT_TRUE(view.IsView());
    data[0] = 42;  // a view sees the bytes as they are now
    uint8_t b = 0;
    view.ReadBytes(&b, 1);
    EXPECT_EQ(b, 42);

    TBankStream nullView(nullptr, 10);  // nonsense sizes give an empty view
    EXPECT_EQ(nullView.Size(), 0);
    EXPECT_TRUE(nullView.Eof());

    TBankStream copy(std::vector<uint8_t>{1, 2});
    EXPECT_FALSE(copy.IsView());
    copy.Seek(2);
    copy.WriteBytes(data, 4);
    EXPECT_EQ(copy.Size(), 6);
}

TEST_F(FileStreamTest, FileWrittenThenReadBack) {
    {
        auto out = TFileStream::Open(Path("a.bin"), TFileStream::WRITE);
        ASSERT_TRUE(out);
        const int32_t v = -5;
        out->WriteBytes(&v, 4);
        out->WriteBytes("xyz", 3);
        EXPECT_EQ(out->Size(), 7);  // buffered bytes count too
        EXPECT_TRUE(out->Flush(true));
        uint8_t b;
        EXPECT_EQ(out->Read(&b, 1), 0);  // write-only
    }
    auto in = TFileStream::Open(Path("a.bin"), TFileStream::READ);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->Size(), 7);
    int32_t v = 0;
    in->ReadBytes(&v, 4);
    EXPECT_EQ(v, -5);
    EXPECT_FALSE(in->Eof());
    char s[3];
    in->ReadBytes(s, 3);
    EXPECT_TRUE(in->Eof());
    EXPECT_THROW(in->ReadBytes(s, 1), TStreamReadException);
    EXPECT_EQ(in->Write("q", 1), 0);  // read-only
    in->Close();
    EXPECT_EQ(in->Read(s, 1), 0);
    EXPECT_EQ(in->Pos(), -1);
}

TEST_F(FileStreamTest, ReadWriteKeepsContentsAndSwitchesDirection) {
    {
        auto out = TFileStream::Open(Path("rw.bin"), TFileStream::WRITE);
        out->WriteBytes("abcdef", 6);
    }
    auto rw = TFileStream::Open(Path("rw.bin"), TFileStream::READWRITE);
    ASSERT_TRUE(rw);
    char c[2];
    rw->ReadBytes(c, 2);
    rw->WriteBytes("XY", 2);  // lands at offset 2
    rw->ReadBytes(c, 2);
    EXPECT_EQ(std::string(c, 2), "ef");
    rw->Seek(0);
    char all[6];
    rw->ReadBytes(all, 6);
    EXPECT_EQ(std::string(all, 6), "abXYef");

    auto fresh = TFileStream::Open(Path("new.bin"), TFileStream::READWRITE);  // created when missing
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->Size(), 0);
}

TEST_F(FileStreamTest, FilesThatCannotBeOpenedGiveNull) {
    EXPECT_FALSE(TFileStream::Open(Path("missing/dir/x.bin"), TFileStream::WRITE));
    EXPECT_FALSE(TFileStream::Open(Path("absent.bin"), TFileStream::READ));
    EXPECT_FALSE(TFileStream::Open(dir_.string(), TFileStream::READ));  // a directory
    EXPECT_FALSE(TFileStream::Open("", TFileStream::READ));
}

TEST(FileStream, WriteFailuresAreReportedNotSwallowed) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto full = TFileStream::Open("/dev/full", TFileStream::WRITE);
    ASSERT_TRUE(full);
    full->Write("x", 1);           // buffered: accepted for now
    EXPECT_FALSE(full->Flush());   // but the device refuses it
    EXPECT_TRUE(full->Failed());
    EXPECT_FALSE(full->Flush());   // and the failure sticks
    std::vector<uint8_t> big(1 << 20, 1);
    EXPECT_THROW(full->WriteBytes(big.data(), static_cast<int64_t>(big.size())), TStreamWriteException);
}

TEST_F(FileStreamTest, MediaNamesResolveToBuiltInBytesOrFiles) {
    static const uint8_t kBytes[] = {'g', 'e', 'l'};
    RegisterIncbin("test/stream-probe.bin", kBytes, 3);
    {
        auto out = TFileStream::Open(Path("probe.bin"), TFileStream::WRITE);
        out->WriteBytes("disk", 4);
    }

    Ref<TStream> builtIn = OpenMedia("incbin::test/stream-probe.bin");
    ASSERT_TRUE(builtIn);
    EXPECT_TRUE(Is<TBankStream>(builtIn.Get()));
    EXPECT_EQ(builtIn->Size(), 3);
    char b[3];
    builtIn->ReadBytes(b, 3);
    EXPECT_EQ(std::string(b, 3), "gel");
    EXPECT_EQ(builtIn->Write("x", 1), 0);  // built-in data is read-only

    Ref<TStream> file = OpenMedia(Path("probe.bin"));
    ASSERT_TRUE(file);
    EXPECT_TRUE(Is<TFileStream>(file.Get()));
    EXPECT_EQ(file->Size(), 4);

    EXPECT_FALSE(OpenMedia("incbin::test/not-registered.bin"));
    EXPECT_FALSE(OpenMedia("incbin::" + Path("probe.bin")));  // the prefix never reaches the disk
    EXPECT_FALSE(OpenMedia("test/stream-probe.bin"));         // nor does a plain name reach the registry
    EXPECT_FALSE(OpenMedia(""));
}
