#include "gelsim/io/RecordFile.h"

namespace kin::gelsim {

TRecordReadResult ReadRecordFile(const std::string& path, bool recover, const TRecordReader& read) {
    TRecordReadResult out;
    const std::string full = ResolvePath(path);
    if (recover) RecoverSave(full);
    if (!IsRegularFile(full)) return out;
    Ref<TFileStream> s = TFileStream::Open(full, TFileStream::READ);
    if (!s) {
        out.status = TRecordRead::CANNOT_OPEN;
        return out;
    }
    if (!read(*s, StripExtension(full))) {
        out.status = TRecordRead::OTHER_FORMAT;
        return out;
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
    if (IsDirectory(resolved)) throw TStreamWriteException();
    // The existence test, the backup and the file written all concern the completed path.
    const std::string full = CompletePath(resolved, ext);
    TBankStream bank;
    write(bank);
    // The pictures beside the file are saved together with it: never one set's file with
    // another set's pictures.
    SaveFileSet(full, bank.Bytes().data(), bank.Bytes().size(), companions(StripExtension(full)), backup);
    return full;
}

}  // namespace kin::gelsim
