#include "platform/Stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Media.h"

namespace kin {

// ---------------------------------------------------------------------------------------
// Errors

namespace {
// The detail of a message that starts with lead: what follows "lead: ".
const char* After(const char* text, const char* lead) noexcept {
    const size_t n = std::strlen(lead);
    if (std::strncmp(text, lead, n) != 0 || text[n] != ':') return "";
    return text[n + 1] == ' ' ? text + n + 2 : text + n + 1;
}
}  // namespace

// The base class's text: a file format error overrides what() with its own reason.
const char* TStreamReadException::Detail() const noexcept { return After(std::runtime_error::what(), kText); }
const char* TStreamWriteException::Detail() const noexcept { return After(std::runtime_error::what(), kText); }

// ---------------------------------------------------------------------------------------
// Exact transfers

void TStream::ReadBytes(void* buf, int64_t n) {
    if (n < 0) throw TStreamReadException();
    auto* p = static_cast<uint8_t*>(buf);
    int64_t done = 0;
    while (done < n) {
        int64_t got = Read(p + done, n - done);
        if (got <= 0) {
            // Where the data ran out, for readers that report it; the text stays the bare one.
            const int64_t pos = Pos();
            throw TStreamReadException(pos >= 0 ? pos + (n - done) : -1, Size());
        }
        done += got;
    }
}

void TStream::WriteBytes(const void* buf, int64_t n) {
    if (n < 0) throw TStreamWriteException();
    auto* p = static_cast<const uint8_t*>(buf);
    int64_t done = 0;
    while (done < n) {
        int64_t put = Write(p + done, n - done);
        if (put <= 0) throw TStreamWriteException();
        done += put;
    }
}

// ---------------------------------------------------------------------------------------
// Files

namespace {
FILE* F(void* p) { return static_cast<FILE*>(p); }
}  // namespace

Ref<TFileStream> TFileStream::Open(const std::string& path, Mode mode) {
    if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
    FILE* f = nullptr;
    switch (mode) {
        case READ: f = std::fopen(path.c_str(), "rb"); break;
        case WRITE: f = std::fopen(path.c_str(), "wb"); break;
        case READWRITE:
            // Update in place without truncating; create the file when it is missing.
            f = std::fopen(path.c_str(), "r+b");
            if (!f && errno == ENOENT) f = std::fopen(path.c_str(), "w+b");
            break;
        default: return nullptr;
    }
    if (!f) return nullptr;
    // fopen happily opens a directory for reading; every read would then fail.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    auto* s = new TFileStream(f);
    s->mode_ = mode;
    return Ref<TFileStream>(s);
}

TFileStream::~TFileStream() { Close(); }

void TFileStream::Switch(int op) {
    // A FILE opened for update needs a positioning call between reading and writing.
    if (lastOp_ != 0 && lastOp_ != op) std::fseek(F(file_), 0, SEEK_CUR);
    lastOp_ = op;
}

int64_t TFileStream::Read(void* buf, int64_t n) {
    if (!file_ || n <= 0 || !(mode_ & READ)) return 0;
    Switch(1);
    size_t got = std::fread(buf, 1, static_cast<size_t>(n), F(file_));
    return static_cast<int64_t>(got);
}

int64_t TFileStream::Write(const void* buf, int64_t n) {
    if (!file_ || n <= 0 || !(mode_ & WRITE)) return 0;
    // Once the device has refused bytes, whatever is still buffered is suspect: accept
    // nothing more, so exact writes fail instead of trickling on through the buffer.
    if (failed_) return 0;
    Switch(2);
    size_t put = std::fwrite(buf, 1, static_cast<size_t>(n), F(file_));
    if (std::ferror(F(file_))) {
        failed_ = true;
        return 0;
    }
    if (static_cast<int64_t>(put) != n) failed_ = true;
    return static_cast<int64_t>(put);
}

bool TFileStream::Eof() {
    if (!file_) return true;
    int64_t size = Size();
    int64_t pos = Pos();
    if (size >= 0 && pos >= 0) return pos >= size;
    return std::feof(F(file_)) != 0;
}

int64_t TFileStream::Pos() {
    if (!file_) return -1;
    return static_cast<int64_t>(ftello(F(file_)));
}

int64_t TFileStream::Size() {
    if (!file_) return -1;
    // Buffered output is not yet in the file the system sees.
    if (lastOp_ == 2 && std::fflush(F(file_)) != 0) failed_ = true;
    struct stat st;
    if (fstat(fileno(F(file_)), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t TFileStream::Seek(int64_t pos) {
    if (!file_ || pos < 0) return -1;
    if (fseeko(F(file_), static_cast<off_t>(pos), SEEK_SET) != 0) return -1;
    lastOp_ = 0;
    return Pos();
}

bool TFileStream::Flush(bool durable) {
    if (!file_) return !failed_;
    if (std::fflush(F(file_)) != 0) failed_ = true;
    if (std::ferror(F(file_))) failed_ = true;
    if (durable && (mode_ & WRITE) && fsync(fileno(F(file_))) != 0) failed_ = true;
    return !failed_;
}

void TFileStream::Close() {
    if (!file_) return;
    if (std::fclose(F(file_)) != 0) failed_ = true;
    file_ = nullptr;
}

// ---------------------------------------------------------------------------------------
// Memory banks

TBankStream::TBankStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

int64_t TBankStream::Read(void* buf, int64_t n) {
    int64_t size = Size();
    if (n <= 0 || pos_ >= size) return 0;
    int64_t take = n < size - pos_ ? n : size - pos_;
    const uint8_t* src = view_ ? view_ : bytes_.data();
    std::memcpy(buf, src + pos_, static_cast<size_t>(take));
    pos_ += take;
    return take;
}

int64_t TBankStream::Write(const void* buf, int64_t n) {
    if (view_ || n <= 0) return 0;  // borrowed views are read-only
    auto end = static_cast<uint64_t>(pos_) + static_cast<uint64_t>(n);
    if (end > bytes_.max_size()) return 0;
    if (end > bytes_.size()) bytes_.resize(static_cast<size_t>(end));
    std::memcpy(bytes_.data() + pos_, buf, static_cast<size_t>(n));
    pos_ = static_cast<int64_t>(end);
    return n;
}

int64_t TBankStream::Seek(int64_t pos) {
    if (pos < 0 || pos > Size()) return -1;
    pos_ = pos;
    return pos_;
}

// ---------------------------------------------------------------------------------------
// Media names

Ref<TStream> OpenMedia(const std::string& name) {
    static const std::string kPrefix = "incbin::";
    if (name.compare(0, kPrefix.size(), kPrefix) == 0) {
        const IncbinEntry* e = FindIncbin(name.substr(kPrefix.size()));
        if (!e) return nullptr;
        return Ref<TStream>(new TBankStream(e->data, e->size));
    }
    return Ref<TStream>(TFileStream::Open(name, TFileStream::READ));
}

}  // namespace kin
