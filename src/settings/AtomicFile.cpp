#include "settings/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <vector>

namespace tunewick {
namespace {

namespace fs = std::filesystem;

// Owns one file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    // Closes now, so that a failing close (a lost delayed write) can be seen.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

bool writeAll(int fd, const std::string& text) {
    const char* at = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The rename itself must reach the disk too; a folder that cannot be synced is no error.
void syncFolder(const fs::path& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) (void)::fsync(dir.get());
}

// Where a write to `file` must land: through any symbolic links to the file they name (a
// player who keeps settings.json elsewhere and links it here keeps the link). Nothing when
// the links loop.
std::optional<fs::path> followLinks(fs::path file) {
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(file, ec))) return file;
        const fs::path target = fs::read_symlink(file, ec);
        if (ec) return std::nullopt;
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    return std::nullopt;
}

// Makes `folder` and any missing parents, syncing each parent that gained an entry so the
// new folders survive a power cut along with the file.
bool makeFolders(const fs::path& folder, std::string& error) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path at = folder; !at.empty() && !fs::exists(at, ec); at = at.parent_path()) {
        missing.push_back(at);
        if (at == at.parent_path()) break;
    }
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot make the folder " + folder.string() + ": " + ec.message();
        return false;
    }
    for (const fs::path& made : missing) syncFolder(made.has_parent_path() ? made.parent_path() : fs::path("."));
    return true;
}

// A new file in `folder`, named after `base`, made with the permissions a plain create would
// give (the umask applies); nothing in `name` when none could be made.
UniqueFd makeTemporary(const fs::path& folder, const std::string& base, std::string& name) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", entropy());
        const fs::path candidate = folder / (base + suffix);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            name = candidate.string();
            return UniqueFd(fd);
        }
        if (errno != EEXIST) break;
    }
    return UniqueFd(-1);
}

}  // namespace

bool writeFileAtomically(const fs::path& link, const std::string& text, std::string& error) {
    const auto resolved = followLinks(link);
    if (!resolved) {
        error = "cannot follow the links of " + link.string();
        return false;
    }
    const fs::path& file = *resolved;
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (!makeFolders(folder, error)) return false;
    std::string temporary;
    UniqueFd out = makeTemporary(folder, file.filename().string(), temporary);
    if (out.get() < 0) {
        error = reason("cannot make a temporary file in " + folder.string());
        return false;
    }
    // The replacement keeps the permissions the player gave the file.
    struct stat existing{};
    bool ok = true;
    if (::stat(file.c_str(), &existing) == 0 && ::fchmod(out.get(), existing.st_mode & 07777) != 0) {
        error = reason("cannot set the permissions of " + temporary);
        ok = false;
    }
    ok = ok && writeAll(out.get(), text);
    if (!ok && error.empty()) error = reason("cannot write " + temporary);
    if (ok && ::fsync(out.get()) != 0) {
        error = reason("cannot flush " + temporary);
        ok = false;
    }
    if (!out.close() && ok) {
        error = reason("cannot close " + temporary);
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), file.c_str()) != 0) {
        error = reason("cannot rename " + temporary + " to " + file.string());
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}

std::optional<fs::path> moveAsideKeepingOthers(const fs::path& file, const std::string& suffix, std::string& error) {
    constexpr int kMaxTries = 1000;
    for (int n = 0; n < kMaxTries; ++n) {
        fs::path target = file;
        target += suffix;
        if (n > 0) target += "." + std::to_string(n);
        // A hard link fails when the name is taken, so no check-then-act race can replace a
        // file that appeared meanwhile; folders and file systems without links use rename.
        if (::link(file.c_str(), target.c_str()) == 0) {
            ::unlink(file.c_str());
            return target;
        }
        if (errno == EEXIST) continue;
        std::error_code ec;
        if (fs::exists(fs::symlink_status(target, ec))) continue;
        if (::rename(file.c_str(), target.c_str()) == 0) return target;
        error = reason("cannot move " + file.string() + " aside");
        return std::nullopt;
    }
    error = "cannot move " + file.string() + " aside: every name up to " + suffix + "." +
            std::to_string(kMaxTries - 1) + " is taken";
    return std::nullopt;
}

}  // namespace tunewick
