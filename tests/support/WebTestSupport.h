#pragma once
// Loopback clients and a throw-away program folder for testing the web control.
#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tunewick::test {

using namespace std::chrono_literals;

// A program folder with web/player/ and data/ holding small files, a secret beside and
// outside them, and symlinks that lead out; removed when the object goes.
class ProgramDir {
public:
    ProgramDir();
    ~ProgramDir();
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;

    const std::filesystem::path& path() const { return program_; }
    static constexpr const char* secret = "TOP-SECRET-CONTENT";

private:
    std::filesystem::path root_;     // holds the program folder and a secret outside it
    std::filesystem::path program_;
};

struct HttpReply {
    int status = 0;  // 0: no answer (connection dropped or time-out)
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    std::string header(const std::string& lowerCaseName) const {
        const auto it = headers.find(lowerCaseName);
        return it == headers.end() ? std::string() : it->second;
    }
};

// Sends `rawRequestHead` (request line and headers, without the final empty line) as bytes,
// exactly as given, then `body`, and reads the answer.
HttpReply rawHttp(std::uint16_t port, const std::string& rawRequestHead, bool head = false,
                  const std::string& body = "");

// A well-formed request with the given Host header (none when empty).
HttpReply httpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                      const std::string& host);
HttpReply httpGet(std::uint16_t port, const std::string& target);

// A SWF movie's call: POST `body` to `target` with the given Origin and Host (each left out
// when empty).
HttpReply httpPost(std::uint16_t port, const std::string& target, const std::string& origin, const std::string& host,
                   const std::string& body, const std::string& method = "POST");

// A page's end of the bridge, driven from the test's thread.
class TestPlayer {
public:
    TestPlayer();
    ~TestPlayer();

    // Opens the bridge; returns the HTTP status the host answered with (101 when accepted,
    // 0 when there was no HTTP answer).
    int connect(std::uint16_t port, const std::string& target, const std::optional<std::string>& origin,
                const std::string& host);
    // The way the player does it: own Host, own Origin, the token.
    int connect(std::uint16_t port, const std::string& token);

    void send(const nlohmann::json& message);
    void sendText(const std::string& text);
    // The next message, or nothing if the connection ends or none comes within `limit`.
    std::optional<nlohmann::json> receive(std::chrono::milliseconds limit = 5s);
    // Reads until the host closes the connection; the close code, or -1 when the
    // connection broke without one, or -2 when it is still open after `limit`.
    int waitClosed(std::chrono::milliseconds limit = 5s);
    // Closes from this side (as a window closing).
    void close();

    bool isOpen() const { return ws_.is_open(); }

private:
    // Reads one frame into buffer_; false when none came within `limit` (the socket is then
    // closed), else true with the read's outcome in `ec`.
    bool readWithin(std::chrono::milliseconds limit, boost::beast::error_code& ec);

    boost::asio::io_context ioc_;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    boost::beast::flat_buffer buffer_;
};

}  // namespace tunewick::test
