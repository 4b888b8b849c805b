// The gelsim tool's build command on any text: it either writes a file through the
// library's saver or reports one of its errors, as the tool does with exit status 1.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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
    using namespace kin::gelsim::cli;
    const std::vector<uint8_t> text(data, data + size);
    std::string written;
    try {
        written = BuildFromJson(text, "input.json", Scratch(), Scratch() + "/out");
    } catch (const std::exception&) {
        return 0;  // reported by the tool as invalid input (exit status 1)
    }
    // A build that succeeds wrote a file that check accepts.
    const std::vector<uint8_t> bytes = ReadFileBytes(written);
    const std::string tag(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(4, bytes.size())));
    for (const FileFormat* fmt : Formats()) {
        if (tag.size() != 4 || !fmt->Recognises(tag)) continue;
        try {
            fmt->Check(written);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "build wrote %s, which check refuses: %s\n", written.c_str(), e.what());
            std::abort();
        }
        return 0;
    }
    std::fprintf(stderr, "build wrote %s, which no format recognises\n", written.c_str());
    std::abort();
}
