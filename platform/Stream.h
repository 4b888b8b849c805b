#pragma once
// Byte streams: files, memory banks and the built-in media, behind one interface.
// Readers that need an exact number of bytes use ReadBytes/WriteBytes, which raise
// TStreamReadException ("Error reading from stream") or TStreamWriteException
// ("Error writing to stream") on a short transfer; these reach the caller. Readers and
// savers that know more (the file, the record, the system's reason) add it after a colon.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Object.h"

namespace kin {

class TStreamReadException : public std::runtime_error {
public:
    /// The bare text "Error reading from stream".
    TStreamReadException() : std::runtime_error(kText) {}
    /// "Error reading from stream: " + detail (what was being read, and why it failed).
    explicit TStreamReadException(const std::string& detail)
        : std::runtime_error(detail.empty() ? std::string(kText) : std::string(kText) + ": " + detail) {}
    /// A short read (bare text): it needed the first `needed` bytes of a stream of `size` (-1: unknown).
    TStreamReadException(int64_t needed, int64_t size) : std::runtime_error(kText), needed_(needed), size_(size) {}
    /// The text after "Error reading from stream: " ("" when there is none).
    const char* Detail() const noexcept;
    /// Bytes from the start that the short read needed (-1 when unknown or not a short read).
    int64_t Needed() const noexcept { return needed_; }
    /// The stream's size when the short read failed (-1 when unknown).
    int64_t StreamSize() const noexcept { return size_; }

private:
    static constexpr const char* kText = "Error reading from stream";
    int64_t needed_ = -1;
    int64_t size_ = -1;
};

class TStreamWriteException : public std::runtime_error {
public:
    /// The bare text "Error writing to stream".
    TStreamWriteException() : std::runtime_error(kText) {}
    /// "Error writing to stream: " + detail (the file, and the system's reason).
    explicit TStreamWriteException(const std::string& detail)
        : std::runtime_error(detail.empty() ? std::string(kText) : std::string(kText) + ": " + detail) {}
    /// The text after "Error writing to stream: " ("" when there is none).
    const char* Detail() const noexcept;

private:
    static constexpr const char* kText = "Error writing to stream";
};

class TStream : public TObject {
public:
    /// Reads up to n bytes into buf; returns how many were read (0 at the end).
    virtual int64_t Read(void* buf, int64_t n) = 0;
    /// Writes up to n bytes; returns how many were written.
    virtual int64_t Write(const void* buf, int64_t n) = 0;
    /// True when no byte is left to read.
    virtual bool Eof() = 0;
    /// Current position in bytes, or -1 when the stream cannot tell.
    virtual int64_t Pos() = 0;
    /// Total size in bytes, or -1 when unknown.
    virtual int64_t Size() = 0;
    /// Moves to an absolute position; returns the new position or -1.
    virtual int64_t Seek(int64_t pos) = 0;
    /// Pushes buffered output to the operating system (and to disk when durable is true).
    /// Returns false when that failed.
    virtual bool Flush(bool durable = false) { (void)durable; return true; }
    /// Flushes and releases the underlying resource; later reads and writes transfer nothing.
    virtual void Close() {}

    /// Reads exactly n bytes or raises TStreamReadException.
    void ReadBytes(void* buf, int64_t n);
    /// Writes exactly n bytes or raises TStreamWriteException.
    void WriteBytes(const void* buf, int64_t n);
};

/// A stream over a file on disk. Opening fails (null) when the file cannot be opened.
/// Output is buffered: a failed write may only show at Flush, which reports every failure
/// since the stream was opened, so savers should check Flush(true) before closing.
class TFileStream : public TStream {
public:
    enum Mode { READ = 1, WRITE = 2, READWRITE = 3 };
    /// Opens path (relative to the working directory); WRITE creates or truncates,
    /// READWRITE updates in place and creates a missing file. Null on failure or a directory.
    static Ref<TFileStream> Open(const std::string& path, Mode mode);
    ~TFileStream() override;
    int64_t Read(void* buf, int64_t n) override;
    int64_t Write(const void* buf, int64_t n) override;
    bool Eof() override;
    int64_t Pos() override;
    int64_t Size() override;
    int64_t Seek(int64_t pos) override;
    /// Returns false when this or any earlier write, flush or sync failed; durable also fsyncs.
    bool Flush(bool durable = false) override;
    void Close() override;
    /// True once any write, flush, sync or close has failed.
    bool Failed() const noexcept { return failed_; }

private:
    explicit TFileStream(void* file) : file_(file) {}
    void Switch(int op);
    void* file_;       // FILE*, null once closed
    int mode_ = READ;  // Mode bits
    int lastOp_ = 0;   // 0 none/seek, 1 read, 2 write
    bool failed_ = false;
};

/// A stream over bytes in memory. Either owns a growable buffer (writable) or reads a
/// borrowed constant block (the built-in media), which must outlive the stream.
class TBankStream : public TStream {
public:
    /// An empty, writable, growable bank.
    TBankStream() = default;
    /// A read-only view of size bytes at data (not copied, not owned).
    TBankStream(const void* data, int64_t size)
        : view_(static_cast<const uint8_t*>(data)), size_(data && size > 0 ? size : 0) {
        static const uint8_t kEmpty = 0;
        if (!view_) view_ = &kEmpty;
    }
    /// A readable copy of bytes.
    explicit TBankStream(std::vector<uint8_t> bytes);

    int64_t Read(void* buf, int64_t n) override;
    int64_t Write(const void* buf, int64_t n) override;
    bool Eof() override { return pos_ >= Size(); }
    int64_t Pos() override { return pos_; }
    int64_t Size() override { return view_ ? size_ : static_cast<int64_t>(bytes_.size()); }
    int64_t Seek(int64_t pos) override;

    /// True for a borrowed, read-only view.
    bool IsView() const noexcept { return view_ != nullptr; }
    /// The bytes written so far (owned banks only).
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    const uint8_t* view_ = nullptr;
    int64_t size_ = 0;
    int64_t pos_ = 0;
};

/// Opens a media name for reading: "incbin::NAME" looks NAME up among the built-in data
/// files, anything else is a file path relative to the working directory. Null when absent.
Ref<TStream> OpenMedia(const std::string& name);

}  // namespace kin
