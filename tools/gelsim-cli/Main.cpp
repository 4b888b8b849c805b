// gelsim: shows, rebuilds and checks the library's binary files.
//
//   gelsim dump FILE [--extract-images DIR] [-o OUT.json]
//   gelsim build FILE.json -o OUT
//   gelsim check FILE
//   gelsim render FILE...|scene:NAME -o OUT.png [--steps N] [--size WxH] [--overlay NAME...]
//
//   gelsim --help
//
// Exit status: 0 done, 1 the file or the JSON is not valid (one line on standard error),
// 2 wrong usage.
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Formats.h"
#include "tools/testbed/Render.h"

namespace kin::gelsim::cli {
namespace {

constexpr const char* USAGE =
    "usage: gelsim dump FILE [--extract-images DIR] [-o OUT.json]\n"
    "       gelsim build FILE.json -o OUT\n"
    "       gelsim check FILE\n"
    "       gelsim render FILE...|scene:NAME -o OUT.png [--steps N] [--size WxH] [--overlay NAME...]\n";

int Usage() {
    std::fputs(USAGE, stderr);
    return 2;
}

// Asked for: the whole story on standard output, and success.
int Help() {
    std::fputs(USAGE, stdout);
    std::fputs(
        "\n"
        "Body (.plb) and zone (.plz) files:\n"
        "  dump     every stored field as JSON (standard output or -o); --extract-images also\n"
        "           writes the stored pictures as PNG files into DIR\n"
        "  build    the binary file from such JSON; refuses JSON it cannot store exactly\n"
        "  check    reads the file as the library does; exit 1 with a one-line reason\n"
        "  render   draws files or a sample scene into a PNG picture (gelsim render --help)\n"
        "\n"
        "Exit status: 0 done, 1 the file or the JSON is not valid (one line on standard\n"
        "error), 2 wrong usage.\n",
        stdout);
    return 0;
}

const FileFormat& FormatOfFile(const std::string& path) {
    if (IsDirectory(path)) throw ToolError(path + ": is a directory");
    errno = 0;
    std::ifstream f(path, std::ios::binary);
    if (!f) throw ToolError(path + ": " + (errno == ENOENT ? "no such file" : errno ? SystemReason(errno) : "cannot be read"));
    std::string tag(4, '\0');
    f.read(tag.data(), 4);
    tag.resize(static_cast<size_t>(f.gcount()));
    for (const FileFormat* fmt : Formats())
        if (tag.size() == 4 && fmt->Recognises(tag)) return *fmt;
    throw ToolError(path + ": not a file this tool knows (tag \"" + BytesToText(tag) + "\")");
}

int Run(const std::vector<std::string>& args) {
    if (args.size() < 2) return Usage();
    const std::string& cmd = args[0];
    std::string input, out, extract;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            out = args[++i];
        else if (args[i] == "--extract-images" && i + 1 < args.size())
            extract = args[++i];
        else if (input.empty() && !args[i].empty() && args[i][0] != '-')
            input = args[i];
        else
            return Usage();
    }
    if (input.empty()) return Usage();

    if (cmd == "dump") {
        const FileFormat& fmt = FormatOfFile(input);
        if (!extract.empty()) std::filesystem::create_directories(extract);
        const std::string text = fmt.Dump(input, DumpOptions{extract}).dump(2) + "\n";
        if (out.empty()) {
            std::fwrite(text.data(), 1, text.size(), stdout);
        } else {
            WriteFileBytes(out, std::vector<uint8_t>(text.begin(), text.end()));
        }
        return 0;
    }
    if (cmd == "build") {
        if (out.empty() || !extract.empty()) return Usage();
        const std::vector<uint8_t> text = ReadFileBytes(input);
        const std::string dir = std::filesystem::absolute(input).parent_path().string();
        const std::string written = BuildFromJson(text, input, dir, out);
        std::printf("wrote %s\n", written.c_str());
        return 0;
    }
    if (cmd == "check") {
        if (!out.empty() || !extract.empty()) return Usage();
        const FileFormat& fmt = FormatOfFile(input);
        std::printf("ok: %s: %s\n", input.c_str(), fmt.Check(input).c_str());
        return 0;
    }
    return Usage();
}

}  // namespace
}  // namespace kin::gelsim::cli

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help"))
        return kin::gelsim::cli::Help();
    if (!args.empty() && args[0] == "render")
        return kin::testbed::RenderCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    const std::string file = args.size() > 1 ? args[1] : "";
    try {
        return kin::gelsim::cli::Run(args);
    } catch (const std::exception& e) {
        // The library names the file it read or wrote; other errors get the input's name.
        // Keep the report to one line.
        std::string why = e.what();
        for (char& c : why)
            if (c == '\n' || c == '\r') c = ' ';
        if (why.find(file) == std::string::npos) why = file + ": " + why;
        std::fprintf(stderr, "invalid: %s\n", why.c_str());
        return 1;
    }
}
