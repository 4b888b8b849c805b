#pragma once
// Zone files (.plz) as records: what TZone::Load reads and TZone::Save writes, kept apart
// from the zone so that tools can show and rebuild a file field by field.
//
// Layout: "ZONE", a version byte (111), the name line, the coordinate count and the
// untransformed coordinates, style, friction, offset, angle, scale, colour, alpha, blend,
// collision group, quad-tree level, image scale, the quad tree's node records, then a
// has-image byte; with an image: mask colour and flags bytes, handle, an embedded byte and,
// when embedded, the picture as a complete PNG file (otherwise beside the zone file as
// <path without extension>_img.png).
#include <cstdint>
#include <string>
#include <vector>

#include "gelsim/zones/Zone.h"
#include "platform/Stream.h"

namespace kin::gelsim {

struct TZoneFileData {
    std::string tag = "ZONE";
    int32_t version = 111;         // the stored byte; ignored by loading, written as it is
    std::string name = "Zone";
    std::string nameLine;          // the name line's bytes as stored, when they are not name
                                   // + CR LF (a bare LF or NUL end, CRs within); else empty
    std::vector<float> coords;     // origArea
    int32_t style = TZone::LINE;
    float friction = 0, offsetX = 0, offsetY = 0, angle = 0, scaleX = 1, scaleY = 1;
    float red = 1, green = 1, blue = 1, alpha = 1;
    int32_t blend = 1;
    int32_t colGroup = -1;         // as stored: -1 asks for a fresh automatic group
    int32_t qtLevel = 0;
    float imgScaleX = 1, imgScaleY = 1;
    Ref<TQuadTree> quadTree;       // as stored (null only for data not read from a file)
    int32_t hasImage = 0;          // the stored byte: 0 no image
    int32_t maskR = 0, maskG = 0, maskB = 0, flags = 0;  // stored bytes
    float handleX = 0, handleY = 0;
    int32_t embedded = 0;          // the stored byte: non-zero, the PNG follows
    std::vector<uint8_t> png;      // the embedded PNG exactly as stored; when its bytes are
                                   // no PNG framing, the rest of the file
    std::string file;              // the separate picture's path (when not embedded)
};

/// Reads a zone file from the stream's position. False (after reading the tag and the
/// version byte) when the tag is not "ZONE". A separate picture is named from imageBase
/// (the file's absolute path without extension); an embedded picture whose signature or
/// chunk framing is no PNG's runs to the end of the stream (nothing follows it in a zone
/// file), so a damaged picture does not cost the zone. Raises TStreamReadException when
/// the data ends early (inside a sound picture too) and TFileFormatException (a read error too) for counts, levels or
/// records that no zone can have (a quad-tree level above MAX_LEVEL among them). Memory
/// grows only with the data that actually arrives.
bool ReadZoneFile(TStream& s, TZoneFileData& out, const std::string& imageBase);
/// Checks what the reader checks, for records made elsewhere (the tool's JSON): a name
/// line (if any) that reads as the name, an even coordinate count of at least 4, a
/// quad-tree level of at most MAX_LEVEL, a tree (if any) of at most MAX_LEVEL levels with
/// 0 to 4 children per node. Raises TFileFormatException naming the first fault.
void ValidateZoneFile(const TZoneFileData& d);
/// Writes the records: "ZONE", then every item as stored in d: nameLine when it reads as
/// name, otherwise name + CR LF; bytes as their low 8 bits, but a has-image value whose
/// low 8 bits are 0 as 1, since it announces the image items. A null tree is written as
/// one empty leaf.
void WriteZoneFile(TStream& s, const TZoneFileData& d);
/// Writes the records to path as TZone::Save does: ".plz" added when the path has no
/// extension, atomically, the previous file kept as path + ".bak" when backup is true, and
/// a picture that is not embedded written beside as (path without extension)_img.png (the
/// bytes of png as they are). Raises TStreamWriteException when a file cannot be written
/// (a folder, a missing or read-only folder); nothing changes then.
void SaveZoneFile(const std::string& path, const TZoneFileData& d, bool backup);

enum class TZoneBuild {
    LOAD,   // as loading does: -1 takes a fresh group, a picture that cannot be decoded
            // leaves the zone without image
    EXACT,  // every field as stored (tools that rebuild a file); an undecodable picture raises
};
/// A new, inactive zone from records; area is computed from the stored transform and the
/// stored tree is used as it is. Sets the drawing layer's mask colour when there is an image.
Ref<TZone> BuildZone(const TZoneFileData& d, TZoneBuild mode);
/// The records Save writes for a zone; the picture is encoded as PNG at level 9 when
/// embedded, 5 when separate. Raises TStreamWriteException for an image without pixels.
TZoneFileData CollectZone(const TZone& z, int32_t embedImage);
/// base + "_img.png": the picture beside a zone file.
std::string ZoneImagePath(const std::string& base);

}  // namespace kin::gelsim
