#pragma once
// Hands untrusted text (a movie's request, a movie's reply) to TinyXML safely.
//
// TinyXML parses recursively and trusts its input: it walks past the end of a text whose last
// UTF-8 sequence is cut short, and its stack grows with every nested element. So before it
// sees a text, the text is made valid UTF-8 (each ill-formed sequence becomes U+FFFD), ends at
// its first NUL (where TinyXML stops anyway) and is cut where element nesting would pass
// kMaxXmlNesting. TinyXML keeps whatever it built before the cut, as it does for any error.
#include <cstddef>
#include <string>
#include <string_view>

class TiXmlDocument;

namespace tunewick {

// Deepest element nesting handed to TinyXML. A request needs 2 levels for <invoke><arguments>
// and 2 per nested value, so every value that Param reads fits with room to spare.
constexpr int kMaxXmlNesting = 256;

// `text` with every ill-formed UTF-8 sequence (each maximal invalid subpart) replaced by
// U+FFFD. Valid UTF-8, NUL included, comes back unchanged.
std::string toValidUtf8(std::string_view text);

// The length of the longest prefix of `text` that TinyXML parses with no element nested more
// than `maxNesting` deep. `text` must be valid UTF-8 without NUL. The scan follows TinyXML's
// own grammar in one linear pass; where TinyXML would stop with an error the prefix ends just
// after the byte it rejects, which leaves its result unchanged.
std::size_t nestingBoundedLength(std::string_view text, int maxNesting);

// Parses `text` into `document` (which must be empty) as UTF-8, with TinyXML's default white
// space condensing and entity decoding, after the preparation above. Errors are not reported:
// the document holds whatever TinyXML built.
void parseUntrustedXml(TiXmlDocument& document, std::string_view text);

}  // namespace tunewick
