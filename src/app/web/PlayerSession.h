#pragma once
// One player's WebSocket connection: a FIFO of outgoing text messages written one at a time,
// and a read loop that hands each incoming text message to its owner. Everything here runs
// on the web control's io thread; the owner learns of the end through `closed`, exactly once.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace tunewick {

class PlayerSession : public std::enable_shared_from_this<PlayerSession> {
public:
    struct Limits {
        std::size_t maxMessageBytes;      // a larger incoming message ends the connection
        std::size_t maxQueuedMessages;    // a page that stops reading is dropped, not buffered for ever
        std::chrono::milliseconds handshakeTimeout;
        std::chrono::milliseconds idleTimeout;  // pings keep a quiet but live page connected
    };
    struct Handlers {
        std::function<void(const std::shared_ptr<PlayerSession>&)> opened;
        std::function<void(const std::shared_ptr<PlayerSession>&, std::string text)> message;
        std::function<void(PlayerSession&)> closed;  // only after opened
    };

    PlayerSession(boost::asio::ip::tcp::socket socket, Limits limits, Handlers handlers);

    // Completes the WebSocket handshake for an upgrade request the caller has vetted.
    void accept(boost::beast::http::request<boost::beast::http::string_body> request);

    // Queues a text message. `sent` runs once when it has been written or can no longer be
    // (connection gone or closing); it does not run if the io context is torn down first.
    void send(std::string text, std::function<void()> sent = {});

    // Starts the closing handshake; messages not yet written are dropped.
    void close(std::uint16_t code, const std::string& reason);

    // Drops the connection at once, without a closing handshake.
    void abort();

    // Distinguishes connections; never 0.
    std::uint64_t serial() const { return serial_; }

private:
    struct Outgoing {
        std::string text;
        std::function<void()> sent;
    };

    void onAccept(const boost::beast::error_code& ec);
    void readNext();
    void onRead(const boost::beast::error_code& ec);
    void writeNext();
    void onWrite(const boost::beast::error_code& ec);
    void dropQueued();

    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    boost::beast::flat_buffer readBuffer_;
    std::deque<Outgoing> queue_;  // the front is being written while writing_
    Limits limits_;
    Handlers handlers_;
    std::uint64_t serial_;
    bool open_ = false;
    bool closing_ = false;
    bool writing_ = false;
};

}  // namespace tunewick
