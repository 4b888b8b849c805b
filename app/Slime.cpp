#include "app/Slime.h"

#include <cmath>
#include <exception>

#include "app/Game.h"
#include "gelsim/core/Physics.h"
#include "platform/Graphics.h"
#include "platform/Input.h"
#include "platform/Random.h"
#include "platform/Sound.h"

namespace slime {

using namespace kin;
using gelsim::TAdvBody;
using gelsim::TPhysics;

namespace {

constexpr float DEG = 3.14159265358979323846f / 180.0f;
constexpr float STRAND_IMAGE_LENGTH = 100.0f;  // natural length of goo.png and ghostgoo.png

Ref<TImage> LoadPicture(const char* name) { return LoadImage(name, FILTEREDIMAGE | MIPMAPPEDIMAGE); }

}  // namespace

int32_t SegmentsCross(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {
    const float d = (y4 - y3) * (x2 - x1) - (x4 - x3) * (y2 - y1);
    // !(|d| >= tol) also treats a NaN denominator as parallel.
    if (!(std::fabs(d) >= 0.0001f)) return 0;
    const float ua = ((x4 - x3) * (y1 - y3) - (y4 - y3) * (x1 - x3)) / d;
    const float ub = ((x2 - x1) * (y1 - y3) - (y2 - y1) * (x1 - x3)) / d;
    return (ua > 0.0f && ua < 1.0f && ub > 0.0f && ub < 1.0f) ? 1 : 0;
}

TSlime::TSlime(const std::string& bodyPath) {
    const std::string path = FindDataFile(bodyPath);
    try {
        ab = TAdvBody::Load(path, 1);
        if (!ab) loadProblem_ = DataFileExists(path) ? bodyPath + " is not a body file" : bodyPath + " is missing";
    } catch (const std::exception& e) {
        loadProblem_ = bodyPath + " could not be read";
        loadReason_ = e.what();
    }
    // Without the file the structure starts empty: the game still runs and shows why.
    if (!ab) ab = TAdvBody::Create();
    blob = LoadPicture("incbin::media/blob.png");
    goo = LoadPicture("incbin::media/goo.png");
    ghostblob = LoadPicture("incbin::media/ghostblob.png");
    ghostgoo = LoadPicture("incbin::media/ghostgoo.png");
    del = LoadPicture("incbin::media/del.png");
    reach_.reserve(REACH_CAPACITY);
}

Ref<TSlime> TSlime::Create(const std::string& bodyPath) {
    Ref<TSlime> s = MakeRef<TSlime>(bodyPath);
    s->ab->Position(START_X, START_Y);
    MidHandleImage(s->blob.Get());
    MidHandleImage(s->ghostblob.Get());
    MidHandleImage(s->del.Get());
    SetImageHandle(s->goo.Get(), 0.0f, 16.0f);
    SetImageHandle(s->ghostgoo.Get(), 0.0f, 16.0f);
    return s;
}

TSlime::ClickEffect TSlime::ReachScan(float px, float py) {
    TAdvBody& b = *ab;
    best_ = -1;
    float bestD2 = NO_BLOB_D2;
    reach_.clear();
    const int32_t maxMass = b.MassMaxIndex();
    const int32_t maxCon = b.ConMaxIndex();
    bool endsRead = false;
    for (int32_t j = 0; j <= maxMass; ++j) {
        if (!b.MassExists(j)) continue;
        const float mx = b.MassGetX(j), my = b.MassGetY(j);
        const float dx = mx - px, dy = my - py;
        const float d2 = dx * dx + dy * dy;
        if (d2 < bestD2) {
            best_ = j;
            bestD2 = d2;
        }
        if (!(d2 > REACH_MIN2 && d2 < REACH_MAX2)) continue;
        // Beyond the list's capacity further blobs in reach are not tied (the first ones in
        // index order are kept); the nearest-blob search above still sees every blob.
        if (static_cast<int32_t>(reach_.size()) >= REACH_CAPACITY) continue;
        if (!endsRead) {
            // Every strand's ends, once per scan and only when some blob is in reach.
            strandEnds_.clear();
            for (int32_t k = 0; k <= maxCon; ++k) {
                if (!b.ConExists(k)) continue;
                const int32_t a = b.ConGetMass1(k), c = b.ConGetMass2(k);
                strandEnds_.insert(strandEnds_.end(), {b.MassGetX(a), b.MassGetY(a), b.MassGetX(c), b.MassGetY(c)});
            }
            endsRead = true;
        }
        bool blocked = false;
        for (size_t k = 0; k < strandEnds_.size() && !blocked; k += 4) {
            const float* e = strandEnds_.data() + k;
            // Always asked from the blob to the point, by the preview and the click alike. With
            // the blob first, a strand that ends at the blob gives ua = 0 exactly (the terms
            // cancel), so it never blocks; from the point, ua comes out near 1 and rounding can
            // land it just inside (0, 1), so a click would refuse what the preview promised.
            blocked = SegmentsCross(mx, my, px, py, e[0], e[1], e[2], e[3]) != 0;
        }
        if (!blocked) reach_.push_back(j);
    }
    bestD_ = std::sqrt(bestD2);
    if (bestD_ <= REMOVE_REACH)
        effect_ = ClickEffect::Remove;
    else if (reach_.size() >= 2 && bestD_ > CLEARANCE)
        effect_ = ClickEffect::Add;
    else
        effect_ = ClickEffect::None;
    return effect_;
}

int32_t TSlime::Add(float x, float y) {
    TAdvBody& b = *ab;
    switch (ReachScan(x, y)) {
        case ClickEffect::Remove:
            b.MassRemove(best_);
            PlayRemoveSound();
            break;
        case ClickEffect::Add: {
            const int32_t i = b.MassAdd(x, y, 10.0f, 10.0f, 1.0f, 1);
            for (const int32_t c : reach_) {
                const int32_t k = b.ConAdd(i, c, -1.0f, 0.5f);
                b.ConAssign(k);
            }
            PlayAddSound();
            break;
        }
        case ClickEffect::None:
            break;
    }
    return 0;
}

float TSlime::Draw(float pointerX, float pointerY) {
    ReachScan(pointerX, pointerY);
    DrawGhost(pointerX, pointerY);
    DrawStrands();
    DrawBlobs();
    DropLooseBlobs();
    // After the drop: no marker for a blob that is gone.
    DrawRemovalMarker();
    const float top = Top();
    CompactTables();
    return top;
}

void TSlime::DrawGhost(float px, float py) {
    SetColor(255, 255, 255);
    switch (effect_) {
        case ClickEffect::Remove:
            SetMouseVisible(0);  // the removal marker takes its place
            break;
        case ClickEffect::Add:
            SetMouseVisible(0);
            for (const int32_t c : reach_) {
                const float dx = ab->MassGetX(c) - px, dy = ab->MassGetY(c) - py;
                SetScale(std::sqrt(dx * dx + dy * dy) / STRAND_IMAGE_LENGTH, 1.0f);
                SetRotation(std::atan2(dy, dx) / DEG);
                TPhysics::DrawImage(ghostgoo.Get(), px, py, 0);
            }
            // Drawn with the last ghost strand's scale and rotation still in force.
            TPhysics::DrawImage(ghostblob.Get(), px, py, 0);
            break;
        case ClickEffect::None:
            SetMouseVisible(1);
            break;
    }
}

void TSlime::DrawStrands() {
    // Strands, assigned or not, stretched from their first mass to their second.
    TAdvBody& b = *ab;
    SetColor(255, 255, 255);
    const int32_t maxCon = b.ConMaxIndex();
    for (int32_t k = 0; k <= maxCon; ++k) {
        if (!b.ConExists(k)) continue;
        SetTransform(b.ConGetAngle(k), b.ConGetLength(k) / STRAND_IMAGE_LENGTH, 1.0f);
        const int32_t m1 = b.ConGetMass1(k);
        TPhysics::DrawImage(goo.Get(), b.MassGetX(m1), b.MassGetY(m1), 0);
    }
    SetRotation(0.0f);
}

void TSlime::DrawBlobs() {
    TAdvBody& b = *ab;
    // Every index draws the same two random phases on every frame, so each blob wobbles
    // steadily instead of flickering.
    // Kept within one turn (8 divides 360): the same angles, and no overflow in long games.
    wobblePhase = (wobblePhase + 8) % 360;
    SeedRnd(0);
    SetColor(255, 255, 255);
    const int32_t maxMass = b.MassMaxIndex();
    for (int32_t i = 0; i <= maxMass; ++i) {
        const float r1 = static_cast<float>(Rnd(0.0, 360.0));
        const float r2 = static_cast<float>(Rnd(0.0, 360.0));
        const float phase = static_cast<float>(wobblePhase);
        SetScale(1.1f + 0.05f * std::cos((r2 + phase) * DEG), 1.2f + 0.1f * std::sin((r1 + phase) * DEG));
        if (b.MassExists(i) && b.MassIsActive(i)) TPhysics::DrawImage(blob.Get(), b.MassGetX(i), b.MassGetY(i), 0);
    }
    SetScale(1.0f, 1.0f);
}

void TSlime::DrawRemovalMarker() {
    if (effect_ == ClickEffect::Remove && ab->MassExists(best_))
        TPhysics::DrawImage(del.Get(), ab->MassGetX(best_), ab->MassGetY(best_), 0);
}

void TSlime::DropLooseBlobs() {
    // A blob takes part in the world only while an assigned strand holds it; one that lost
    // its last such strand no longer belongs to the structure.
    TAdvBody& b = *ab;
    const int32_t maxMass = b.MassMaxIndex();
    for (int32_t i = 0; i <= maxMass; ++i)
        if (b.MassExists(i) && !b.MassIsActive(i)) b.MassRemove(i);
}

float TSlime::Top() {
    TAdvBody& b = *ab;
    int32_t top = 0;
    float topY = TOP_NONE;
    const int32_t maxMass = b.MassMaxIndex();
    for (int32_t i = 0; i <= maxMass; ++i) {
        if (!b.MassExists(i) || !b.MassIsActive(i)) continue;
        const float y = b.MassGetY(i);
        if (y < topY) {
            top = i;
            topY = y;
        }
    }
    return b.MassExists(top) ? topY - TOP_MARGIN : TOP_NONE;
}

void TSlime::CompactTables() {
    // Removed blobs and strands leave holes that every scan and frame would walk for the
    // rest of the game. Compacting keeps each element's index right (strands hold their
    // blobs, not their numbers), so it is safe between frames; doing it only once holes
    // outnumber live entries keeps it rare.
    TAdvBody& b = *ab;
    int32_t blobs = 0, strands = 0;
    for (int32_t i = 0; i <= b.MassMaxIndex(); ++i) blobs += b.MassExists(i);
    for (int32_t k = 0; k <= b.ConMaxIndex(); ++k) strands += b.ConExists(k);
    if (b.MassMaxIndex() + 1 - blobs > blobs) b.MassCleanIndex();
    if (b.ConMaxIndex() + 1 - strands > strands) b.ConCleanIndex();
}

}  // namespace slime
