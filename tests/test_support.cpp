#include "tests/test_support.h"

#include "tests/model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tsry::test {

TempDir::TempDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("tsry-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path)) {
            path_ = path;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

InFolder::InFolder(const std::filesystem::path& folder)
    : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
}

InFolder::~InFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Append(const std::filesystem::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

std::string Rec(std::string_view name, std::string_view value) {
    return "[t] <TS_RY>INT#" + std::string(name) + "#" + std::string(value) + "#0#0#0#\r\n";
}

ChunkedSource::ChunkedSource(std::string data, std::vector<std::size_t> pieces, bool keeping)
    : data_(std::move(data)), pieces_(std::move(pieces)), keeping_(keeping) {
    if (pieces_.empty()) pieces_.push_back(data_.size() + 1);
}

std::string_view ChunkedSource::NextChunk() { return NextChunkKeeping(0); }

std::string_view ChunkedSource::NextChunkKeeping(std::size_t keep) {
    if (keep > offset_) throw std::logic_error("keeps more than was handed out");
    const std::size_t n =
        std::min(data_.size() - offset_, std::max<std::size_t>(pieces_[next_], 1));
    next_ = (next_ + 1) % pieces_.size();
    chunk_.assign(data_, offset_ - keep, keep + n);
    chunk_.shrink_to_fit();
    offset_ += n;
    return chunk_;
}

std::string RecordingProgress::Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string ScriptOpening() { return model::ScriptOpening(); }

std::string ScriptClosing() { return model::ScriptClosing(); }

std::string WindowLogScript() {
    return ScriptOpening() +
           CrLf({"    SetTSRYInt(\"gold\", 200, 1, 2, y);",
                 "    SetTSRYString(\"title\", \"Sir\", 0, 0, x);"}) +
           ScriptClosing();
}

std::string PartsScript(const std::vector<std::vector<std::string>>& parts) {
    const auto name = [](std::size_t p) { return "TSRYRestorePart" + std::to_string(p); };
    std::string script = ScriptOpening().substr(0, ScriptOpening().find("void main"));
    for (std::size_t p = 1; p <= parts.size(); ++p) script += CrLf({"void " + name(p) + "();"});
    script += CrLf({" "});
    for (std::size_t p = 1; p <= parts.size(); ++p) {
        script += CrLf({"void " + name(p) + "()", "{", "    object oTYArea;",
                        "    vector vTYVector;", "    location lTYLoc;", " "});
        script += CrLf(parts[p - 1]) + CrLf({" "});
        if (p < parts.size()) script += CrLf({"    DelayCommand(0.0, " + name(p + 1) + "());"});
        script += CrLf({"}", " "});
    }
    return script +
           CrLf({"void main()", "{", "    DelayCommand(0.0, " + name(1) + "());", " ", "}"});
}

std::string LargeRestoreLog() {
    std::string log;
    for (int i = 0; i < 4097; ++i) log += "[t] <TS_RY>INT#v" + std::to_string(i) + "#1#0#0#0#\r\n";
    return log;
}

std::string LargeRestoreScript() {
    std::vector<std::vector<std::string>> parts(3);
    for (int i = 0; i < 4097; ++i) {
        parts[static_cast<std::size_t>(i / 2000)].push_back("    SetTSRYInt(\"v" +
                                                            std::to_string(i) + "\", 1, 0, 0, 0);");
    }
    return PartsScript(parts);
}

std::string GoldScript() {
    return ScriptOpening() + CrLf({"    SetTSRYInt(\"gold\", 150, 0, 0, 0);"}) + ScriptClosing();
}

std::string CrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace tsry::test
