#include "commands/SongList.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <system_error>

#include "bridge/FlashObject.h"
#include "bridge/UrlEncoding.h"

namespace tunewick {
namespace fs = std::filesystem;

namespace {

bool isWithin(const fs::path& inner, const fs::path& root) {
    auto i = inner.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++i) {
        if (r->empty()) continue;
        if (i == inner.end() || *i != *r) return false;
    }
    return true;
}

Param number(double value) {
    Param out;
    out.setNumber(value);
    return out;
}

}  // namespace

bool isSongFile(const fs::path& file) {
    static const std::array<const char*, 11> known{".gp3", ".gp4", ".gp5", ".gpx", ".gp", ".xml", ".atex",
                                                   ".musicxml", ".mxl", ".alphatex", ".tex"};
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(known.begin(), known.end(), ext) != known.end();
}

std::vector<SongFile> listSongFiles(const fs::path& folder) {
    std::vector<SongFile> songs;
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(root, ec)) return songs;

    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string leaf = path.filename().string();
        if (leaf.empty() || leaf.front() == '.') {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_directory(ec)) {
            if (it.depth() + 1 >= kMaxSongDepth) it.disable_recursion_pending();
            continue;
        }
        if (!isSongFile(path)) continue;
        std::error_code fileError;
        const fs::path real = fs::canonical(path, fileError);
        if (fileError || !isWithin(real, root) || !fs::is_regular_file(real, fileError)) continue;

        SongFile song;
        std::string url = "/songs";
        for (const auto& part : path.lexically_relative(root)) {
            if (!song.name.empty()) song.name += '/';
            song.name += part.string();
            url += '/' + percentEncodeSegment(part.string());
        }
        song.url = std::move(url);
        song.size = fs::file_size(real, fileError);
        songs.push_back(std::move(song));
        if (songs.size() >= kMaxSongs) break;
    }
    std::sort(songs.begin(), songs.end(), [](const SongFile& a, const SongFile& b) { return a.name < b.name; });
    return songs;
}

ListSongsCommand::ListSongsCommand(fs::path folder) : FunctionCommand("listSongs"), folder_(std::move(folder)) {}

Param ListSongsCommand::execute(const std::vector<Param>&) {
    auto list = std::make_unique<FlashObject>();
    const std::vector<SongFile> songs = listSongFiles(folder_);
    for (std::size_t i = 0; i < songs.size(); ++i) {
        auto item = std::make_unique<FlashObject>();
        item->setProperty("name", std::make_unique<Param>(Param(songs[i].name)));
        item->setProperty("url", std::make_unique<Param>(Param(songs[i].url)));
        item->setProperty("size", std::make_unique<Param>(number(static_cast<double>(songs[i].size))));
        auto value = std::make_unique<Param>();
        value->setObject(std::move(item));
        list->setProperty(std::to_string(i), std::move(value));
    }
    auto array = std::make_unique<Param>();
    array->setArray(std::move(list));
    auto reply = std::make_unique<FlashObject>();
    reply->setProperty("folder", std::make_unique<Param>(Param(folder_.string())));
    reply->setProperty("songs", std::move(array));
    Param out;
    out.setObject(std::move(reply));
    return out;
}

}  // namespace tunewick
