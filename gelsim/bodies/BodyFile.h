#pragma once
// Body files (.plb) as records: what TAdvBody::Load reads and TAdvBody::Save writes,
// kept apart from the body itself so that tools can show and rebuild a file field by
// field. Layout: tag, name line, then the mass, constraint, image and rig tables, each a
// count followed by records that carry their own index and a -1 end mark; the
// images-embedded byte stands between constraints and images from version 111 on, the
// rigs' scale, colour, alpha and blend from version 110 on.
#include <cstdint>
#include <string>
#include <vector>

#include "gelsim/bodies/AdvBody.h"
#include "platform/Stream.h"

namespace kin::gelsim {

struct TBodyFileMass {
    int32_t index = 0;
    float x = 0, y = 0, mass = 0, radius = 0, friction = 0;
    int32_t colGroup = 0;  // as stored: negative groups are not translated here
    std::string name;
    int32_t frozen = 0;    // the stored byte
    float vx = 0, vy = 0;
};

struct TBodyFileCon {
    int32_t index = 0;
    int32_t mass1 = 0, mass2 = 0;
    float restLength = 0, stiffness = 0;
    std::string name;
};

struct TBodyFileImage {
    int32_t index = 0;
    int32_t maskR = 0, maskG = 0, maskB = 0, flags = 0;  // stored bytes
    float handleX = 0, handleY = 0;
    std::vector<uint8_t> png;  // the embedded PNG, exactly as stored (empty when separate)
    std::string file;          // the separate picture's path (when not embedded)
};

struct TBodyFileRig {
    int32_t index = 0;
    int32_t image = 0, mass = 0, con = -1;  // table indices; negative: none
    float angle = 0, scaleX = 1, scaleY = 1;
    int32_t red = 255, green = 255, blue = 255;  // stored bytes
    float alpha = 1;
    int32_t blend = 1;
    std::string name;
};

struct TBodyFileData {
    std::string tag = "B111";
    int32_t version = 111;
    std::string name = "Body";
    int32_t massCount = 0;
    std::vector<TBodyFileMass> masses;  // in file order
    int32_t conCount = 0;
    std::vector<TBodyFileCon> cons;
    bool hasEmbeddedByte = true;  // false before version 111
    int32_t imagesEmbedded = 0;   // the stored byte (0 when absent)
    int32_t imageCount = 0;
    std::vector<TBodyFileImage> images;
    int32_t rigCount = 0;
    std::vector<TBodyFileRig> rigs;
};

/// Version named by a 4-character tag: "BODY" is 103, "B" + digits their value. False for
/// anything that is not a body file's tag.
bool BodyFileVersion(const std::string& tag, int32_t& version);

/// Reads a body file from the stream's position. False (after reading the tag) when it is
/// not a body file. Separate pictures are named from imageBase (the file's absolute path
/// without extension). Raises TStreamReadException when the data ends early and
/// TFileFormatException for inconsistent records. Memory grows only with the records that
/// actually arrive.
bool ReadBodyFile(TStream& s, TBodyFileData& out, const std::string& imageBase);
/// Checks counts (any a table can reach), record indices (inside their tables, no
/// duplicates) and references (to records present); raises TFileFormatException naming the
/// first fault.
void ValidateBodyFile(const TBodyFileData& d);
/// Writes the records with the tag "B111" and every item present.
void WriteBodyFile(TStream& s, const TBodyFileData& d);

enum class TBodyBuild {
    LOAD,   // as loading does: negative groups translated to fresh ones, values through setters,
            // pictures that cannot be decoded leave their entry empty
    EXACT,  // every field as stored (tools that rebuild a file); an undecodable picture raises
};
/// A new body (with an id) made from validated records. Sets the drawing layer's mask
/// colour for each image record in turn.
Ref<TAdvBody> BuildBody(const TBodyFileData& d, TBodyBuild mode);
/// The records Save writes for a body; pictures are encoded as PNG at level 9 when
/// embedded, 5 when separate. Raises TStreamWriteException for an image without pixels.
TBodyFileData CollectBody(const TAdvBody& b, int32_t embedImages);
/// base + "_img" + k + ".png".
std::string SeparateImagePath(const std::string& base, int32_t k);

}  // namespace kin::gelsim
