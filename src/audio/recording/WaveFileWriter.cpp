#include "audio/recording/WaveFileWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "audio/Status.h"

namespace tunewick {
namespace {

// The size of our I/O buffer: sample bytes reach the file in writes of this size.
constexpr std::size_t kBufferBytes = 16 * 1024;
constexpr std::uint32_t kHeaderBytes = 56;
constexpr long kRiffSizeAt = 4;
constexpr long kFactCountAt = 44;
constexpr long kDataSizeAt = 52;

void put16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
}

bool writeAt(std::FILE* file, long offset, std::uint32_t value) {
    std::array<std::uint8_t, 4> bytes{};
    put32(bytes.data(), value);
    return std::fseek(file, offset, SEEK_SET) == 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

WaveFileWriter::WaveFileWriter(std::string path) : path_(std::move(path)) {}

WaveFileWriter::~WaveFileWriter() {
    close();
    // A file that could not be finished is released all the same (file_'s deleter).
}

std::int32_t WaveFileWriter::open(const WaveFormat& format) {
    if (file_) return status::kFail;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "wb"));
    if (!file) return status::kFail;
    // We buffer ourselves; the stream's own buffer would only hide write errors until later.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);

    buffer_.assign(kBufferBytes, 0);
    std::uint8_t* h = buffer_.data();
    std::memcpy(h + 0, "RIFF", 4);
    put32(h + 4, 0);  // written at close
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    put32(h + 16, 16);
    put16(h + 20, format.formatTag);
    put16(h + 22, format.channels);
    put32(h + 24, format.samplesPerSec);
    put32(h + 28, format.avgBytesPerSec);
    put16(h + 32, format.blockAlign);
    put16(h + 34, format.bitsPerSample);
    std::memcpy(h + 36, "fact", 4);
    put32(h + 40, 4);
    put32(h + 44, 0xFFFFFFFFu);  // "being written"; 0 once closed
    std::memcpy(h + 48, "data", 4);
    put32(h + 52, 0);  // written at close
    buffered_ = kHeaderBytes;
    flushed_ = 0;
    dataBytes_ = 0;
    file_ = std::move(file);
    return status::kOk;
}

bool WaveFileWriter::flushBuffer() {
    if (buffered_ == 0) return true;
    // At an absolute place: a failed close may have left the file position elsewhere.
    if (std::fseek(file_.get(), static_cast<long>(flushed_), SEEK_SET) != 0) return false;
    const std::size_t put = std::fwrite(buffer_.data(), 1, buffered_, file_.get());
    flushed_ += put;
    if (put == buffered_) {
        buffered_ = 0;
        return true;
    }
    // Keep what did not reach the file, so that a later attempt writes it in order.
    std::memmove(buffer_.data(), buffer_.data() + put, buffered_ - put);
    buffered_ -= put;
    return false;
}

std::int32_t WaveFileWriter::write(std::uint32_t length, const std::uint8_t* data,
                                   std::uint32_t* written) {
    if (!file_) return status::kNotInitialized;
    if (written == nullptr || data == nullptr) return status::kInvalidArg;
    *written = 0;
    // The RIFF size (header after its first 8 bytes, data, pad byte) must fit in 32 bits.
    constexpr std::uint64_t kMaxData = std::numeric_limits<std::uint32_t>::max() - kHeaderBytes;
    while (*written < length) {
        if (dataBytes_ >= kMaxData) return status::kFail;
        if (buffered_ == buffer_.size() && !flushBuffer()) return status::kFail;
        const std::size_t room = buffer_.size() - buffered_;
        const std::size_t step = std::min<std::uint64_t>(
            {room, std::uint64_t{length} - *written, kMaxData - dataBytes_});
        std::memcpy(buffer_.data() + buffered_, data + *written, step);
        buffered_ += step;
        *written += static_cast<std::uint32_t>(step);
        dataBytes_ += static_cast<std::uint32_t>(step);
    }
    return status::kOk;
}

std::int32_t WaveFileWriter::close() {
    if (!file_) return status::kNotInitialized;
    if (!flushBuffer()) return status::kFail;
    std::FILE* f = file_.get();
    const bool odd = (dataBytes_ % 2) != 0;
    if (odd) {
        const std::uint8_t pad = 0;
        if (std::fseek(f, static_cast<long>(flushed_), SEEK_SET) != 0 ||
            std::fwrite(&pad, 1, 1, f) != 1) {
            return status::kFail;
        }
    }
    const std::uint32_t riffSize = kHeaderBytes - 8 + dataBytes_ + (odd ? 1 : 0);
    if (!writeAt(f, kDataSizeAt, dataBytes_) || !writeAt(f, kRiffSizeAt, riffSize) ||
        !writeAt(f, kFactCountAt, 0)) {
        return status::kFail;
    }
    std::FILE* raw = file_.release();
    if (std::fclose(raw) != 0) return status::kFail;  // the handle is gone either way
    buffer_.clear();
    buffer_.shrink_to_fit();
    return status::kOk;
}

}  // namespace tunewick
