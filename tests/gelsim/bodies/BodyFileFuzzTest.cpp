// Random damage to a valid body file: every mutation either loads or raises the read
// error (a format error is one); nothing else may happen. Run under the sanitizers to
// catch reads and writes outside a table.
#include <random>

#include "tests/support/BodyFixture.h"
#include "platform/Png.h"

namespace kin::gelsim::test {
namespace {

class BodyFileFuzz : public BodyWorld {};

Bytes ValidFile() {
    Ref<TAdvBody> b = TAdvBody::Create();
    for (int32_t i = 0; i < 4; ++i) b->MassAdd(10.0f * i, 20, 1, 5, 0.5f, i % 2 ? -3 : 1);
    b->ConAddAll(0.5f);
    b->MassRemove(1);
    b->ImageAdd(SolidImage(3, 2, 0x102030FFu).Get());
    b->ImageAdd(SolidImage(2, 2, 0xFFFFFF80u).Get());
    b->RigAdd(0, 0, 2, 10);
    b->RigAdd(1, 3, -1, 0);
    TBankStream s;
    WriteBodyFile(s, CollectBody(*b, 1));
    return s.Bytes();
}

Bytes Mutate(Bytes f, std::mt19937& rng) {
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : size_t(0); };
    static const uint32_t kExtremes[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu, 0, 1, 5, 0x10000, 4096};
    const int32_t edits = 1 + static_cast<int32_t>(pick(4));
    for (int32_t e = 0; e < edits && !f.empty(); ++e) {
        switch (pick(5)) {
            case 0: f[pick(f.size())] ^= static_cast<uint8_t>(1u << pick(8)); break;
            case 1: {  // an extreme int over any four bytes
                const size_t at = pick(f.size() >= 4 ? f.size() - 3 : 1);
                const uint32_t v = kExtremes[pick(std::size(kExtremes))];
                for (size_t k = 0; k < 4 && at + k < f.size(); ++k) f[at + k] = static_cast<uint8_t>(v >> (8 * k));
                break;
            }
            case 2: f.resize(pick(f.size())); break;
            case 3: {  // drop a slice
                const size_t at = pick(f.size()), n = std::min(pick(16) + 1, f.size() - at);
                f.erase(f.begin() + static_cast<std::ptrdiff_t>(at), f.begin() + static_cast<std::ptrdiff_t>(at + n));
                break;
            }
            default: {  // insert random bytes
                const size_t at = pick(f.size());
                Bytes ins(pick(8) + 1);
                for (auto& b : ins) b = static_cast<uint8_t>(rng());
                f.insert(f.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
            }
        }
    }
    return f;
}

TEST_F(BodyFileFuzz, MutationsLoadOrRaiseTheReadError) {
    const Bytes valid = ValidFile();
    std::mt19937 rng(20240601);
    int32_t loaded = 0, refused = 0;
    for (int32_t i = 0; i < 4000; ++i) {
        const Bytes f = Mutate(valid, rng);
        try {
            TBankStream s(f.data(), static_cast<int64_t>(f.size()));
            TBodyFileData d;
            if (!ReadBodyFile(s, d, "")) {
                ++refused;
                continue;
            }
            Ref<TAdvBody> b = BuildBody(d, TBodyBuild::LOAD);
            b->Activate();
            b->Draw();
            b->MassDrawAll();
            b->CleanIndex();
            TBankStream out;  // whatever loaded can be written again
            WriteBodyFile(out, CollectBody(*b, 1));
            b->Free();
            ++loaded;
        } catch (const TStreamReadException&) {
            ++refused;
        } catch (const std::exception& e) {
            FAIL() << "mutation " << i << " raised " << e.what();
        }
    }
    EXPECT_GT(loaded, 100);
    EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace kin::gelsim::test
