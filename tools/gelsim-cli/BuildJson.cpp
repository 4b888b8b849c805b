// What the formats share: the build command's work (apart from the command line so that
// other programs, the fuzz targets, can run it on text in memory) and reading a file.
#include "Formats.h"
#include "gelsim/io/SafeFile.h"
#include "platform/Png.h"

namespace kin::gelsim::cli {

std::string BuildFromJson(const std::vector<uint8_t>& text, const std::string& input, const std::string& jsonDir,
                          const std::string& out) {
    Json j;
    try {
        j = Json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(input + ": " + e.what());
    }
    if (!j.is_object() || !j.contains("kind") || !j["kind"].is_string()) throw ToolError(input + ": needs a \"kind\"");
    const std::string kind = j["kind"].get<std::string>();
    for (const FileFormat* fmt : Formats())
        if (kind == fmt->kind) return fmt->Build(j, jsonDir, out, text.size());
    throw ToolError(input + ": unknown kind \"" + kind + "\"");
}

int64_t ReadFormatFile(const std::string& path, const char* kind, const TRecordReader& read) {
    const TRecordReadResult r = ReadRecordFile(path, kind, false, read);
    if (r.status != TRecordRead::READ) throw ToolError(r.refusal);
    return r.trailing;
}

Ref<TPixmap> DecodePicture(const std::vector<uint8_t>& png, const std::string& file) {
    if (!png.empty()) {
        TBankStream bank(png.data(), static_cast<int64_t>(png.size()));
        return LoadPixmapPNG(bank);
    }
    if (file.empty() || !IsRegularFile(file)) return nullptr;
    Ref<TFileStream> f = TFileStream::Open(file, TFileStream::READ);
    return f ? LoadPixmapPNG(*f) : nullptr;
}

std::string PictureFault(const std::vector<uint8_t>& png, const std::string& file) {
    const std::string why = *PngLoadFailure() ? std::string(" (") + PngLoadFailure() + ")" : "";
    if (!png.empty()) return "the embedded picture cannot be decoded" + why;
    return IsRegularFile(file) ? file + " is not a readable PNG" + why : file + " is missing";
}

}  // namespace kin::gelsim::cli
