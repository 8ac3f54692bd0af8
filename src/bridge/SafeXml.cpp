#include "bridge/SafeXml.h"

#include <tinyxml.h>

#include <cstdint>

namespace tunewick {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at `i`, or 0 when the bytes there are ill-formed;
// `invalid` then receives how many bytes form the maximal invalid subpart.
std::size_t utf8SequenceAt(std::string_view s, std::size_t i, std::size_t& invalid) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t lead = byte(i);
    invalid = 1;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= s.size()) return 0;
        const std::uint8_t b = byte(i + k);
        const std::uint8_t lo = k == 1 ? low : 0x80;
        const std::uint8_t hi = k == 1 ? high : 0xBF;
        if (b < lo || b > hi) return 0;
        invalid = k + 1;
    }
    return length;
}

// A mirror of TinyXML 2.6.2's parser in UTF-8 mode that only counts element nesting. Each
// step it takes when TinyXML succeeds is the step TinyXML takes; where TinyXML would fail it
// stops just after the rejected byte.
class NestingScanner {
public:
    NestingScanner(std::string_view text, int maxNesting) : s_(text), n_(text.size()), max_(maxNesting) {}

    std::size_t run() {
        std::size_t i = skipWhiteSpace(0);
        while (i < n_) {
            if (s_[i] != '<') {
                // Outside every element only markup is read; inside, a text runs to the next '<'.
                if (depth_ == 0) return i;
                const std::size_t next = textUntil(i, '<');
                if (next == kStop) return stopAt_;
                if (next + 1 >= n_) return n_;
                i = next;
            } else if (depth_ > 0 && startsWith(i, "</")) {
                const std::size_t end = endTag(i);
                if (end == kStop) return stopAt_;
                --depth_;
                i = end;
            } else {
                const std::size_t end = node(i);
                if (end == kStop) return stopAt_;
                i = end;
            }
            i = skipWhiteSpace(i);
        }
        return n_;
    }

private:
    static constexpr std::size_t kStop = static_cast<std::size_t>(-1);

    std::uint8_t at(std::size_t i) const { return i < n_ ? static_cast<std::uint8_t>(s_[i]) : 0; }

    // TinyXML fails at the byte at `pos`. That byte is kept: TinyXML looks one byte past what
    // it has read (a quoted value followed by the end of the text counts as an error), and
    // with that byte in place it fails exactly as it would on the whole text. One byte cannot
    // open an element.
    std::size_t stop(std::size_t pos) {
        stopAt_ = pos < n_ ? pos + 1 : n_;
        return kStop;
    }

