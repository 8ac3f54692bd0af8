#pragma once
// The secret that admits a player to the bridge: only a page opened from the URL the host
// printed knows it, so another local program or web site cannot drive the host.
#include <string>
#include <string_view>

namespace tunewick {

// 32 lowercase hex characters (128 bits) from the kernel's cryptographic random source.
// Throws std::system_error when no such source can be read: a weak token is never made.
std::string makeToken();

// Compares in time that depends only on the lengths, so a wrong guess tells nothing about
// how much of it was right.
bool tokensEqual(std::string_view a, std::string_view b);

}  // namespace tunewick
