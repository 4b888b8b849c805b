// Body files from a memory stream: any bytes are refused (not a body file, or the read
// error) or load as a body, which is activated in a world; a body that loaded saves and
// reads back.
#include "Harness.h"
#include "gelsim/bodies/BodyFile.h"
#include "gelsim/core/Physics.h"
#include "platform/Stream.h"

using namespace kin;
using namespace kin::gelsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Ref<TPhysics> world = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
    {
        TBankStream in(data, static_cast<int64_t>(size));
        TBodyFileData d;
        bool isBody = false;
        try {
            isBody = ReadBodyFile(in, d, "");
        } catch (const TStreamReadException&) {
            isBody = false;
        }
        if (isBody) {
            Ref<TAdvBody> body = BuildBody(d, TBodyBuild::LOAD);
            body->Activate();
            TPhysics::Update();

            TBankStream saved;
            WriteBodyFile(saved, CollectBody(*body, 1));
            saved.Seek(0);
            TBodyFileData again;
            bool readBack = false;
            try {
                readBack = ReadBodyFile(saved, again, "");
            } catch (const TStreamReadException&) {
                readBack = false;
            }
            fuzz::Require(readBack, "a loaded body does not read back after saving");
            fuzz::Require(again.masses.size() <= d.masses.size() && again.rigs.size() <= d.rigs.size(),
                          "a saved body reads back with more records than it had");
            body->Free();
        }
    }
    TPhysics::Free();
    return 0;
}
