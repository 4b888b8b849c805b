// A soft square: a 6 x 6 lattice of masses held together by springs drops onto the floor
// of a 200 x 200 world. The program steps it, checks that it landed in one piece, and
// draws it into a picture (lattice.png, or the path given as the first argument).
#include <cstdio>
#include <vector>

#include "gelsim/core/Body.h"
#include "gelsim/core/Constraint.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "platform/Graphics.h"
#include "platform/Png.h"
#include "platform/Stream.h"

using namespace kin;
using namespace kin::gelsim;

int main(int argc, char** argv) {
    TPhysics::Create(200, 200, 0.1f, 0, 4);  // size, gravity down and across, passes per step
    const int n = 6, group = TPhysics::TakeColGroup();
    Ref<TBody> body = MakeRef<TBody>();  // holds the springs, and through them the masses
    std::vector<Ref<TMass>> m;
    std::vector<Ref<TConstraint>> springs;
    for (int i = 0; i < n * n; ++i) m.push_back(TMass::Create(70 + 12 * (i % n), 20 + 12 * (i / n), 1, 5, 0.5f, group));
    auto join = [&](int a, int b) {
        springs.push_back(TConstraint::Create(m[a].Get(), m[b].Get(), 0, 0.5f));  // rest length: as placed
        springs.back()->Assign(body.Get());
    };
    for (int i = 0; i < n * n; ++i) {
        const bool right = i % n + 1 < n, down = i + n < n * n;
        if (right) join(i, i + 1);
        if (down) join(i, i + n);
        if (right && down) join(i, i + n + 1), join(i + 1, i + n);  // both diagonals keep it square
    }
    for (int step = 0; step < 400; ++step) TPhysics::Update();

    float x0, y0, x1, y1;
    m[0]->GetPosition(x0, y0);          // top-left corner
    m[n * n - 1]->GetPosition(x1, y1);  // bottom-right corner
    const bool ok = y1 > 180 && y1 <= 200 && x1 - x0 > 45 && y1 - y0 > 45;  // on the floor, still square
    std::printf("corners (%.1f, %.1f) (%.1f, %.1f): %s\n", x0, y0, x1, y1, ok ? "landed whole" : "WRONG");

    Ref<TGraphics> g = CreateHeadlessGraphics(200, 200);  // software drawing, no window
    SetGraphics(g.Get());
    SetClsColor(16, 24, 40), Cls();
    SetColor(90, 150, 230);
    for (auto& spring : springs) spring->Draw();
    SetColor(120, 230, 140);
    for (auto& mass : m) mass->Draw();
    TPixmap picture(200, 200, g->ReadPixels());
    Ref<TFileStream> file = TFileStream::Open(argc > 1 ? argv[1] : "lattice.png", TFileStream::WRITE);
    return ok && file && SavePixmapPNG(picture, *file, 6) ? 0 : 1;
}
