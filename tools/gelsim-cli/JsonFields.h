#pragma once
// Field encodings shared by the file formats of the gelsim tool. Values must come back
// bit for bit, so floats that JSON cannot hold (NaN, infinities) are written as their bit
// pattern, names are byte strings shown as the characters 0-255 they stand for, and
// pictures travel as base64 or as files.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kin::gelsim::cli {

using Json = nlohmann::ordered_json;

/// A fault in the input or in a file, reported as one line.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A float as the shortest decimal that reads back to the same value, or "0xXXXXXXXX"
/// (its bits) when it is not finite.
Json FloatToJson(float v);
/// A number (within float range), "0x" + 8 hex digits, "nan", "inf" or "-inf".
float JsonToFloat(const Json& j, const std::string& where);
/// An integer within [lo, hi].
int32_t JsonToInt(const Json& j, const std::string& where, int64_t lo, int64_t hi);

/// Bytes shown as the characters 0-255 (UTF-8 in the JSON text).
std::string BytesToText(const std::string& bytes);
/// The reverse; characters above 255 cannot be stored and raise ToolError.
std::string TextToBytes(const Json& j, const std::string& where);

std::string Base64(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> FromBase64(const std::string& text, const std::string& where);

/// Raises ToolError naming the first key of obj not in allowed (typos would otherwise be
/// ignored silently), or when obj is not an object.
void OnlyKeys(const Json& obj, const std::string& where, std::initializer_list<const char*> allowed);
/// obj[key], raising ToolError when it is missing.
const Json& Need(const Json& obj, const char* key, const std::string& where);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace kin::gelsim::cli
