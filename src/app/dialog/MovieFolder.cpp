#include "app/dialog/MovieFolder.h"

#include <system_error>

namespace tunewick {
namespace fs = std::filesystem;

MovieFolder chooseMovieFolder(const std::string& option, const fs::path& defaultFolder) {
    std::error_code ec;
    fs::path folder = fs::absolute(option.empty() ? defaultFolder : fs::path(option), ec);
    if (ec) folder = option.empty() ? defaultFolder : fs::path(option);
    // Without a trailing separator, so that the movies' paths and the folder compare alike.
    folder = folder.lexically_normal();
    if (!folder.has_filename() && folder.has_parent_path() && folder != folder.root_path()) folder = folder.parent_path();
    const fs::path swf = folder / "Loader.swf";
    const bool hasSwf = fs::is_regular_file(swf, ec);
    return MovieFolder{folder, hasSwf ? swf : folder / "Loader.html"};
}

}  // namespace tunewick
