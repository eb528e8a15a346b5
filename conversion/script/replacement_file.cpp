#include "conversion/script/replacement_file.h"

#include <cstdint>
#include <string>
#include <system_error>

namespace tsry {

namespace {

// The longest file name on the file systems in use, in the system's units
// (bytes, or UTF-16 characters on Windows).
constexpr std::size_t kMaxName = 255;

// The random part of a temporary file's name.
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixSize = 6;

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
    std::string suffix(kSuffixSize, ' ');
    for (char& c : suffix) c = kAlphabet[random() % kAlphabet.size()];
    return suffix;
}

std::filesystem::path ReplacedFile(const std::filesystem::path& target) {
    std::error_code error;
    std::filesystem::path at = std::filesystem::absolute(target, error);
    // A link that points nowhere yet stands for the file it would create.
    for (int link = 0; link < 40 && !error && std::filesystem::is_symlink(at, error) &&
                       !std::filesystem::exists(at, error);
         ++link) {
        at = at.parent_path() / std::filesystem::read_symlink(at, error);
    }
    // (A path none of which exists comes back from weakly_canonical as it
    // is: hence absolute.)
    std::filesystem::path final = std::filesystem::weakly_canonical(at, error);
    if (error || !final.has_filename()) return {};
    return final;
}

TemporaryFilesOf::TemporaryFilesOf(const std::filesystem::path& target) {
    const std::filesystem::path final = ReplacedFile(target);
    if (final.empty()) return;
    folder_ = final.parent_path();
    pattern_ = detail::TemporaryName(final.filename(), std::string(kSuffixSize, 'X')).native();
}

bool TemporaryFilesOf::Holds(const std::filesystem::path& file) const {
    // The name first, which rules out nearly every file without a look at
    // the disk.
    const std::filesystem::path::string_type name = file.filename().native();
    const std::size_t fixed = pattern_.size() - kSuffixSize;
    if (folder_.empty() || name.size() != pattern_.size() ||
        name.compare(0, fixed, pattern_, 0, fixed) != 0) {
        return false;
    }
    for (std::size_t i = fixed; i < name.size(); ++i) {
        const auto c = static_cast<std::uint32_t>(name[i]);
        if (c > 0x7f || kAlphabet.find(static_cast<char>(c)) == std::string_view::npos) {
            return false;
        }
    }
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(
        std::filesystem::absolute(file, error).parent_path(), error);
    return !error && folder == folder_;
}

}  // namespace tsry
