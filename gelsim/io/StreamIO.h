#pragma once
// The primitives every binary file of the library is made of: little-endian int32 and
// float32, single bytes, fixed-length tags and CR LF lines. Short reads raise
// TStreamReadException ("Error reading from stream") and refused writes
// TStreamWriteException ("Error writing to stream"); neither is caught here.
#include <cstdint>
#include <string>

#include "platform/Stream.h"

namespace kin::gelsim {

/// A file whose bytes can be read but do not describe a valid file of its kind (a
/// negative count, a record outside its table, a reference to a missing entry). It is a
/// read error, so callers that catch TStreamReadException see it too; what() names the
/// fault in one line.
class TFileFormatException : public TStreamReadException {
public:
    explicit TFileFormatException(std::string reason) : reason_(std::move(reason)) {}
    const char* what() const noexcept override { return reason_.c_str(); }

private:
    std::string reason_;
};

/// The read error of a reader whose data ran out (e, as a primitive raised it) while it
/// read `item`: "ends in ITEM: needs N bytes, there are M" after the leading text.
TStreamReadException EndedIn(const std::string& item, const TStreamReadException& e);

/// 4 bytes, two's complement, little-endian.
void WriteInt(TStream& s, int32_t v);
int32_t ReadInt(TStream& s);
/// 4 bytes, IEEE-754 single precision, little-endian (bit pattern kept, NaN payloads too).
void WriteFloat(TStream& s, float v);
float ReadFloat(TStream& s);
/// One byte: writing keeps the low 8 bits, reading gives 0..255.
void WriteByte(TStream& s, int32_t v);
int32_t ReadByte(TStream& s);
/// Exactly n bytes, one per character (low 8 bits); a shorter text is padded with 0.
void WriteString(TStream& s, const std::string& text, int32_t n);
/// Exactly n bytes as characters 0..255; n <= 0 reads nothing.
std::string ReadString(TStream& s, int32_t n);
/// The text up to its first byte 10 or 0 (a reader stops there, so nothing behind it
/// could be read back as part of the line), then CR LF.
void WriteLine(TStream& s, const std::string& text);
/// Bytes up to and including the next 10 or 0, or to the end of the data; bytes 13 are
/// dropped and the terminator is not part of the text. At the end of the data: "".
std::string ReadLine(TStream& s);

}  // namespace kin::gelsim
