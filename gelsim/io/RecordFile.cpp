#include "gelsim/io/RecordFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gelsim/io/StreamIO.h"

namespace kin::gelsim {
namespace {

thread_local TLoadRefusal tRefusal;

// A tag as text: printable characters as they are, the rest as \xNN.
std::string TagText(const std::string& tag) {
    std::string out;
    for (const char c : tag) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\'' && c != '\\') {
            out.push_back(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        }
    }
    return out;
}

// Why path names no regular file, and the error number.
std::string WhyNoFile(const std::string& full, int& error) {
    struct stat st;
    if (stat(full.c_str(), &st) != 0) {
        error = errno;
        return error == ENOENT ? "no such file" : SystemReason(error);
    }
    error = S_ISDIR(st.st_mode) ? EISDIR : 0;
    return S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
}

// The folder part of a path, with its "/" ("" for a bare name).
std::string SpelledFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

const TLoadRefusal& LastLoadRefusal() noexcept { return tRefusal; }
void ForgetLoadRefusal() noexcept {
    tRefusal.status = TRecordRead::READ;
    tRefusal.error = 0;
    tRefusal.message.clear();
}

TRecordReadResult ReadRecordFile(const std::string& path, const char* kind, bool recover, const TRecordReader& read) {
    ForgetLoadRefusal();
    TRecordReadResult out;
    auto refuse = [&](TRecordRead status, int error, const std::string& why) {
        out.status = status;
        out.error = error;
        out.refusal = path + ": " + why;
        tRefusal.status = status;
        tRefusal.error = error;
        tRefusal.message = out.refusal;
        return out;
    };
    const std::string full = ResolvePath(path);
    if (recover) RecoverSave(full);
    if (!IsRegularFile(full)) {
        int error = 0;
        const std::string why = WhyNoFile(full, error);
        return refuse(TRecordRead::NO_FILE, error, why);
    }
    errno = 0;
    Ref<TFileStream> s = TFileStream::Open(full, TFileStream::READ);
    if (!s) {
        const int error = errno;
        return refuse(TRecordRead::CANNOT_OPEN, error, error ? SystemReason(error) : "cannot be opened");
    }
    bool ok = false;
    try {
        ok = read(*s, StripExtension(full));
    } catch (const TFileFormatException& e) {
        throw TFileFormatException(path + ": " + e.what());
    } catch (const TStreamReadException& e) {
        throw TStreamReadException(path + ": " + (*e.Detail() ? std::string(e.Detail()) : "the data ends early"));
    }
    if (!ok) {
        // The reader refused the tag: show what stands there instead.
        std::string tag(4, '\0');
        const int64_t got = s->Seek(0) == 0 ? s->Read(tag.data(), 4) : 0;
        tag.resize(static_cast<size_t>(got > 0 ? got : 0));
        return refuse(TRecordRead::OTHER_FORMAT, 0, std::string("not a ") + kind + " file (tag '" + TagText(tag) + "')");
    }
    out.status = TRecordRead::READ;
    out.trailing = s->Size() - s->Pos();
    s->Close();
    return out;
}

std::string SaveRecordFile(const std::string& path, const char* ext, bool backup,
                           const std::function<void(TStream& s)>& write,
                           const std::function<std::vector<TFileBytes>(const std::string& base)>& companions) {
    const std::string resolved = ResolvePath(path);
    // A folder cannot be written as a file: that is a failed save, not a silent success.
    if (IsDirectory(resolved)) throw TStreamWriteException(path + ": is a directory");
    // The existence test, the backup and the file written all concern the completed path.
    const std::string full = CompletePath(resolved, ext);
    TBankStream bank;
    write(bank);
    // The pictures beside the file are saved together with it: never one set's file with
    // another set's pictures.
    try {
        SaveFileSet(full, bank.Bytes().data(), bank.Bytes().size(), companions(StripExtension(full)), backup);
    } catch (const TStreamWriteException& e) {
        // The saver names files by their resolved paths; give them the caller's spelling,
        // which shares the folder.
        const std::string detail = e.Detail();
        const std::string folder = SpelledFolder(full);
        if (!folder.empty() && detail.compare(0, folder.size(), folder) == 0)
            throw TStreamWriteException(SpelledFolder(CompletePath(path, ext)) + detail.substr(folder.size()));
        throw;
    }
    return full;
}

}  // namespace kin::gelsim
