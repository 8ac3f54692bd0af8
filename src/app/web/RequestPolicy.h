#pragma once
// Who may talk to the host. It listens on loopback only, but a web site open in any local
// browser can still send requests there: the Host header (against DNS rebinding), the
// Origin (against cross-site WebSockets) and the token (against other local pages) keep
// them out.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tunewick {

// True for "127.0.0.1:PORT" or "localhost:PORT" (host name in any case), nothing else.
bool isOwnHost(std::string_view hostHeader, std::uint16_t port);

// True for "http://127.0.0.1:PORT" or "http://localhost:PORT" (in any case), nothing else.
bool isOwnOrigin(std::string_view origin, std::uint16_t port);

// The raw value of the first parameter `key` in the query of a request target
// ("/bridge?token=abc" -> "abc"); nothing when the target has no such parameter.
std::optional<std::string_view> queryValue(std::string_view target, std::string_view key);

// The path part of a request target, without query or fragment.
std::string_view targetPath(std::string_view target);

}  // namespace tunewick
