#pragma once
// Percent-encoding of URL paths, shared by the file server (which decodes what a page asks
// for) and the commands that hand a page URLs of files (which encode them). Pure functions.
#include <optional>
#include <string>
#include <string_view>

namespace tunewick {

// Decodes %XX escapes once. Returns nothing for a malformed escape ("%", "%4", "%zz").
std::optional<std::string> percentDecode(std::string_view text);

// Escapes every byte but the unreserved ones (letters, digits, "-._~") of one path segment.
std::string percentEncodeSegment(std::string_view segment);

}  // namespace tunewick
