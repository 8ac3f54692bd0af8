#pragma once
// One HTTP connection to the host: serves the player's and the movies' files (GET and HEAD
// only), hands a vetted WebSocket upgrade of "/bridge" over to the web control, and takes a
// SWF movie's synchronous calls ("POST /call?token=TOKEN", the invoke XML as the body; the
// reply value XML is the answer). Every request must name the host itself in its Host
// header; the upgrade and the calls must also carry the run's token and come from the host's
// own origin. Runs on the web control's io thread.
#include "app/web/StaticFiles.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace tunewick {

class HttpSession;

struct HttpContext {
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    std::uint16_t port = 0;
    std::string token;
    const StaticFiles* files = nullptr;
    // Takes over the connection of an accepted upgrade request.
    std::function<void(boost::asio::ip::tcp::socket, Request)> upgrade;
    // The largest body of a movie call; a larger one is refused with 413.
    std::uint64_t maxCallBytes = 256 * 1024;
    // Takes a vetted movie call; false when the body is no invoke request (answered 400).
    // An accepted call is answered later with HttpSession::answerCall.
    std::function<bool(const std::shared_ptr<HttpSession>&, std::string request)> movieCall;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    // `context` must outlive the session's io activity.
    HttpSession(boost::asio::ip::tcp::socket socket, const HttpContext& context);

    void start();
    // Ends the connection at once (host shutting down).
    void close();
    // The reply value of the movie call this connection is waiting for; ignored when it
    // waits for none.
    void answerCall(const std::string& value);

private:
    void readNext();
    void onHeader(const boost::beast::error_code& ec);
    void onRead(const boost::beast::error_code& ec);
    bool readFailed(const boost::beast::error_code& ec);
    void respond(HttpContext::Request request);
    void takeCall(HttpContext::Request request);
    template <class Response>
    void write(Response response);
    void closeAfterDraining();
    void drainNext();
    // keepAlive: whether the connection stays open after the refusal.
    void refuse(const boost::beast::http::request_header<>& request, boost::beast::http::status status,
                bool keepAlive);

    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    const HttpContext& context_;
    // The movie call being served: the request's HTTP version and whether it keeps alive.
    std::optional<std::pair<unsigned, bool>> waitingCall_;
    std::array<char, 4096> drain_{};
};

}  // namespace tunewick
