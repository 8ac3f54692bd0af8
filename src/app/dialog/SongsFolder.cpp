#include "app/dialog/SongsFolder.h"

#include <cstdlib>
#include <system_error>

namespace tunewick {
namespace fs = std::filesystem;

fs::path defaultSongsFolder(const char* xdgDataHome, const char* home) {
    if (xdgDataHome && xdgDataHome[0] == '/') return fs::path(xdgDataHome) / "tunewick" / "songs";
    if (home && home[0] == '/') return fs::path(home) / ".local" / "share" / "tunewick" / "songs";
    return {};
}

fs::path chooseSongsFolder(const std::string& option) {
    if (!option.empty()) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(option, ec);
        return ec ? fs::path(option) : absolute;
    }
    fs::path folder = defaultSongsFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (!folder.empty()) {
        std::error_code ignored;  // a read-only home still runs; the page then lists nothing
        fs::create_directories(folder, ignored);
    }
    return folder;
}

}  // namespace tunewick
