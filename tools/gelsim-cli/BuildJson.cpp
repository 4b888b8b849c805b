// The build command's work, apart from the command line so that other programs (the fuzz
// targets) can run it on text in memory.
#include "Formats.h"

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

}  // namespace kin::gelsim::cli
