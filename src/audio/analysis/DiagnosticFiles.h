#pragma once
// The four text files in which the recognizer and the tuner record every block they analyse:
// "data.txt" (samples), "fft.txt" (spectra), "log.txt" (region lengths) and "statistic.txt"
// (indicators and results), in the process's current directory.
//
// A file that cannot be created is simply absent: writes to it are dropped, so the engine
// goes on analysing. open() says which ones failed so that the engine can tell the user.
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tunewick {

class DiagnosticFiles {
public:
    enum Stream { Data = 0, Fft = 1, Log = 2, Statistic = 3 };

    // `folder` is prefixed to the bare names ("" = the current directory, as the engines use).
    explicit DiagnosticFiles(std::string folder = "");
    ~DiagnosticFiles();  // closes what is open
    DiagnosticFiles(const DiagnosticFiles&) = delete;
    DiagnosticFiles& operator=(const DiagnosticFiles&) = delete;

    // Closes any open streams, then creates (or empties) the four files with mode "w" in the
    // order data, fft, log, statistic. Returns one "name: reason" entry per file that could
    // not be created; empty when all four are open.
    std::vector<std::string> open();
    // Closes the streams in the order data, fft, log, statistic; nothing for a closed one.
    void close();

    bool isOpen(Stream stream) const;
    // printf-style write with the C library's formatting; dropped when the stream is absent.
    void print(Stream stream, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // One line: every value with "%f " (six decimals and a space), then "\n".
    void writeValues(Stream stream, std::span<const double> values);

    // The file name of a stream: "data.txt", "fft.txt", "log.txt" or "statistic.txt".
    static const char* fileName(Stream stream);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::string folder_;
    std::unique_ptr<std::FILE, Closer> streams_[4];
};

// The one line an engine writes to stderr when some diagnostic files could not be created.
std::string describeDiagnosticFailures(const std::vector<std::string>& failures);

}  // namespace tunewick
