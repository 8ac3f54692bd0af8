#include "app/web/RequestPolicy.h"

#include <cctype>
#include <string>

namespace tunewick {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool matchesOneOf(std::string_view text, std::string_view prefix, std::uint16_t port) {
    const std::string suffix = ":" + std::to_string(port);
    for (const std::string_view host : {std::string_view("127.0.0.1"), std::string_view("localhost")}) {
        if (equalsIgnoringCase(text, std::string(prefix) + std::string(host) + suffix)) return true;
    }
    return false;
}

}  // namespace

bool isOwnHost(std::string_view hostHeader, std::uint16_t port) {
    return matchesOneOf(hostHeader, "", port);
}

bool isOwnOrigin(std::string_view origin, std::uint16_t port) {
    return matchesOneOf(origin, "http://", port);
}

std::optional<std::string_view> queryValue(std::string_view target, std::string_view key) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    std::string_view query = target.substr(question + 1);
    query = query.substr(0, query.find('#'));
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == key) {
            return eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

std::string_view targetPath(std::string_view target) {
    return target.substr(0, target.find_first_of("?#"));
}

}  // namespace tunewick
