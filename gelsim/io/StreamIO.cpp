#include "gelsim/io/StreamIO.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kin::gelsim {

TStreamReadException EndedIn(const std::string& item, const TStreamReadException& e) {
    std::string text = "ends in " + item;
    if (e.Needed() >= 0 && e.StreamSize() >= 0)
        text += ": needs " + std::to_string(e.Needed()) + " bytes, there are " + std::to_string(e.StreamSize());
    else if (*e.Detail() != '\0')
        text += std::string(": ") + e.Detail();
    return TStreamReadException(text);
}

void WriteInt(TStream& s, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                          static_cast<uint8_t>(u >> 24)};
    s.WriteBytes(b, 4);
}

int32_t ReadInt(TStream& s) {
    uint8_t b[4];
    s.ReadBytes(b, 4);
    const uint32_t u = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return static_cast<int32_t>(u);
}

void WriteFloat(TStream& s, float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    WriteInt(s, static_cast<int32_t>(u));
}

float ReadFloat(TStream& s) {
    const auto u = static_cast<uint32_t>(ReadInt(s));
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}

void WriteByte(TStream& s, int32_t v) {
    const auto b = static_cast<uint8_t>(v & 0xFF);
    s.WriteBytes(&b, 1);
}

int32_t ReadByte(TStream& s) {
    uint8_t b;
    s.ReadBytes(&b, 1);
    return b;
}

void WriteString(TStream& s, const std::string& text, int32_t n) {
    if (n <= 0) return;
    std::vector<uint8_t> bytes(static_cast<size_t>(n), 0);
    std::memcpy(bytes.data(), text.data(), std::min(text.size(), bytes.size()));
    s.WriteBytes(bytes.data(), n);
}

std::string ReadString(TStream& s, int32_t n) {
    std::string out;
    // Grow with what actually arrives, so a huge n on a short stream costs nothing.
    constexpr int32_t kPiece = 4096;
    while (n > 0) {
        const int32_t take = n < kPiece ? n : kPiece;
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(take));
        s.ReadBytes(out.data() + at, take);
        n -= take;
    }
    return out;
}

void WriteLine(TStream& s, const std::string& text) {
    size_t end = 0;
    while (end < text.size() && text[end] != '\n' && text[end] != '\0') ++end;
    std::string line = text.substr(0, end);
    line += "\r\n";
    s.WriteBytes(line.data(), static_cast<int64_t>(line.size()));
}

std::string ReadLine(TStream& s) {
    std::string out;
    uint8_t b;
    while (s.Read(&b, 1) == 1) {
        if (b == 10 || b == 0) break;
        if (b != 13) out.push_back(static_cast<char>(b));
    }
    return out;
}

}  // namespace kin::gelsim
