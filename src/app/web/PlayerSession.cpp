#include "app/web/PlayerSession.h"

#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <atomic>
#include <utility>

namespace tunewick {
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {
std::atomic<std::uint64_t> nextSerial{1};
}

PlayerSession::PlayerSession(boost::asio::ip::tcp::socket socket, Limits limits, Handlers handlers)
    : ws_(std::move(socket)), limits_(limits), handlers_(std::move(handlers)), serial_(nextSerial++) {}

void PlayerSession::accept(beast::http::request<beast::http::string_body> request) {
    // The stream's own timeouts replace the TCP layer's from here on.
    beast::get_lowest_layer(ws_).expires_never();
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = limits_.handshakeTimeout;
    timeouts.idle_timeout = limits_.idleTimeout;
    timeouts.keep_alive_pings = true;
    ws_.set_option(timeouts);
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(beast::http::field::server, "tunewick"); }));
    ws_.read_message_max(limits_.maxMessageBytes);
    ws_.async_accept(request, beast::bind_front_handler(&PlayerSession::onAccept, shared_from_this()));
}

void PlayerSession::onAccept(const beast::error_code& ec) {
    if (ec) return;  // the handshake failed: this connection never became a player
    open_ = true;
    ws_.text(true);
    if (handlers_.opened) handlers_.opened(shared_from_this());
    readNext();
}

void PlayerSession::readNext() {
    ws_.async_read(readBuffer_, [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
        self->onRead(ec);
    });
}

void PlayerSession::onRead(const beast::error_code& ec) {
    if (ec) {
        // Closed by either side, too large a message, a protocol error or a dead peer:
        // this connection is over.
        const bool wasOpen = open_;
        open_ = false;
        closing_ = true;
        dropQueued();
        if (ec != websocket::error::closed) abort();
        if (wasOpen && handlers_.closed) handlers_.closed(*this);
        return;
    }
    if (ws_.got_text() && handlers_.message) {
        std::string text = beast::buffers_to_string(readBuffer_.data());
        readBuffer_.consume(readBuffer_.size());
        handlers_.message(shared_from_this(), std::move(text));
    } else {
        readBuffer_.consume(readBuffer_.size());
    }
    if (open_) readNext();
}

void PlayerSession::send(std::string text, std::function<void()> sent) {
    if (!open_ || closing_) {
        if (sent) sent();
        return;
    }
    if (queue_.size() >= limits_.maxQueuedMessages) {
        if (sent) sent();
        abort();
        return;
    }
    queue_.push_back(Outgoing{std::move(text), std::move(sent)});
    if (!writing_) writeNext();
}

void PlayerSession::writeNext() {
    if (queue_.empty() || closing_) return;
    writing_ = true;
    ws_.async_write(boost::asio::buffer(queue_.front().text),
                    [self = shared_from_this()](const beast::error_code& ec, std::size_t) { self->onWrite(ec); });
}

void PlayerSession::onWrite(const beast::error_code& ec) {
    writing_ = false;
    if (!queue_.empty()) {
        Outgoing done = std::move(queue_.front());
        queue_.pop_front();
        if (done.sent) done.sent();
    }
    if (ec) {
        closing_ = true;
        dropQueued();
        abort();
        return;
    }
    writeNext();
}

void PlayerSession::close(std::uint16_t code, const std::string& reason) {
    if (!open_ || closing_) return;
    closing_ = true;
    dropQueued();
    ws_.async_close(websocket::close_reason(static_cast<websocket::close_code>(code), reason),
                    [self = shared_from_this()](const beast::error_code&) {});
}

void PlayerSession::abort() {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).socket().close(ignored);
}

void PlayerSession::dropQueued() {
    // The message being written stays until its write completes; the rest will never go out.
    const std::size_t keep = writing_ ? 1 : 0;
    while (queue_.size() > keep) {
        Outgoing dropped = std::move(queue_.back());
        queue_.pop_back();
        if (dropped.sent) dropped.sent();
    }
}

}  // namespace tunewick
