#pragma once
// The file formats the gelsim tool knows. Each format recognises its files by their
// 4-byte tag and its JSON by "kind"; the tool only dispatches. Zone files (.plz) join
// by adding one more entry to Formats().
#include <string>
#include <vector>

#include "JsonFields.h"
#include "gelsim/io/RecordFile.h"
#include "platform/Pixmap.h"

namespace kin::gelsim::cli {

struct DumpOptions {
    std::string extractDir;  // non-empty: pictures are also written there as PNG files
};

struct FileFormat {
    const char* kind;       // the JSON "kind"
    const char* extension;  // of the binary file, with the dot
    /// True when the file's first 4 bytes belong to this format.
    bool (*Recognises)(const std::string& tag);
    /// Every field as stored in the file. Raises ToolError or the library's read errors.
    Json (*Dump)(const std::string& path, const DumpOptions& options);
    /// Writes the file described by json to out through the library's own saver; relative
    /// picture files are found from jsonDir. Returns the path written.
    std::string (*Build)(const Json& json, const std::string& jsonDir, const std::string& out, size_t jsonSize);
    /// Validates the file; returns a one-line summary or raises with the reason.
    std::string (*Check)(const std::string& path);
};

/// The build command: the JSON text of a file (read from input, which names it in
/// errors) written to out by its format's Build, relative pictures found from jsonDir.
/// Returns the path written; raises ToolError or the library's errors.
std::string BuildFromJson(const std::vector<uint8_t>& text, const std::string& input, const std::string& jsonDir,
                          const std::string& out);

/// Reads the file at path through a format's reader with the library's load skeleton;
/// unlike loading, it leaves an interrupted save alone (the tool only reads). Raises
/// ToolError with the library's reason when path is no file, cannot be read or is no file
/// of the kind (naming the tag found); the reader's read errors pass through.
/// Returns the number of bytes after the records.
int64_t ReadFormatFile(const std::string& path, const char* kind, const TRecordReader& read);

/// The picture of a record: the embedded PNG bytes when there are any, else the PNG file
/// beside (file); null when neither decodes.
Ref<TPixmap> DecodePicture(const std::vector<uint8_t>& png, const std::string& file);
/// Why DecodePicture just gave null for a record with these bytes and a picture named
/// `file` beside the file: missing, or the decoder's reason.
std::string PictureFault(const std::vector<uint8_t>& png, const std::string& file);

/// Every known format.
const std::vector<const FileFormat*>& Formats();
/// The body file format (.plb).
const FileFormat& BodyFormat();
/// The zone file format (.plz).
const FileFormat& ZoneFormat();

}  // namespace kin::gelsim::cli
