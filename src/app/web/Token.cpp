#include "app/web/Token.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <sys/random.h>
#include <system_error>
#include <unistd.h>

namespace tunewick {
namespace {

// Fills the whole buffer or returns false; getrandom may return short counts on signals.
bool fillFromGetrandom(unsigned char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::getrandom(data + done, size - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Older kernels lack getrandom: /dev/urandom gives the same quality once the system is up.
bool fillFromUrandom(unsigned char* data, std::size_t size) {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return ok;
}

}  // namespace

std::string makeToken() {
    std::array<unsigned char, 16> bytes{};
    if (!fillFromGetrandom(bytes.data(), bytes.size()) && !fillFromUrandom(bytes.data(), bytes.size())) {
        throw std::system_error(errno, std::generic_category(), "no cryptographic random source");
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string token;
    token.reserve(bytes.size() * 2);
    for (const unsigned char b : bytes) {
        token.push_back(hex[b >> 4]);
        token.push_back(hex[b & 0x0F]);
    }
    return token;
}

bool tokensEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

}  // namespace tunewick
