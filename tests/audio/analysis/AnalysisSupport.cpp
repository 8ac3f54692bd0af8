#include "AnalysisSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tunewick::testing {

std::vector<std::string> RecordingPoster::texts() const {
    std::vector<std::string> out;
    for (const auto& call : calls()) out.push_back(call.name + " " + call.argumentsToXml());
    return out;
}

ScopedWorkDir::ScopedWorkDir() : previous_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tunewick-analysis-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
    std::filesystem::current_path(path_);
}

ScopedWorkDir::~ScopedWorkDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readText(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<double> parseValues(const std::string& line) {
    std::vector<double> values;
    const char* p = line.c_str();
    while (*p != '\0') {
        char* end = nullptr;
        const double v = std::strtod(p, &end);
        if (end == p) break;
        values.push_back(v);
        p = end;
    }
    return values;
}

}  // namespace tunewick::testing
