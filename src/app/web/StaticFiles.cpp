#include "app/web/StaticFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>
#include <utility>
#include <vector>

namespace tunewick {
namespace fs = std::filesystem;

namespace {

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// True when `inner` is `root` itself or lies below it, comparing whole components.
bool isWithin(const fs::path& inner, const fs::path& root) {
    auto i = inner.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++i) {
        if (r->empty()) continue;  // a trailing separator of root
        if (i == inner.end() || *i != *r) return false;
    }
    return true;
}

// A segment that could climb, name the folder itself, or reach a hidden file is refused.
bool suspiciousSegment(std::string_view segment) {
    return segment.empty() || segment.front() == '.';
}

}  // namespace

std::string contentTypeFor(const fs::path& file) {
    static const std::array<std::pair<const char*, const char*>, 35> types{{
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".map", "application/json"},
        {".txt", "text/plain; charset=utf-8"},
        {".xml", "application/xml"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".svg", "image/svg+xml"},
        {".webp", "image/webp"},
        {".ico", "image/x-icon"},
        {".wav", "audio/wav"},
        {".mp3", "audio/mpeg"},
        {".ogg", "audio/ogg"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".ttf", "font/ttf"},
        {".otf", "font/otf"},
        {".eot", "application/vnd.ms-fontobject"},
        // alphaTab's soundfonts and the song files it reads; it fetches them as bytes.
        {".sf2", "audio/x-soundfont"},
        {".sf3", "audio/x-soundfont"},
        {".musicxml", "application/vnd.recordare.musicxml+xml"},
        {".mxl", "application/vnd.recordare.musicxml"},
        {".gp", "application/octet-stream"},
        {".gpx", "application/octet-stream"},
        {".alphatex", "text/plain; charset=utf-8"},
        {".tex", "text/plain; charset=utf-8"},
        {".atex", "text/plain; charset=utf-8"},
        // Browsers compile WebAssembly as it streams in only when it comes with its own type.
        {".wasm", "application/wasm"},
        {".swf", "application/x-shockwave-flash"},
    }};
    const std::string ext = lowerAscii(file.extension().string());
    for (const auto& [known, type] : types) {
        if (ext == known) return type;
    }
    return "application/octet-stream";
}

std::optional<std::string> movieUrl(const fs::path& moviesDir, const std::string& moviePath) {
    const fs::path path = fs::path(moviePath).lexically_normal();
    const fs::path movies = moviesDir.lexically_normal();
    if (path.is_absolute() != movies.is_absolute()) return std::nullopt;
    const fs::path relative = path.lexically_relative(movies);
    if (relative.empty() || relative == ".") return std::nullopt;
    std::string url = "/movies";
    for (const auto& part : relative) {
        if (part == "..") return std::nullopt;
        if (part.empty()) continue;
        url += '/';
        url += percentEncodeSegment(part.string());
    }
    return url;
}

StaticFiles::StaticFiles(const fs::path& programDir, fs::path moviesDir, fs::path songsDir)
    : playerDir_(programDir / "web" / "player"),
      ruffleDir_(programDir / "web" / "ruffle"),
      chartsDir_(programDir / "web" / "charts"),
      alphaTabDir_(programDir / "web" / "alphatab"),
      moviesDir_(moviesDir.empty() ? programDir / "data" : std::move(moviesDir)),
      songsDir_(std::move(songsDir)) {}

std::variant<StaticFiles::Found, StaticFiles::Refused> StaticFiles::resolve(std::string_view target) const {
    const std::string_view rawPath = target.substr(0, target.find_first_of("?#"));
    if (rawPath.empty() || rawPath.front() != '/') return Refused{400};
    const std::optional<std::string> decoded = percentDecode(rawPath);
    if (!decoded) return Refused{400};
    // After the one decoding there must be nothing left to decode, and nothing that another
    // layer could read as a separator or a string end.
    for (const char ch : *decoded) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '\\' || c == '%') return Refused{400};
    }

    std::vector<std::string_view> segments;
    std::string_view rest = std::string_view(*decoded).substr(1);
    if (!rest.empty()) {
        for (;;) {
            const std::size_t slash = rest.find('/');
            segments.push_back(rest.substr(0, slash));
            if (slash == std::string_view::npos) break;
            rest.remove_prefix(slash + 1);
        }
    }
    for (const std::string_view segment : segments) {
        if (suspiciousSegment(segment)) return Refused{segment.empty() ? 404 : 400};
    }

    fs::path root;
    fs::path relative;
    bool songs = false;
    if (segments.empty()) {
        root = playerDir_;
        relative = "index.html";
    } else if (segments.size() >= 2) {
        const std::string_view top = segments[0];
        if (top == "player") {
            root = playerDir_;
        } else if (top == "ruffle") {
            root = ruffleDir_;
        } else if (top == "charts") {
            root = chartsDir_;
        } else if (top == "alphatab") {
            root = alphaTabDir_;
        } else if (top == "movies") {
            root = moviesDir_;
        } else if (top == "songs" && !songsDir_.empty()) {
            root = songsDir_;
            songs = true;
        } else {
            return Refused{404};
        }
        for (std::size_t i = 1; i < segments.size(); ++i) relative /= fs::path(std::string(segments[i]));
    } else {
        return Refused{404};
    }

    std::error_code ec;
    const fs::path realRoot = fs::canonical(root, ec);
    if (ec) return Refused{404, songs};
    const fs::path realFile = fs::canonical(root / relative, ec);
    if (ec || !isWithin(realFile, realRoot)) return Refused{404, songs};
    if (!fs::is_regular_file(realFile, ec) || ec) return Refused{404, songs};
    return Found{realFile, contentTypeFor(relative), songs};
}

}  // namespace tunewick
