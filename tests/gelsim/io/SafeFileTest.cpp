// Saving a file together with the pictures beside it. Killed at any moment, or refused by a
// full disk, a save leaves the complete old set or the complete new set (after the next
// load has finished what a committed save started), a whole backup, and no temporaries.
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "tests/support/BodyFixture.h"
#include "gelsim/zones/Zone.h"

namespace kin::gelsim::test {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, Bytes>;  // file name -> contents

struct Kind {
    const char* name;
    const char* file;   // the saved file's name
    int32_t embed;      // pictures inside the file (1) or beside it (0)
    bool zone;
};

// Version 0 or 1 of a body or zone with pictures; the versions differ in every file.
void SaveVersion(const Kind& k, int32_t v, const std::string& path) {
    const uint32_t colour = v ? 0x2040E0FFu : 0xE04020FFu;
    if (k.zone) {
        Ref<TZone> z = TZone::Create({0, 0, 100, 0, 100, 40.0f + 10.0f * float(v)}, TZone::FILL, 0.5f, 2, 4);
        z->ImageSet(SolidImage(8 + v, 8, colour).Get());
        z->Save(path, 1, k.embed);
        z->Free();
    } else {
        Ref<TAdvBody> b = TAdvBody::Create();
        for (int32_t i = 0; i < 2 + v; ++i) b->MassAdd(10.0f * float(i), 0, 1, 5, 0, 1);
        for (int32_t i = 0; i < 3; ++i) b->ImageAdd(SolidImage(8 + i, 8, colour).Get());
        b->Save(path, 1, k.embed);
    }
}

void Load(const Kind& k, const std::string& path) {
    try {
        if (k.zone) {
            if (Ref<TZone> z = TZone::Load(path)) z->Free();
        } else {
            TAdvBody::Load(path, 0);
        }
    } catch (const std::exception&) {
    }
}

Files Folder(const std::string& dir) {
    Files f;
    for (const auto& e : fs::directory_iterator(dir)) f[e.path().filename().string()] = ReadAll(e.path().string());
    return f;
}

class SaveSets : public BodyWorld, public ::testing::WithParamInterface<Kind> {
protected:
    /// The two complete sets, as saving each into an empty folder makes them.
    void MakeReferences() {
        const Kind& k = GetParam();
        for (int32_t v = 0; v < 2; ++v) {
            const std::string d = Path("ref" + std::to_string(v));
            fs::create_directories(d);
            SaveVersion(k, v, d + "/" + k.file);
            sets_[v] = Folder(d);
        }
    }
    /// The folder holds one complete version (its backup aside) and nothing else.
    void ExpectOneCompleteSet(const std::string& dir, const std::string& when) {
        const Kind& k = GetParam();
        Files now = Folder(dir);
        const std::string bak = std::string(k.file) + ".bak";
        if (now.count(bak)) {
            EXPECT_TRUE(now[bak] == sets_[0][k.file] || now[bak] == sets_[1][k.file]) << when << ": torn backup";
            now.erase(bak);
        }
        EXPECT_TRUE(now == sets_[0] || now == sets_[1]) << when << ": " << Describe(now);
    }
    std::string Describe(const Files& f) {
        std::string s;
        for (const auto& [name, bytes] : f)
            s += name + (bytes == sets_[0][name] ? "(old) " : bytes == sets_[1][name] ? "(new) " : "(?) ");
        return s;
    }
    Files sets_[2];
};

TEST_P(SaveSets, AKilledSaveLeavesTheOldOrTheNewSet) {
    const Kind& k = GetParam();
    MakeReferences();
    const std::string dir = Path("work");
    fs::create_directories(dir);
    const std::string path = dir + "/" + k.file;
    SaveVersion(k, 1, path);
    SaveVersion(k, 0, path);
    std::mt19937 rng(11);
    for (int32_t round = 0; round < 40; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int32_t v = 1;; v ^= 1) SaveVersion(k, v, path);
        }
        usleep(std::uniform_int_distribution<useconds_t>(500, 20000)(rng));
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        Load(k, path);
        ExpectOneCompleteSet(dir, "kill " + std::to_string(round));
    }
}

TEST_P(SaveSets, ASaveIntoAFullDiskFailsAndKeepsTheOldSet) {
    const Kind& k = GetParam();
    MakeReferences();
    const std::string dir = Path("small");
    fs::create_directories(dir);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << ")";
    struct Unmount {
        std::string dir;
        ~Unmount() { umount(dir.c_str()); }
    } unmount{dir};
    const std::string path = dir + "/" + k.file;
    SaveVersion(k, 0, path);
    // Fill the disk, then give back one page at a time until the save goes through: every
    // failure on the way must leave the old set as it was.
    const std::string filler = Path("small/filler");
    bool saved = false;
    int32_t refused = 0;
    for (int32_t pages = 0; pages < 16 && !saved; ++pages) {
        {
            std::ofstream f(filler, std::ios::binary | std::ios::trunc);
            const std::vector<char> block(4096, 'x');
            while (f.write(block.data(), static_cast<std::streamsize>(block.size()))) {
            }
        }
        fs::resize_file(filler, fs::file_size(filler) - 4096u * static_cast<uintmax_t>(pages));
        try {
            SaveVersion(k, 1, path);
            saved = true;
        } catch (const TStreamWriteException&) {
            ++refused;
        }
        fs::remove(filler);
        Files now = Folder(dir);
        now.erase(std::string(k.file) + ".bak");
        EXPECT_EQ(now == sets_[1], saved) << pages << " pages: " << Describe(now);
        if (!saved) {
            EXPECT_TRUE(now == sets_[0]) << pages << " pages: " << Describe(now);
        }
    }
    EXPECT_TRUE(saved);
    EXPECT_GT(refused, 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SaveSets,
                         ::testing::Values(Kind{"BodyPicturesBeside", "b.plb", 0, false},
                                           Kind{"BodyPicturesInside", "b.plb", 1, false},
                                           Kind{"ZonePictureBeside", "z.plz", 0, true},
                                           Kind{"ZonePictureInside", "z.plz", 1, true}),
                         [](const ::testing::TestParamInfo<Kind>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace kin::gelsim::test
