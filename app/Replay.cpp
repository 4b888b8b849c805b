#include "app/Replay.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"

namespace slime {

using kin::gelsim::TMass;
using kin::gelsim::TPhysics;

namespace {

// More than a year of play at 60 steps a second. A step count beyond it is a damaged digit,
// and playing it would keep a headless replay busy for days.
constexpr int64_t MAX_STEP = 2147483647;

// The words of one line, split at spaces and tabs; views into the line.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string Quoted(std::string_view word) {
    // A damaged file may hold anything: show a short, printable excerpt.
    std::string out = "\"";
    for (size_t i = 0; i < word.size() && i < 24; ++i) {
        const unsigned char c = static_cast<unsigned char>(word[i]);
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    if (word.size() > 24) out += "...";
    return out + "\"";
}

bool ReadStep(std::string_view word, int64_t& step, std::string& why) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, step);
    if (r.ec != std::errc{} || r.ptr != end || step < 0 || step > MAX_STEP) {
        why = "step " + Quoted(word) + " is not a whole number from 0 to " + std::to_string(MAX_STEP);
        return false;
    }
    return true;
}

bool ReadCoordinate(std::string_view word, float& v, std::string& why) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, v);
    if (r.ec != std::errc{} || r.ptr != end || !std::isfinite(v)) {
        why = "coordinate " + Quoted(word) + " is not a finite number";
        return false;
    }
    return true;
}

// One entry line into script; false with the reason in why.
bool ReadEntry(const std::vector<std::string_view>& w, ReplayScript& script, std::string& why) {
    if (script.hasEnd) {
        why = "entry after the end line";
        return false;
    }
    ReplayEntry e;
    int64_t step = 0;
    if (w[0] == "click") {
        if (w.size() != 4) {
            why = "a click needs a step and two coordinates";
            return false;
        }
        if (!ReadStep(w[1], step, why) || !ReadCoordinate(w[2], e.x, why) || !ReadCoordinate(w[3], e.y, why))
            return false;
        e.kind = ReplayEntry::Kind::Click;
    } else if (w[0] == "frame" || w[0] == "end") {
        if (w.size() != 2) {
            why = std::string(w[0]) + " needs just a step";
            return false;
        }
        if (!ReadStep(w[1], step, why)) return false;
        e.kind = ReplayEntry::Kind::Frame;
    } else {
        why = "unknown entry " + Quoted(w[0]);
        return false;
    }
    const int64_t last = script.entries.empty() ? 0 : script.entries.back().step;
    if (step < last) {
        why = "step " + std::to_string(step) + " comes before the previous entry's step " + std::to_string(last);
        return false;
    }
    if (w[0] == "end") {
        script.hasEnd = true;
        script.endStep = step;
        return true;
    }
    e.step = step;
    script.entries.push_back(e);
    script.endStep = step;
    return true;
}

}  // namespace

bool ParseReplay(const std::string& text, const std::string& name, ReplayScript& script, std::string* error) {
    script = ReplayScript{};
    int64_t lineNo = 0;
    size_t pos = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = name + ":" + std::to_string(lineNo) + ": " + why;
        script = ReplayScript{};
        return false;
    };
    if (text.empty()) {
        lineNo = 1;
        return fail("empty file, not a slime-tower recording");
    }
    bool header = false;
    while (pos < text.size()) {
        ++lineNo;
        const size_t nl = text.find('\n', pos);
        // Every line is written whole with its line end: a last line without one was cut
        // short, and its last number may have lost digits.
        if (nl == std::string::npos) return fail("line cut short (no line end)");
        std::string_view line(text.data() + pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\0') != std::string_view::npos) return fail("not a text line");
        if (!header) {
            const std::string_view tag = REPLAY_TAG;
            const std::vector<std::string_view> w = Words(line);
            if (w.size() != 3 || line.substr(0, tag.size()) != tag || w[0] != "slime-tower" || w[1] != "replay")
                return fail(std::string("not a slime-tower recording (the first line should be \"") + REPLAY_TAG + " " +
                            std::to_string(REPLAY_VERSION) + "\")");
            int64_t version = 0;
            const auto r = std::from_chars(w[2].data(), w[2].data() + w[2].size(), version);
            if (r.ec != std::errc{} || r.ptr != w[2].data() + w[2].size() || version != REPLAY_VERSION)
                return fail("recording version " + Quoted(w[2]) + " is not supported (this game reads version " +
                            std::to_string(REPLAY_VERSION) + ")");
            header = true;
            continue;
        }
        const std::vector<std::string_view> w = Words(line);
        if (w.empty() || w[0].front() == '#') continue;  // blank lines and notes by hand
        std::string why;
        if (!ReadEntry(w, script, why)) return fail(why);
    }
    return true;
}