    static bool isWhiteSpace(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    static bool isAsciiAlpha(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    // TinyXML takes every byte from 127 up for a letter.
    static bool isNameStart(std::uint8_t c) { return c >= 127 || isAsciiAlpha(c) || c == '_'; }
    static bool isNameChar(std::uint8_t c) {
        return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
    }
    static std::uint8_t lower(std::uint8_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

    bool startsWith(std::size_t i, std::string_view lit) const { return s_.substr(i).starts_with(lit); }
    bool startsWithNoCase(std::size_t i, std::string_view lit) const {
        if (n_ - i < lit.size()) return false;
        for (std::size_t k = 0; k < lit.size(); ++k)
            if (lower(at(i + k)) != lower(static_cast<std::uint8_t>(lit[k]))) return false;
        return true;
    }

    // In UTF-8 mode TinyXML also skips U+FEFF, U+FFFE and U+FFFF where it skips white space.
    std::size_t skipWhiteSpace(std::size_t i) const {
        while (i < n_) {
            if (at(i) == 0xEF && at(i + 1) == 0xBB && at(i + 2) == 0xBF) {
                i += 3;
            } else if (at(i) == 0xEF && at(i + 1) == 0xBF && (at(i + 2) == 0xBE || at(i + 2) == 0xBF)) {
                i += 3;
            } else if (isWhiteSpace(at(i))) {
                ++i;
            } else {
                break;
            }
        }
        return i;
    }

    std::size_t skipName(std::size_t i) const {
        while (i < n_ && isNameChar(at(i))) ++i;
        return i;
    }

    // The node that starts with '<' at i; returns the position after it.
    std::size_t node(std::size_t i) {
        if (startsWithNoCase(i, "<?xml")) return declaration(i + 5);
        if (startsWith(i, "<!--")) return pastTerminator(i + 4, "-->");
        if (startsWith(i, "<![CDATA[")) return pastTerminator(i + 9, "]]>");
        if (!startsWith(i, "<!") && isNameStart(at(i + 1))) return element(i);
        return pastTerminator(i + 1, ">");  // anything else is kept as an unknown node
    }

    std::size_t pastTerminator(std::size_t from, std::string_view terminator) {
        const std::size_t found = s_.find(terminator, from);
        if (found == std::string_view::npos) return n_;
        return found + terminator.size();
    }

    std::size_t element(std::size_t open) {
        if (depth_ >= max_) return cutBefore(open);  // this element would nest too deep
        std::size_t i = skipWhiteSpace(open + 1);
        if (!isNameStart(at(i))) return stop(i);
        i = skipName(i);
        for (int attributes = 0;; ++attributes) {
            i = skipWhiteSpace(i);
            if (i >= n_) return stop(n_);
            if (at(i) == '/') {
                if (at(i + 1) != '>') return stop(i + 1);
                return i + 2;
            }
            if (at(i) == '>') {
                ++depth_;
                return i + 1;
            }
            // TinyXML looks for duplicates among an element's attributes one by one, so their
            // number would make its time grow with the square of the text.
            if (attributes >= kMaxAttributes) return stop(i);
            i = attribute(i);
            if (i == kStop) return kStop;
        }
    }

    std::size_t attribute(std::size_t i) {
        if (!isNameStart(at(i))) return stop(i);
        i = skipName(i);
        if (i >= n_) return stop(n_);
        i = skipWhiteSpace(i);
        if (at(i) != '=') return stop(i);
        i = skipWhiteSpace(i + 1);
        if (i >= n_) return stop(n_);
        const std::uint8_t quote = at(i);
        if (quote == '"' || quote == '\'') {
            const std::size_t close = textUntil(i + 1, static_cast<char>(quote));
            if (close == kStop) return kStop;
            if (close + 1 >= n_) return stop(n_);
            return close + 1;
        }
        while (i < n_ && !isWhiteSpace(at(i)) && at(i) != '/' && at(i) != '>') {
            if (at(i) == '"' || at(i) == '\'') return stop(i);
            ++i;
        }
        if (i >= n_) return stop(n_);
        return i;
    }

    // A text as TinyXML reads it, character by character with entities decoded, up to the
    // delimiter; returns the delimiter's position (n at the end of the text).
    std::size_t textUntil(std::size_t i, char delimiter) {
        const char stops[] = {delimiter, '&'};
        for (;;) {
            i = s_.find_first_of(std::string_view(stops, sizeof stops), i);
            if (i == std::string_view::npos) return n_;
            if (s_[i] == delimiter) return i;
            i = pastEntity(i);
            if (i == kStop) return kStop;
        }
    }

    // TinyXML reads a numeric character reference from "&#" to the first ';' after it, and
    // checks only the digits between that ';' and the nearest '#' (or 'x') in front of it: so a
    // reference can take in any markup between them. A reference that fails ends the parse.
    std::size_t pastEntity(std::size_t amp) {
        if (at(amp + 1) != '#' || amp + 2 >= n_) return amp + 1;  // named or a plain '&'
        const bool hex = at(amp + 2) == 'x';
        if (hex && amp + 3 >= n_) return stop(amp);
        const std::size_t semicolon = s_.find(';', amp + (hex ? 3 : 2));
        if (semicolon == std::string_view::npos) return stop(amp);
        const char mark = hex ? 'x' : '#';
        for (std::size_t q = semicolon - 1; s_[q] != mark; --q) {
            const std::uint8_t c = at(q);
            const bool digit = c >= '0' && c <= '9';
            const bool hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!digit && !(hex && hexLetter)) return stop(amp);
        }
        return semicolon + 1;
    }

    std::size_t cutBefore(std::size_t pos) {
        stopAt_ = pos;
        return kStop;
    }

    std::size_t endTag(std::size_t i) {
        i += 2;
        if (!isNameStart(at(i))) return stop(i);
        i = skipWhiteSpace(skipName(i));
        if (at(i) != '>') return stop(i);
        return i + 1;
    }

    // <?xml ... > : TinyXML reads version, encoding and standalone as attributes and passes
    // over anything else up to the next white space or '>'.
    std::size_t declaration(std::size_t i) {
        while (i < n_) {
            if (at(i) == '>') return i + 1;
            i = skipWhiteSpace(i);
            if (i >= n_) break;
            if (startsWithNoCase(i, "version") || startsWithNoCase(i, "encoding") ||
                startsWithNoCase(i, "standalone")) {
                i = attribute(i);
                if (i == kStop) return kStop;
            } else {
                while (i < n_ && at(i) != '>' && !isWhiteSpace(at(i))) ++i;
            }
        }
        return stop(n_);
    }

    static constexpr int kMaxAttributes = 64;

    std::string_view s_;
    std::size_t n_;
    int max_;
    int depth_ = 0;
    std::size_t stopAt_ = 0;
};

}  // namespace

std::string toValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t invalid = 0;
        const std::size_t length = utf8SequenceAt(text, i, invalid);
        if (length == 0) {
            out += kReplacement;
            i += invalid;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::size_t nestingBoundedLength(std::string_view text, int maxNesting) {
    return NestingScanner(text, maxNesting).run();
}

void parseUntrustedXml(TiXmlDocument& document, std::string_view text) {
    const std::string_view beforeNul = text.substr(0, text.find('\0'));
    std::string prepared = toValidUtf8(beforeNul);
    prepared.resize(nestingBoundedLength(prepared, kMaxXmlNesting));
    // Row and column tracking is of no use here, and it has been TinyXML's most fragile code.
    document.SetTabSize(0);
    document.Parse(prepared.c_str(), nullptr, TIXML_ENCODING_UTF8);
}

}  // namespace tunewick
