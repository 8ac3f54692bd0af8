#include "settings/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

}  // namespace

bool writeFileAtomically(const fs::path& file, const std::string& text, std::string& error) {
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot make the folder " + folder.string() + ": " + ec.message();
        return false;
    }
    std::string pattern = (folder / (file.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd out(::mkostemp(name.data(), O_CLOEXEC));
    if (out.get() < 0) {
        error = reason("cannot make a temporary file in " + folder.string());
        return false;
    }
    const std::string temporary(name.data());
    bool ok = writeAll(out.get(), text);
    if (!ok) error = reason("cannot write " + temporary);
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
