#include "app/dialog/ProgramFiles.h"

#include <array>
#include <system_error>

namespace tunewick {
namespace {

namespace fs = std::filesystem;

std::array<fs::path, 2> candidates(const fs::path& program) {
    const fs::path dir = program.parent_path();
    return {dir, (dir / ".." / "share" / "tunewick").lexically_normal()};
}

bool holdsProgramFiles(const fs::path& dir) {
    std::error_code error;
    // The program's own movies start with the HTML5 Loader.
    return fs::is_regular_file(dir / "data" / "Loader.html", error) &&
           fs::is_regular_file(dir / "web" / "player" / "index.html", error);
}

}  // namespace

std::optional<std::string> findProgramFiles(const fs::path& program) {
    for (const fs::path& dir : candidates(program)) {
        if (!holdsProgramFiles(dir)) continue;
        std::string found = dir.string();
        if (found.empty() || found.back() != '/') found += '/';
        return found;
    }
    return std::nullopt;
}

std::string programFilesCandidates(const fs::path& program) {
    const auto dirs = candidates(program);
    return dirs[0].string() + " and " + dirs[1].string();
}

fs::path runningProgram() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return fs::weakly_canonical(exe, error);
}

}  // namespace tunewick
