#include "gelsim/bodies/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/Stream.h"

namespace kin::gelsim {
namespace fs = std::filesystem;

std::string ResolvePath(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec) return path;
    return p.lexically_normal().string();
}

bool HasExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || dot > slash;
}

std::string CompletePath(const std::string& path, const std::string& ext) {
    return HasExtension(path) ? path : path + ext;
}

std::string StripExtension(const std::string& path) {
    return HasExtension(path) ? path.substr(0, path.rfind('.')) : path;
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(fs::path(path), ec);
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(fs::path(path), ec);
}

namespace {

// A temporary file beside the target; removed on destruction unless committed.
class TempFile {
public:
    explicit TempFile(const std::string& target) {
        const size_t slash = target.rfind('/');
        const std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        std::string pattern = dir + (dir.empty() || dir.back() == '/' ? "" : "/") + "." + base + ".tmpXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        fd_ = mkstemp(buf.data());
        if (fd_ < 0) throw TStreamWriteException();
        path_ = buf.data();
    }
    ~TempFile() {
        if (fd_ >= 0) close(fd_);
        if (!path_.empty() && !committed_) unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void Write(const void* data, size_t size) {
        auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::write(fd_, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw TStreamWriteException();
            p += n;
            size -= static_cast<size_t>(n);
        }
    }
    /// Gives the file the permissions it should end with, syncs and closes it.
    void Finish(mode_t mode) {
        if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0) throw TStreamWriteException();
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) throw TStreamWriteException();
    }
    /// Renames the finished file over target.
    void CommitTo(const std::string& target) {
        if (std::rename(path_.c_str(), target.c_str()) != 0) throw TStreamWriteException();
        committed_ = true;
    }

private:
    int fd_ = -1;
    std::string path_;
    bool committed_ = false;
};

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

void SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);  // best effort: the data itself is already synced
    close(fd);
}

}  // namespace

void SaveFileAtomically(const std::string& path, const void* data, size_t size, bool backup) {
    if (path.empty() || IsDirectory(path)) throw TStreamWriteException();
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) throw TStreamWriteException();
    const mode_t mode = exists ? static_cast<mode_t>(st.st_mode & 07777) : NewFileMode();

    TempFile body(path);
    body.Write(data, size);
    body.Finish(mode);

    if (backup && exists) {
        const std::string bak = path + ".bak";
        if (IsDirectory(bak)) throw TStreamWriteException();
        TempFile copy(bak);
        const int in = open(path.c_str(), O_RDONLY);
        if (in < 0) throw TStreamWriteException();
        std::vector<uint8_t> buf(1 << 16);
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(in, buf.data(), buf.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            try {
                copy.Write(buf.data(), static_cast<size_t>(n));
            } catch (...) {
                ok = false;
                break;
            }
        }
        close(in);
        if (!ok) throw TStreamWriteException();
        copy.Finish(mode);
        copy.CommitTo(bak);
    }
    body.CommitTo(path);
    SyncFolderOf(path);
}

}  // namespace kin::gelsim