bool ReadReplay(const std::string& path, ReplayScript& script, std::string* error) {
    script = ReplayScript{};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = path + ": cannot be opened (" + std::strerror(errno) + ")";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        if (error) *error = path + ": cannot be read";
        return false;
    }
    return ParseReplay(text.str(), path, script, error);
}

ReplayWriter::~ReplayWriter() {
    if (file_) std::fclose(file_);
}

bool ReplayWriter::Open(const std::string& path, std::string* error) {
    if (file_) std::fclose(file_);
    failed_.clear();
    path_ = path;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        if (error) *error = path + ": cannot be written (" + std::strerror(errno) + ")";
        return false;
    }
    const std::string header = std::string(REPLAY_TAG) + " " + std::to_string(REPLAY_VERSION) + "\n";
    Line(header.c_str());
    if (!failed_.empty()) {
        if (error) *error = failed_;
        return false;
    }
    return true;
}

void ReplayWriter::Line(const char* text) {
    if (!file_) return;
    // Flushed line by line: a game that is killed keeps every entry before the last.
    if (std::fputs(text, file_) < 0 || std::fflush(file_) != 0) {
        failed_ = path_ + ": the recording could not be written (" + std::strerror(errno) + ")";
        std::fclose(file_);
        file_ = nullptr;
    }
}

void ReplayWriter::Click(int64_t step, float x, float y) {
    // Nine significant digits read back to the same float.
    char text[96];
    std::snprintf(text, sizeof text, "click %lld %.9g %.9g\n", static_cast<long long>(step), static_cast<double>(x),
                  static_cast<double>(y));
    Line(text);
}

void ReplayWriter::Frame(int64_t step) {
    char text[48];
    std::snprintf(text, sizeof text, "frame %lld\n", static_cast<long long>(step));
    Line(text);
}

void ReplayWriter::End(int64_t step) {
    char text[48];
    std::snprintf(text, sizeof text, "end %lld\n", static_cast<long long>(step));
    Line(text);
    if (file_ && std::fclose(file_) != 0)
        failed_ = path_ + ": the recording could not be written (" + std::strerror(errno) + ")";
    file_ = nullptr;
}

uint64_t WorldHash() {
    uint64_t h = 1469598103934665603ull;
    const TPhysics* w = TPhysics::currentWorld.Get();
    if (!w) return h;
    auto mix = [&h](float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        for (int i = 0; i < 4; ++i) {
            h ^= (bits >> (8 * i)) & 0xFFu;
            h *= 1099511628211ull;
        }
    };
    const int32_t n = std::min(w->massCount, static_cast<int32_t>(w->massArray.size()));
    for (int32_t i = 0; i < n; ++i) {
        const TMass* m = w->massArray[static_cast<size_t>(i)].Get();
        if (!m) continue;
        mix(m->posX);
        mix(m->posY);
        mix(m->oldPosX);
        mix(m->oldPosY);
    }
    return h;
}

std::string HashLine(uint64_t h) {
    char text[32];
    std::snprintf(text, sizeof text, "hash %016llx", static_cast<unsigned long long>(h));
    return text;
}

bool ParseOptions(int argc, const char* const* argv, GameOptions& options, std::string* error) {
    options = GameOptions{};
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i] ? argv[i] : "";
        if (a == "--record" || a == "--replay") {
            if (i + 1 >= argc || !argv[i + 1] || !*argv[i + 1]) return fail(std::string(a) + " needs a file name");
            (a == "--record" ? options.record : options.replay) = argv[++i];
        } else if (a == "--headless") {
            options.headless = true;
        } else if (a == "--hash") {
            options.hash = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else {
            return fail("unknown option " + Quoted(a) + " (--help lists the options)");
        }
    }
    if (!options.record.empty() && !options.replay.empty())
        return fail("--record and --replay cannot be used together");
    if (options.headless && options.replay.empty()) return fail("--headless needs --replay FILE");
    return true;
}

std::string UsageText() {
    return "Usage: slime-tower [--record FILE | --replay FILE [--headless]] [--hash]\n"
           "Grow a wobbling tower of slime. Without options the game simply starts.\n"
           "  --record FILE  write every click (and every repaint) to FILE as the game runs\n"
           "  --replay FILE  play FILE back in the window at the game's pace, then quit;\n"
           "                 clicks are ignored while it plays, H and Esc still work\n"
           "  --headless     with --replay: no window, no waiting, as fast as it goes\n"
           "  --hash         at the end print the final world's hash (\"hash\" and 16 hex digits)\n"
           "  --help         show this text\n";
}

}  // namespace slime
