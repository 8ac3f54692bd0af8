#pragma once
// The song files of the player's songs folder, and the command "listSongs" that answers them
// to the Songs page. The folder is read afresh on every call (the player may drop files into
// it while Tunewick runs); the command runs on the dialog's thread, listSongFiles on any.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bridge/FunctionCommand.h"

namespace tunewick {

struct SongFile {
    std::string name;    // path relative to the folder, with "/" between folders
    std::string url;     // where the host serves it: "/songs/<each segment percent-encoded>"
    std::uintmax_t size = 0;
};

// The files of `folder` and its subfolders (up to kMaxSongDepth deep) whose extension is one
// the Songs page opens (Guitar Pro, MusicXML, alphaTex .atex/.alphatex/.tex), sorted by name. Hidden files and
// folders, and links that lead out of the folder, are left out, since the host would refuse
// to serve them. At most kMaxSongs files. A missing or unreadable folder gives none.
inline constexpr int kMaxSongDepth = 4;
inline constexpr std::size_t kMaxSongs = 2000;
std::vector<SongFile> listSongFiles(const std::filesystem::path& folder);

// True for the extensions the Songs page opens (case-insensitive).
bool isSongFile(const std::filesystem::path& file);

// "listSongs": {folder: the folder's path, songs: [{name, url, size}]}.
class ListSongsCommand final : public FunctionCommand {
public:
    explicit ListSongsCommand(std::filesystem::path folder);
    Param execute(const std::vector<Param>& arguments) override;

private:
    std::filesystem::path folder_;
};

}  // namespace tunewick
