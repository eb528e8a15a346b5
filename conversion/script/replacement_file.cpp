#include "conversion/script/replacement_file.h"

namespace tsry {

namespace {

// The longest file name on the file systems in use, in the system's units
// (bytes, or UTF-16 characters on Windows).
constexpr std::size_t kMaxName = 255;

}  // namespace

std::filesystem::path detail::TemporaryName(const std::filesystem::path& target,
                                            std::string_view suffix) {
    std::filesystem::path::string_type name = target.filename().native();
    const std::filesystem::path::string_type added =
        std::filesystem::path(".tmp." + std::string(suffix)).native();
    if (name.size() + added.size() > kMaxName) name.resize(kMaxName - added.size());
    return target.parent_path() / (name + added);
}

std::string detail::RandomSuffix(std::mt19937_64& random) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, ' ');
    for (char& c : suffix) c = kAlphabet[random() % (sizeof kAlphabet - 1)];
    return suffix;
}

}  // namespace tsry
