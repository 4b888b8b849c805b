// Zone files from a memory stream: any bytes are refused (not a zone file, or the read
// error) or load as a zone, which masses then fall onto for a few steps; a zone that loaded
// saves and reads back.
#include "Harness.h"
#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/zones/ZoneFile.h"
#include "platform/Stream.h"

using namespace kin;
using namespace kin::gelsim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Ref<TPhysics> world = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
    {
        TBankStream in(data, static_cast<int64_t>(size));
        TZoneFileData d;
        bool isZone = false;
        try {
            isZone = ReadZoneFile(in, d, "");
        } catch (const TStreamReadException&) {
            isZone = false;
        }
        if (isZone) {
            Ref<TZone> zone = BuildZone(d, TZoneBuild::LOAD);
            zone->Activate();
            // Masses on and around the first vertices, in a group of their own.
            std::vector<Ref<TMass>> masses;
            for (size_t i = 0; i + 1 < zone->area.size() && i < 8; i += 2) {
                masses.push_back(TMass::Create(zone->area[i] + zone->offsetX, zone->area[i + 1] + zone->offsetY, 1.0f,
                                               4.0f, 0.5f, 9));
                masses.back()->AddRef();
            }
            for (int step = 0; step < 4; ++step) TPhysics::Update();

            TBankStream saved;
            WriteZoneFile(saved, CollectZone(*zone, 1));
            saved.Seek(0);
            TZoneFileData again;
            bool readBack = false;
            try {
                readBack = ReadZoneFile(saved, again, "");
            } catch (const TStreamReadException&) {
                readBack = false;
            }
            fuzz::Require(readBack, "a loaded zone does not read back after saving");
            fuzz::Require(again.coords.size() == d.coords.size(), "a saved zone reads back with other vertices");
            for (auto& m : masses) m->SubRef();
            zone->Free();
        }
    }
    TPhysics::Free();
    return 0;
}
