#include "audio/analysis/DiagnosticFiles.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace tunewick {

namespace {
// Opening order; closing runs data, fft, log, statistic, which is the enum order as well.
constexpr DiagnosticFiles::Stream kOpenOrder[] = {DiagnosticFiles::Data, DiagnosticFiles::Fft,
                                                  DiagnosticFiles::Log, DiagnosticFiles::Statistic};
}  // namespace

DiagnosticFiles::DiagnosticFiles(std::string folder) : folder_(std::move(folder)) {}

DiagnosticFiles::~DiagnosticFiles() { close(); }

const char* DiagnosticFiles::fileName(Stream stream) {
    switch (stream) {
        case Data: return "data.txt";
        case Fft: return "fft.txt";
        case Log: return "log.txt";
        case Statistic: return "statistic.txt";
    }
    return "";
}

std::vector<std::string> DiagnosticFiles::open() {
    close();
    std::vector<std::string> failures;
    for (Stream stream : kOpenOrder) {
        const std::string path = folder_ + fileName(stream);
        errno = 0;
        std::FILE* file = std::fopen(path.c_str(), "w");
        if (file == nullptr) {
            const int error = errno;
            failures.push_back(std::string(fileName(stream)) + ": " +
                               (error != 0 ? std::strerror(error) : "cannot be created"));
        }
        streams_[stream].reset(file);
    }
    return failures;
}

void DiagnosticFiles::close() {
    streams_[Data].reset();
    streams_[Fft].reset();
    streams_[Log].reset();
    streams_[Statistic].reset();
}

bool DiagnosticFiles::isOpen(Stream stream) const { return streams_[stream] != nullptr; }

void DiagnosticFiles::print(Stream stream, const char* format, ...) {
    std::FILE* file = streams_[stream].get();
    if (file == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
}

void DiagnosticFiles::writeValues(Stream stream, std::span<const double> values) {
    std::FILE* file = streams_[stream].get();
    if (file == nullptr) return;
    for (double v : values) std::fprintf(file, "%f ", v);
    std::fputc('\n', file);
}

std::string describeDiagnosticFailures(const std::vector<std::string>& failures) {
    std::string line = "Tunewick: cannot create diagnostic file";
    if (failures.size() != 1) line += "s";
    for (std::size_t i = 0; i < failures.size(); ++i) {
        line += i == 0 ? " " : "; ";
        line += failures[i];
    }
    line += " (the analysis goes on without them)";
    return line;
}

}  // namespace tunewick
