#include "gelsim/io/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <type_traits>
#include <utility>
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

std::string SystemReason(int error) {
    char buf[256] = {};
    // The GNU strerror_r may answer with a static text instead of filling buf.
    const auto text = strerror_r(error, buf, sizeof buf);
    if constexpr (std::is_same_v<decltype(text), const int>)
        return text == 0 ? std::string(buf) : "error " + std::to_string(error);
    else
        return std::string(text);
}

namespace {

// A failed save of the file `shown`: the system's reason for error.
[[noreturn]] void Refuse(const std::string& shown, int error) {
    throw TStreamWriteException(shown + ": " + SystemReason(error));
}

// The folder of a path with its trailing "/" ("" for a bare name) and its last part.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A temporary file "<folder>.<stem>.tmpXXXXXX"; removed on destruction unless committed.
// Its failures name `shown`, the file it is to become: the temporary name means nothing to
// whoever reads the message.
class TempFile {
public:
    TempFile(const std::string& folder, const std::string& stem, const std::string& shown) : shown_(shown) {
        std::string pattern = folder + "." + stem + ".tmpXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        fd_ = mkstemp(buf.data());
        if (fd_ < 0) Refuse(shown_, errno);
        path_ = buf.data();
    }
    /// The temporary file of a plain save of target: ".<name>.tmpXXXXXX" beside it.
    explicit TempFile(const std::string& target) : TempFile(FolderOf(target), NameOf(target), target) {}
    ~TempFile() {
        if (fd_ >= 0) close(fd_);
        if (!path_.empty() && !committed_ && !kept_) unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return path_; }
    /// From now on the file outlives this object: a journal names it.
    void Keep() { kept_ = true; }

    void Write(const void* data, size_t size) {
        auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::write(fd_, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) Refuse(shown_, errno);
            if (n == 0) Refuse(shown_, ENOSPC);  // a device that takes nothing has no room
            p += n;
            size -= static_cast<size_t>(n);
        }
    }
    /// Gives the file the permissions it should end with, syncs and closes it.
    void Finish(mode_t mode) {
        if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0) Refuse(shown_, errno);
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) Refuse(shown_, errno);
    }
    /// Renames the finished file over target.
    void CommitTo(const std::string& target) {
        if (std::rename(path_.c_str(), target.c_str()) != 0) Refuse(shown_, errno);
        committed_ = true;
    }

private:
    int fd_ = -1;
    std::string path_;
    std::string shown_;
    bool committed_ = false;
    bool kept_ = false;
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


// The mode the saved file should have; raises when path cannot be a file's.
mode_t TargetMode(const std::string& path, bool& exists) {
    if (path.empty()) throw TStreamWriteException("no file name given");
    if (IsDirectory(path)) throw TStreamWriteException(path + ": is a directory");
    struct stat st;
    exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) throw TStreamWriteException(path + ": not a regular file");
    return exists ? static_cast<mode_t>(st.st_mode & 07777) : NewFileMode();
}

// Copies the existing file at path to path + ".bak", atomically.
void Backup(const std::string& path, mode_t mode) {
    const std::string bak = path + ".bak";
    if (IsDirectory(bak)) throw TStreamWriteException(bak + ": is a directory");
    TempFile copy(bak);
    const int in = open(path.c_str(), O_RDONLY);
    if (in < 0) Refuse(path, errno);
    std::vector<uint8_t> buf(1 << 16);
    int readError = 0;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readError = errno;
        if (n <= 0) break;
        try {
            copy.Write(buf.data(), static_cast<size_t>(n));
        } catch (...) {
            close(in);
            throw;
        }
    }
    close(in);
    if (readError != 0) Refuse(path, readError);
    copy.Finish(mode);
    copy.CommitTo(bak);
}

std::string JournalPath(const std::string& path) { return FolderOf(path) + "." + NameOf(path) + ".journal"; }

