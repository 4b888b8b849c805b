#pragma once
// Paths and durable saving for the library's files (bodies and zones).
//
// A save never destroys data: the new contents go to a temporary file in the target's
// folder, which is flushed and synced and only then renamed over the target. A backup of
// the old file is made the same way before the rename. When anything fails the target
// and its backup are left as they were and TStreamWriteException is raised, naming the
// file (the target, its backup or a picture beside it) and the system's reason.
//
// A file with companions (pictures beside it) is saved as a set: every new file is written
// and synced under a temporary name first, then a journal naming the renames still to do
// is committed, then the renames run and the journal goes. A crash before the journal
// leaves the old set (and temporaries that the next save or load removes); a crash after
// it leaves a journal that the next save or load completes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kin::gelsim {

/// The system's text for an error number (strerror), e.g. "Permission denied".
std::string SystemReason(int error);

/// Absolute path with "." and ".." folded (relative paths against the working directory).
std::string ResolvePath(const std::string& path);
/// True when the path's last "." stands after its last "/".
bool HasExtension(const std::string& path);
/// path + ext when the path has no extension, else path.
std::string CompletePath(const std::string& path, const std::string& ext);
/// path without its extension (unchanged when it has none).
std::string StripExtension(const std::string& path);
/// True when path names an existing regular file (symbolic links followed).
bool IsRegularFile(const std::string& path);
/// True when path names an existing directory.
bool IsDirectory(const std::string& path);

/// Bytes to be stored under a path (the data must outlive the call that takes it).
struct TFileBytes {
    std::string path;
    const void* data = nullptr;
    size_t size = 0;
};

/// Replaces the file at path with size bytes at data, durably and atomically. With
/// backup, an existing file is first copied to path + ".bak" (replacing an older
/// backup). Raises TStreamWriteException when the folder is missing or not writable,
/// path is a directory, or any write, sync or rename fails; nothing is changed then.
void SaveFileAtomically(const std::string& path, const void* data, size_t size, bool backup);

/// Replaces the file at path and its companion files (pictures stored beside it, in the
/// same folder) together: after a crash or a failure at any moment, the next save or
/// RecoverSave of path finds either the complete old set or the complete new set.
/// Companions of the old set that the new set does not name are left alone. Raises
/// TStreamWriteException like SaveFileAtomically; the old set is untouched then.
void SaveFileSet(const std::string& path, const void* data, size_t size, const std::vector<TFileBytes>& companions,
                 bool backup);

/// Finishes a set save of path that was interrupted after it committed, and removes the
/// temporary files that interrupted saves of path left behind. Best effort: failures are
/// ignored (a read-only folder just stays as it is).
void RecoverSave(const std::string& path);

}  // namespace kin::gelsim
