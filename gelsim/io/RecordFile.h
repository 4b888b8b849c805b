#pragma once
// The load and save skeleton every file of the library shares (bodies, zones): paths
// resolved the same way, an interrupted save finished or undone before a load, the tag
// checked by the format's reader, read errors raised as they come, and saving through one
// atomic set save of the file and the pictures beside it. A format supplies only its
// reader, its writer and its companion files.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gelsim/io/SafeFile.h"
#include "platform/Stream.h"

namespace kin::gelsim {

/// A format's reader: reads from the stream's position; false (after reading the tag) when
/// the data is not of its format. Pictures beside the file are named from imageBase (the
/// file's absolute path without extension).
using TRecordReader = std::function<bool(TStream& s, const std::string& imageBase)>;

enum class TRecordRead {
    READ,          // the reader took the file
    NO_FILE,       // the path names no regular file
    CANNOT_OPEN,   // the file exists but cannot be opened for reading
    OTHER_FORMAT,  // the reader refused the tag
};

struct TRecordReadResult {
    TRecordRead status = TRecordRead::NO_FILE;
    int64_t trailing = 0;  // bytes after what the reader took (when READ)
    int error = 0;         // the system's error number when the file could not be opened or found
    std::string refusal;   // when not READ: "PATH: no such file", "PATH: not a body file (tag 'ZONE')", ...
};

/// Reads the file at path (resolved against the working directory) through read; kind
/// ("body", "zone") names the format in a refusal. With recover, a save of that file that
/// was cut short is finished or undone first, as loading does. The reader's exceptions
/// pass through with path put in front of their reason: TStreamReadException as
/// "Error reading from stream: PATH: ends in ...", TFileFormatException as "PATH: ...".
TRecordReadResult ReadRecordFile(const std::string& path, const char* kind, bool recover, const TRecordReader& read);

/// What the calling thread's latest ReadRecordFile (and so TAdvBody::Load or TZone::Load)
/// refused, so that an interface can say why a load gave null: status READ and an empty
/// message when it read the file or raised.
struct TLoadRefusal {
    TRecordRead status = TRecordRead::READ;
    int error = 0;        // the system's error number, 0 when none
    std::string message;  // as TRecordReadResult::refusal
};
/// The calling thread's latest refusal (see TLoadRefusal); valid until its next read.
const TLoadRefusal& LastLoadRefusal() noexcept;
/// Forgets the calling thread's latest refusal.
void ForgetLoadRefusal() noexcept;

/// Saves a file of the library: the path is resolved and completed with ext when it has
/// none; write puts the file's bytes into a stream; companions lists the files stored
/// beside it (given the completed path without extension), saved together with it. With
/// backup the old file is kept as path + ".bak". Raises TStreamWriteException when path
/// is a folder or anything cannot be written (nothing changes then), naming the file as
/// the caller spelled it and the system's reason. Returns the path written.
std::string SaveRecordFile(const std::string& path, const char* ext, bool backup,
                           const std::function<void(TStream& s)>& write,
                           const std::function<std::vector<TFileBytes>(const std::string& base)>& companions);

}  // namespace kin::gelsim
