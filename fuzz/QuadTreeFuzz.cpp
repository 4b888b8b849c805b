// Quad-tree records: any bytes either give a tree or raise the read error; a tree that was
// read writes back as exactly the bytes it was read from, and answers queries anywhere.
#include <cstring>

#include "Harness.h"
#include "gelsim/zones/QuadTree.h"
#include "platform/Stream.h"

using namespace kin;
using namespace kin::gelsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TBankStream in(data, static_cast<int64_t>(size));
    Ref<TQuadTree> tree;
    try {
        tree = TQuadTree::Read(in);
    } catch (const TStreamReadException&) {
        return 0;
    }
    fuzz::Require(tree != nullptr, "Read returned no tree and raised nothing");
    TBankStream out;
    tree->Write(out);
    const auto used = static_cast<size_t>(in.Pos());
    fuzz::Require(out.Bytes().size() == used && std::memcmp(out.Bytes().data(), data, used) == 0,
                  "a tree does not write back as the bytes it was read from");
    for (float at : {-1e30f, -5.0f, 0.0f, 3.5f, 100.0f, 1e30f}) {
        tree->Collide(0.0f, 0.0f, at, at, 8.0f, 7);
        tree->Query(1.0f, -2.0f, at, -at, 16.0f, 4.0f);
    }
    return 0;
}
