#pragma once
// Whole-file replacement that a crash or a power cut cannot leave half done, and the moving
// aside of a file under a name that is still free. Free functions; safe on any thread as long
// as no two callers work on the same path at once.
#include <filesystem>
#include <optional>
#include <string>

namespace tunewick {

// Replaces `file` with `text`: a temporary file in the same folder is written, flushed to the
// disk and renamed over `file`, so readers see the old content or the new, never a part. The
// folder is made (and synced into its parent) when missing. A symbolic link is followed:
// the file it names is replaced and the link stays. The new file keeps the old one's
// permissions; a first one gets those of a plain create. On failure `file` is untouched, no
// temporary is left behind, and the reason is put in `error`.
bool writeFileAtomically(const std::filesystem::path& file, const std::string& text, std::string& error);

// Moves `file` to `<file><suffix>`, or, when that name is taken, to `<file><suffix>.1`,
// `.2`, ... : an existing file is never replaced. Answers the new path, or nothing when the
// file could not be moved (with the reason in `error`).
std::optional<std::filesystem::path> moveAsideKeepingOthers(const std::filesystem::path& file,
                                                           const std::string& suffix, std::string& error);

}  // namespace tunewick
