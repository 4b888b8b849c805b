#pragma once
// The slime structure the player builds: one indexed body whose masses are the blobs and
// whose constraints are the strands of goo, and the five pictures that draw it.
//
// A click either removes the blob under it or places a new blob tied to every blob it can
// reach (distance strictly between 50 and 100) without crossing an existing strand. A frame
// draws the strands, the wobbling blobs and a preview of what a click at the pointer would
// do, drops blobs that no longer hang on any assigned strand, and reports the top.
#include <cstdint>
#include <string>
#include <vector>

#include "gelsim/bodies/AdvBody.h"
#include "platform/Image.h"
#include "platform/Object.h"

namespace slime {

/// Wobble phase of the blobs in degrees; turns by 8 with every drawn frame (kept in 0..359).
inline int32_t wobblePhase = 0;

/// 1 when segment (x1,y1)-(x2,y2) crosses segment (x3,y3)-(x4,y4), else 0. Parallel
/// segments (|denominator| < 0.0001) and segments that only touch at an end point do not
/// cross; non-finite input never crosses.
int32_t SegmentsCross(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);

class TSlime : public kin::TObject {
public:
    // The rules of the game.
    static constexpr float REMOVE_REACH = 10.0f;         // a click this close removes the nearest blob
    static constexpr float CLEARANCE = 50.0f;            // a new blob's nearest blob must be farther
    static constexpr float REACH_MIN2 = 2500.0f;         // strand reach, squared, exclusive
    static constexpr float REACH_MAX2 = 10000.0f;
    static constexpr int32_t REACH_CAPACITY = 512;       // reachable blobs taken into account
    static constexpr float NO_BLOB_D2 = 1000000.0f;      // squared distance when there is no blob
    static constexpr float TOP_NONE = 4096.0f;           // top reported with no blob
    static constexpr float TOP_MARGIN = 10.0f;           // top lies this far above the highest blob
    static constexpr float START_X = 482.0f, START_Y = 3906.0f;
    static constexpr const char* BODY_FILE = "media/slime.plb";

    kin::Ref<kin::gelsim::TAdvBody> ab;  // blobs are its masses, strands its constraints
    kin::Ref<kin::TImage> blob;          // 32x32, handle at the centre
    kin::Ref<kin::TImage> goo;           // 100x32, handle at (0, 16)
    kin::Ref<kin::TImage> ghostblob;     // preview of a new blob
    kin::Ref<kin::TImage> ghostgoo;      // preview of a new strand
    kin::Ref<kin::TImage> del;           // removal marker, 34x34, handle at the centre

    /// Loads the body from bodyPath (activated) and the five built-in pictures. A body file
    /// that is missing or unreadable leaves an empty body and a message in LoadProblem().
    explicit TSlime(const std::string& bodyPath = BODY_FILE);
    /// A new structure, loaded, activated and placed with its reference mass at (482, 3906).
    static kin::Ref<TSlime> Create(const std::string& bodyPath = BODY_FILE);

    /// What a click at the scanned point does.
    enum class ClickEffect {
        None,    // nothing: no blob close enough to remove, too few in reach to add
        Remove,  // removes the nearest blob (within REMOVE_REACH)
        Add,     // adds a blob tied to every reachable blob (two at least, none within CLEARANCE)
    };

    /// A click at world point (x, y): removes the blob within 10 units, or adds a blob tied
    /// to the blobs in reach, or does nothing. Plays the matching sound. Returns 0.
    int32_t Add(float x, float y);
    /// One frame of the structure with the pointer at world point (pointerX, pointerY):
    /// what a click there would do (a ghost blob with its strands, or a marker on the blob
    /// it would remove), the strands and the wobbling blobs. Drops the blobs that hang on no
    /// assigned strand any more and compacts the tables. Returns the world y just above the
    /// highest active blob, 4096.0 with none.
    float Draw(float pointerX, float pointerY);

    /// Why the body file could not be used ("" when it loaded), and the reader's own words
    /// for a damaged file ("" otherwise).
    const std::string& LoadProblem() const { return loadProblem_; }
    const std::string& LoadReason() const { return loadReason_; }
    /// Scans from world point (px, py): the nearest blob and the blobs a new blob there
    /// could take strands to. The preview and the click share it. Returns what a click at
    /// that point does.
    ClickEffect ReachScan(float px, float py);
    /// Result of the last reach scan: what a click does, the nearest blob (-1 none) and the
    /// reachable blobs in index order (at most REACH_CAPACITY, the first ones found).
    ClickEffect Effect() const { return effect_; }
    int32_t Nearest() const { return best_; }
    const std::vector<int32_t>& Reachable() const { return reach_; }

private:
    // What a frame draws, in order; each reads the last reach scan.
    /// The ghost of the blob a click would add, with its strands; hides the system pointer
    /// while a click would add or remove.
    void DrawGhost(float px, float py);
    void DrawStrands();
    /// Active blobs only; a blob without an assigned strand is left to DropLooseBlobs.
    void DrawBlobs();
    /// The marker on the blob a click would remove.
    void DrawRemovalMarker();

    // What a frame changes.
    /// Removes the blobs that hang on no assigned strand any more.
    void DropLooseBlobs();
    /// Closes the holes of the blob and strand tables once they outnumber the live entries.
    void CompactTables();

    /// The world y just above the highest active blob, TOP_NONE with none.
    float Top();

    std::string loadProblem_;
    std::string loadReason_;
    ClickEffect effect_ = ClickEffect::None;
    int32_t best_ = -1;
    float bestD_ = 1000.0f;
    std::vector<int32_t> reach_;  // reused by every scan: no allocation per frame
    std::vector<float> strandEnds_;  // the scan's strands, x1 y1 x2 y2 each; reused likewise
};

}  // namespace slime
