#pragma once
// tunewick-analyze's listening engines: chord naming per strum, and checking a file against the
// notes an expect file says are due. Run once on the tool's main thread; print to stdout and
// return the tool's exit status (0 done, 2 bad input, with a message on stderr).
#include <string>

namespace tunewick {

// One line per strum: "<seconds> <name> <midi,midi,...>".
int analyzeChords(const std::string& path);

// Expect lines "<due seconds>\t<midi,midi,...>", '#' comments. Prints per expected note
// "<due> <midi> heard <offset ms>" or "<due> <midi> missing -", then "<due> <midi> extra -"
// per unexpected note heard.
int checkExpected(const std::string& path, const std::string& expectPath);

}  // namespace tunewick