// A journal line is "<temporary name>\t<final name>\n", both names in the target's folder.
// The temporary names are those a set save of this target makes; anything else (a damaged
// or foreign journal) is not acted on.
bool IsOwnTemporary(const std::string& name, const std::string& target) {
    const std::string own = "." + target;
    if (name.size() < own.size() + 10 || name.compare(0, own.size(), own) != 0) return false;
    const char after = name[own.size()];
    if (after != '.' && after != '~') return false;
    return name.compare(name.size() - 10, 4, ".tmp") == 0 && name.find('/') == std::string::npos;
}
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

void RollForward(const std::string& path) {
    const std::string journal = JournalPath(path);
    const int fd = open(journal.c_str(), O_RDONLY);
    if (fd < 0) return;
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || text.size() > (1u << 20)) break;  // no journal is that long
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    const std::string folder = FolderOf(path), target = NameOf(path);
    std::vector<std::pair<std::string, std::string>> renames;
    size_t at = 0;
    bool whole = false;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line == "end") {
            whole = true;
            break;
        }
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) return;
        std::string tmp = line.substr(0, tab), final = line.substr(tab + 1);
        if (!IsOwnTemporary(tmp, target) || !IsPlainName(final)) return;
        renames.emplace_back(std::move(tmp), std::move(final));
    }
    if (!whole) return;  // never the case for a committed journal; leave it for a person
    // Renames already done have no temporary file any more.
    for (const auto& [tmp, final] : renames)
        if (IsRegularFile(folder + tmp) && std::rename((folder + tmp).c_str(), (folder + final).c_str()) != 0) return;
    SyncFolderOf(path);
    unlink(journal.c_str());
    SyncFolderOf(path);
}

void RemoveStaleTemporaries(const std::string& path) {
    std::error_code ec;
    const std::string folder = FolderOf(path), target = NameOf(path);
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsOwnTemporary(name, target)) unlink((folder + name).c_str());
    }
}

}  // namespace

void RecoverSave(const std::string& path) {
    if (path.empty()) return;
    RollForward(path);
    if (!IsRegularFile(JournalPath(path))) RemoveStaleTemporaries(path);
}

void SaveFileAtomically(const std::string& path, const void* data, size_t size, bool backup) {
    SaveFileSet(path, data, size, {}, backup);
}

void SaveFileSet(const std::string& path, const void* data, size_t size, const std::vector<TFileBytes>& companions,
                 bool backup) {
    bool exists = false;
    const mode_t mode = TargetMode(path, exists);
    RecoverSave(path);
    const std::string folder = FolderOf(path), target = NameOf(path);
    for (const TFileBytes& c : companions)
        if (FolderOf(c.path) != folder || !IsPlainName(NameOf(c.path)) || IsDirectory(c.path))
            throw TStreamWriteException(c.path + (IsDirectory(c.path) ? ": is a directory" : ": not beside " + path));

    // Everything new is written and synced before anything old is touched.
    std::vector<std::unique_ptr<TempFile>> temps;
    for (const TFileBytes& c : companions) {
        temps.push_back(std::make_unique<TempFile>(folder, target + "~" + NameOf(c.path), c.path));
        temps.back()->Write(c.data, c.size);
        temps.back()->Finish(NewFileMode());
    }
    TempFile body(path);
    body.Write(data, size);
    body.Finish(mode);
    if (backup && exists) Backup(path, mode);

    if (companions.empty()) {
        body.CommitTo(path);
        SyncFolderOf(path);
        return;
    }
    // The journal is the commit point: from the moment it exists under its own name, the
    // new set wins, now or at the next save or load.
    std::string text;
    for (size_t i = 0; i < companions.size(); ++i)
        text += NameOf(temps[i]->Path()) + "\t" + NameOf(companions[i].path) + "\n";
    text += NameOf(body.Path()) + "\t" + target + "\nend\n";
    {
        TempFile journal(folder, target + ".journal", path);
        journal.Write(text.data(), text.size());
        journal.Finish(mode);
        journal.CommitTo(JournalPath(path));
    }
    SyncFolderOf(path);
    for (auto& t : temps) t->Keep();
    body.Keep();
    RollForward(path);
    if (IsRegularFile(JournalPath(path)))  // completed by the next save or load
        throw TStreamWriteException(path + ": the new files could not all be renamed into place; the next load or "
                                           "save of it completes the change");
}

}  // namespace kin::gelsim
