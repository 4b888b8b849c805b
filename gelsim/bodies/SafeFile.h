#pragma once
// Paths and durable saving for the library's files (bodies now, zones too).
//
// A save never destroys data: the new contents go to a temporary file in the target's
// folder, which is flushed and synced and only then renamed over the target. A backup of
// the old file is made the same way before the rename. When anything fails the target
// and its backup are left as they were and TStreamWriteException is raised.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kin::gelsim {

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

/// Replaces the file at path with size bytes at data, durably and atomically. With
/// backup, an existing file is first copied to path + ".bak" (replacing an older
/// backup). Raises TStreamWriteException when the folder is missing or not writable,
/// path is a directory, or any write, sync or rename fails; nothing is changed then.
void SaveFileAtomically(const std::string& path, const void* data, size_t size, bool backup);

}  // namespace kin::gelsim
