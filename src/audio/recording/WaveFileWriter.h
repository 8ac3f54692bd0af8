#pragma once
// Writes one recording as a RIFF WAVE file: the header with the sample format and a "fact"
// count of 0xFFFFFFFF while writing, the sample bytes as they come (through a buffer of our
// own, written out when full), and at close the sizes, a pad byte after odd data and the
// "fact" count 0. Layout of a closed file (little-endian):
//   0 "RIFF", 4 file size - 8, 8 "WAVE", 12 "fmt ", 16 16, 20 the 16 format bytes,
//   36 "fact", 40 4, 44 0, 48 "data", 52 n, 56 the n sample bytes, [56 + n: 0 if n is odd].
// Every failure is a status (never an exception or a crash); the writer shows nothing.
// One writer is one recording: once closed it is not opened again.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/WaveFormat.h"

namespace tunewick {

class WaveFileWriter {
public:
    // Relative to the current directory.
    static constexpr const char* kDefaultPath = "data/sound/recording.wav";

    explicit WaveFileWriter(std::string path = kDefaultPath);
    // Closes once more: a no-op on a closed writer; an open file is finished if it can be,
    // and its handle is released either way.
    ~WaveFileWriter();
    WaveFileWriter(const WaveFileWriter&) = delete;
    WaveFileWriter& operator=(const WaveFileWriter&) = delete;

    // Creates (or truncates) the file and writes the header. S_OK, or E_FAIL when the file
    // cannot be created (e.g. its folder is missing) or the writer is already open.
    std::int32_t open(const WaveFormat& format);
    // Appends `length` bytes; *written tells how many were stored, also after a failure.
    // CO_E_NOTINITIALIZED when not open; E_INVALIDARG for a null `data` or `written` (before
    // *written is touched); E_FAIL when the file cannot take the bytes (disk full) or the data
    // would outgrow the 32-bit sizes of the format.
    std::int32_t write(std::uint32_t length, const std::uint8_t* data, std::uint32_t* written);
    // Writes the buffered bytes, the pad byte and the sizes, and closes the file. S_OK;
    // CO_E_NOTINITIALIZED on a writer that is not open (the file is left alone); E_FAIL when
    // the file cannot be finished (it then stays open, so the close may be tried again).
    std::int32_t close();

    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    std::uint32_t dataBytes() const { return dataBytes_; }  // sample bytes taken so far

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    bool flushBuffer();

    std::string path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::vector<std::uint8_t> buffer_;  // the header, then sample bytes not yet in the file
    std::size_t buffered_ = 0;
    std::uint64_t flushed_ = 0;  // bytes already in the file, header included
    std::uint32_t dataBytes_ = 0;
};

}  // namespace tunewick
