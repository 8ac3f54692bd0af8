#pragma once
// One HTTP connection to the host: serves the player's and the movies' files (GET and HEAD
// only) and hands a vetted WebSocket upgrade of "/bridge" over to the web control. Every
// request must name the host itself in its Host header; the upgrade must also carry the
// run's token and come from the host's own origin. Runs on the web control's io thread.
#include "app/web/StaticFiles.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tunewick {

struct HttpContext {
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    std::uint16_t port = 0;
    std::string token;
    const StaticFiles* files = nullptr;
    // Takes over the connection of an accepted upgrade request.
    std::function<void(boost::asio::ip::tcp::socket, Request)> upgrade;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    // `context` must outlive the session's io activity.
    HttpSession(boost::asio::ip::tcp::socket socket, const HttpContext& context);

    void start();
    // Ends the connection at once (host shutting down).
    void close();

private:
    void readNext();
    void onRead(const boost::beast::error_code& ec);
    void respond(HttpContext::Request request);
    template <class Response>
    void write(Response response);
    void refuse(const HttpContext::Request& request, boost::beast::http::status status, bool keepAlive);

    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    const HttpContext& context_;
};

}  // namespace tunewick
