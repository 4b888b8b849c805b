// The gelsim tool's build command on any text: it either writes a file through the
// library's saver or reports one of its errors, as the tool does with exit status 1.
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "Formats.h"
#include "Harness.h"

namespace {

// A folder of this process's own, empty apart from what the builds write, in memory when
// the system has a memory file system (the saver syncs every file it writes).
const std::string& Scratch() {
    static const std::string* dir = [] {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        auto* d = new std::string((base / ("gelsim-fuzz-build-" + std::to_string(getpid()))).string());
        std::filesystem::create_directories(*d);
        std::atexit([] { std::filesystem::remove_all(Scratch()); });
        return d;
    }();
    return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> text(data, data + size);
    try {
        kin::gelsim::cli::BuildFromJson(text, "input.json", Scratch(), Scratch() + "/out");
    } catch (const std::exception&) {
        // Reported by the tool as invalid input (exit status 1).
    }
    return 0;
}
