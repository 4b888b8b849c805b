#include "JsonFields.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include "gelsim/io/SafeFile.h"

namespace kin::gelsim::cli {

Json FloatToJson(float v) {
    if (!std::isfinite(v)) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08X", bits);
        return buf;
    }
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    const std::string shortest(buf, res.ptr);
    // The JSON number is held as a double; check that it still names this float.
    const double d = std::strtod(shortest.c_str(), nullptr);
    if (static_cast<float>(d) == v && std::signbit(static_cast<float>(d)) == std::signbit(v)) return d;
    return static_cast<double>(v);  // exact as a double
}

float JsonToFloat(const Json& j, const std::string& where) {
    if (j.is_number()) {
        const double d = j.get<double>();
        if (std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
            throw ToolError(where + ": " + j.dump() + " is outside the range of a float");
        return static_cast<float>(d);
    }
    if (j.is_string()) {
        const std::string s = j.get<std::string>();
        if (s == "nan") return std::numeric_limits<float>::quiet_NaN();
        if (s == "inf") return std::numeric_limits<float>::infinity();
        if (s == "-inf") return -std::numeric_limits<float>::infinity();
        if (s.size() == 10 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            uint32_t bits = 0;
            auto res = std::from_chars(s.data() + 2, s.data() + 10, bits, 16);
            if (res.ec == std::errc() && res.ptr == s.data() + 10) {
                float v;
                std::memcpy(&v, &bits, 4);
                return v;
            }
        }
    }
    throw ToolError(where + ": expected a number, got " + j.dump());
}

int32_t JsonToInt(const Json& j, const std::string& where, int64_t lo, int64_t hi) {
    if (!j.is_number_integer()) throw ToolError(where + ": expected an integer, got " + j.dump());
    const int64_t v = j.is_number_unsigned() && j.get<uint64_t>() > uint64_t(INT64_MAX) ? INT64_MAX : j.get<int64_t>();
    if (v < lo || v > hi)
        throw ToolError(where + ": " + std::to_string(v) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return static_cast<int32_t>(v);
}

std::string BytesToText(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string TextToBytes(const Json& j, const std::string& where) {
    if (!j.is_string()) throw ToolError(where + ": expected a string, got " + j.dump());
    const std::string s = j.get<std::string>();  // valid UTF-8: the parser checked it
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        size_t len = 1;
        if (c >= 0xF0) {
            cp = c & 0x07;
            len = 4;
        } else if (c >= 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            len = 2;
        }
        for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (cp > 255) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "U+%04X", cp);
            throw ToolError(where + ": character " + buf + " cannot be stored (one byte per character, 0-255)");
        }
        out.push_back(static_cast<char>(cp));
        i += len;
    }
    return out;
}

namespace {
const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64(const std::vector<uint8_t>& b) {
    std::string out;
    out.reserve((b.size() + 2) / 3 * 4);
    for (size_t i = 0; i < b.size(); i += 3) {
        const uint32_t n = uint32_t(b[i]) << 16 | (i + 1 < b.size() ? uint32_t(b[i + 1]) << 8 : 0) |
                           (i + 2 < b.size() ? b[i + 2] : 0);
        out.push_back(kB64[n >> 18 & 63]);
        out.push_back(kB64[n >> 12 & 63]);
        out.push_back(i + 1 < b.size() ? kB64[n >> 6 & 63] : '=');
        out.push_back(i + 2 < b.size() ? kB64[n & 63] : '=');
    }
    return out;
}

std::vector<uint8_t> FromBase64(const std::string& t, const std::string& where) {
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int bits = 0;
    size_t i = 0;
    for (; i < t.size() && t[i] != '='; ++i) {
        const char* p = std::strchr(kB64, t[i]);
        if (!p || !*p) throw ToolError(where + ": not base64");
        acc = acc << 6 | static_cast<uint32_t>(p - kB64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
        }
    }
    for (; i < t.size(); ++i)
        if (t[i] != '=') throw ToolError(where + ": not base64");
    return out;
}

void OnlyKeys(const Json& obj, const std::string& where, std::initializer_list<const char*> allowed) {
    if (!obj.is_object()) throw ToolError(where + ": expected an object");
    for (const auto& item : obj.items()) {
        bool ok = false;
        for (const char* a : allowed) ok = ok || item.key() == a;
        if (!ok) throw ToolError(where + ": unknown field \"" + item.key() + "\"");
    }
}

const Json& Need(const Json& obj, const char* key, const std::string& where) {
    auto it = obj.find(key);
    if (it == obj.end()) throw ToolError(where + ": missing field \"" + key + "\"");
    return *it;
}

// "PATH: " and why the system refused it (errno as the stream left it).
std::string Refused(const std::string& path, int error, const char* otherwise) {
    if (error == ENOENT) return path + ": no such file";
    return path + ": " + (error != 0 ? SystemReason(error) : std::string(otherwise));
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    if (IsDirectory(path)) throw ToolError(path + ": is a directory");
    errno = 0;
    std::ifstream f(path, std::ios::binary);
    if (!f) throw ToolError(Refused(path, errno, "cannot be read"));
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    if (f.bad()) throw ToolError(Refused(path, errno, "cannot be read"));
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (IsDirectory(path)) throw ToolError(path + ": is a directory");
    errno = 0;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.flush();
    if (!f) throw ToolError(Refused(path, errno, "cannot be written"));
}

}  // namespace kin::gelsim::cli
