#include "support/WebTestSupport.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace tunewick::test {
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

// Runs the io context until `done` or the time is up; then cancels what is left and lets
// its handler run, so that nothing refers to a finished frame.
void runUntil(net::io_context& ioc, const bool& done, std::chrono::milliseconds limit,
              const std::function<void()>& cancel) {
    ioc.restart();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done && ioc.run_one_until(deadline) > 0) {
    }
    if (!done) {
        cancel();
        ioc.restart();
        ioc.run();
    }
}

tcp::endpoint loopback(std::uint16_t port) {
    return {net::ip::address_v4::loopback(), port};
}

}  // namespace

ProgramDir::ProgramDir() {
    std::string pattern = (fs::temp_directory_path() / "web_control_test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    program_ = root_ / "prog";
    writeFile(program_ / "web/player/index.html", "<!doctype html><title>player</title>");
    writeFile(program_ / "web/player/player.js", "export const player = 1;");
    writeFile(program_ / "web/player/external.mjs", "export const external = 1;");
    writeFile(program_ / "web/player/player.css", "body { background: black; }");
    writeFile(program_ / "web/player/logo.png", std::string("\x89PNG\r\n\x1a\n", 8));
    writeFile(program_ / "web/player/icon.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
    writeFile(program_ / "web/player/settings.json", "{}");
    writeFile(program_ / "web/player/blob.bin", "??");
    writeFile(program_ / "data/Loader.html", "<!doctype html><title>loader</title>");
    writeFile(program_ / "data/Menu.swf", "FWS\x0b");
    writeFile(program_ / "web/ruffle/core.ruffle.wasm", std::string("\0asm", 4));
    writeFile(program_ / "data/sound/beep.wav", "RIFF....WAVE");
    writeFile(program_ / "data/Page One.html", "page one");
    writeFile(program_ / "data/.hidden.html", "hidden");
    writeFile(program_ / "secret.txt", secret);
    writeFile(root_ / "secret.txt", secret);
    fs::create_symlink("../../secret.txt", program_ / "data/escape.txt");
    fs::create_directory_symlink("..", program_ / "data/up");
    fs::create_symlink("Loader.html", program_ / "data/alias.html");
}

ProgramDir::~ProgramDir() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

HttpReply rawHttp(std::uint16_t port, const std::string& rawRequestHead, bool head, const std::string& body) {
    net::io_context ioc;
    beast::tcp_stream stream(ioc);
    HttpReply reply;
    beast::error_code ec;
    stream.socket().connect(loopback(port), ec);
    if (ec) return reply;
    net::write(stream.socket(), net::buffer(rawRequestHead + "\r\n\r\n" + body), ec);
    if (ec) return reply;

    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.skip(head);
    bool done = false;
    http::async_read(stream, buffer, parser, [&](const beast::error_code& readError, std::size_t) {
        ec = readError;
        done = true;
    });
    runUntil(ioc, done, 5s, [&] { stream.socket().close(); });
    if (ec) return reply;
    const auto& response = parser.get();
    reply.status = response.result_int();
    for (const auto& field : response) {
        std::string name(field.name_string());
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        reply.headers[name] = std::string(field.value());
    }
    reply.body = response.body();
    return reply;
}

HttpReply httpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                      const std::string& host) {
    std::string head = method + " " + target + " HTTP/1.1\r\nConnection: close";
    if (!host.empty()) head += "\r\nHost: " + host;
    return rawHttp(port, head, method == "HEAD");
}

HttpReply httpPost(std::uint16_t port, const std::string& target, const std::string& origin, const std::string& host,
                   const std::string& body, const std::string& method) {
    std::string head = method + " " + target + " HTTP/1.1\r\nConnection: close";
    if (!host.empty()) head += "\r\nHost: " + host;
    if (!origin.empty()) head += "\r\nOrigin: " + origin;
    head += "\r\nContent-Type: application/xml\r\nContent-Length: " + std::to_string(body.size());
    return rawHttp(port, head, false, body);
}

HttpReply httpGet(std::uint16_t port, const std::string& target) {
    return httpRequest(port, "GET", target, "127.0.0.1:" + std::to_string(port));
}

TestPlayer::TestPlayer() : ws_(ioc_) {}

TestPlayer::~TestPlayer() {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
}

int TestPlayer::connect(std::uint16_t port, const std::string& target, const std::optional<std::string>& origin,
                        const std::string& host) {
    beast::error_code ec;
    beast::get_lowest_layer(ws_).socket().connect(loopback(port), ec);
    if (ec) return 0;
    ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type& request) {
        if (origin) request.set(http::field::origin, *origin);
    }));
    websocket::response_type response;
    bool done = false;
    ws_.async_handshake(response, host, target, [&](const beast::error_code& handshakeError) {
        ec = handshakeError;
        done = true;
    });
    runUntil(ioc_, done, 5s, [&] { beast::get_lowest_layer(ws_).socket().close(); });
    if (!ec) return 101;
    return response.result_int() == 101 ? 0 : response.result_int();
}

int TestPlayer::connect(std::uint16_t port, const std::string& token) {
    const std::string own = "127.0.0.1:" + std::to_string(port);
    return connect(port, "/bridge?token=" + token, "http://" + own, own);
}

void TestPlayer::send(const nlohmann::json& message) {
    sendText(message.dump());
}

void TestPlayer::sendText(const std::string& text) {
    ws_.text(true);
    beast::error_code ec;
    bool done = false;
    ws_.async_write(net::buffer(text), [&](const beast::error_code& writeError, std::size_t) {
        ec = writeError;
        done = true;
    });
    runUntil(ioc_, done, 5s, [&] { beast::get_lowest_layer(ws_).socket().close(); });
}

bool TestPlayer::readWithin(std::chrono::milliseconds limit, beast::error_code& ec) {
    bool done = false;
    ws_.async_read(buffer_, [&](const beast::error_code& readError, std::size_t) {
        ec = readError;
        done = true;
    });
    bool timedOut = false;
    runUntil(ioc_, done, limit, [&] {
        timedOut = true;
        beast::get_lowest_layer(ws_).socket().close();
    });
    return !timedOut;
}

std::optional<nlohmann::json> TestPlayer::receive(std::chrono::milliseconds limit) {
    beast::error_code ec;
    if (!readWithin(limit, ec) || ec) return std::nullopt;
    const std::string text = beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    return nlohmann::json::parse(text);
}

int TestPlayer::waitClosed(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return -2;
        beast::error_code ec;
        if (!readWithin(left, ec)) return -2;
        buffer_.consume(buffer_.size());
        if (ec == websocket::error::closed) return ws_.reason().code;
        if (ec) return -1;
    }
}

void TestPlayer::close() {
    bool done = false;
    ws_.async_close(websocket::close_code::normal, [&](const beast::error_code&) { done = true; });
    runUntil(ioc_, done, 5s, [&] { beast::get_lowest_layer(ws_).socket().close(); });
}

}  // namespace tunewick::test
