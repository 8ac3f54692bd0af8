#include "app/web/HttpSession.h"

#include "app/web/RequestPolicy.h"
#include "app/web/Token.h"

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <algorithm>
#include <chrono>
#include <utility>
#include <variant>

namespace tunewick {
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Requests here are small GETs and movie calls; anything bigger is not one of ours.
constexpr std::uint32_t headerLimit = 16 * 1024;
// The body any request but a movie call may bring.
constexpr std::uint64_t bodyLimit = 4 * 1024;
constexpr std::string_view callPath = "/call";
constexpr std::chrono::seconds ioTimeout{30};
constexpr std::chrono::seconds drainTimeout{2};

template <class Body>
void commonHeaders(http::response<Body>& response) {
    response.set(http::field::server, "tunewick");
    // A reload must always see the files as they are now.
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
}

// Beast's string_view is Boost's in this version.
std::string_view view(beast::string_view text) {
    return {text.data(), text.size()};
}

}  // namespace

HttpSession::HttpSession(boost::asio::ip::tcp::socket socket, const HttpContext& context)
    : stream_(std::move(socket)), context_(context) {}

void HttpSession::start() {
    readNext();
}

void HttpSession::close() {
    beast::error_code ignored;
    stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
}

void HttpSession::readNext() {
    parser_.emplace();
    parser_->header_limit(headerLimit);
    // The parser holds a declared Content-Length against the limit while it reads the
    // header, before the path is known: it must admit the largest body any path takes, and
    // onHeader narrows it for the others.
    parser_->body_limit(std::max(bodyLimit, context_.maxCallBytes));
    stream_.expires_after(ioTimeout);
    // The header first: a movie call may bring a larger body, and only once it has passed
    // the checks.
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](const beast::error_code& ec, std::size_t) { self->onHeader(ec); });
}

bool HttpSession::readFailed(const beast::error_code& ec) {
    if (!ec) return false;
    if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == boost::asio::error::operation_aborted) {
        close();
        return true;
    }
    // A request we could not even parse, or too large: say so once and hang up.
    const bool tooLarge = ec == http::error::body_limit;
    http::response<http::string_body> response{tooLarge ? http::status::payload_too_large : http::status::bad_request, 11};
    commonHeaders(response);
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.keep_alive(false);
    response.body() = std::string(http::obsolete_reason(response.result())) + "\n";
    response.prepare_payload();
    write(std::move(response));
    return true;
}

void HttpSession::onHeader(const beast::error_code& ec) {
    if (readFailed(ec)) return;
    const auto& header = parser_->get();
    if (targetPath(view(header.target())) == callPath) {
        // Refused before its body is read, so a stranger cannot make the host take in much.
        if (!isOwnHost(view(header[http::field::host]), context_.port)) {
            refuse(header, http::status::forbidden, false);
            return;
        }
        if (header.method() != http::verb::post) {
            refuse(header, http::status::method_not_allowed, false);
            return;
        }
        const auto token = queryValue(view(header.target()), "token");
        if (!token || !tokensEqual(*token, context_.token) ||
            !isOwnOrigin(view(header[http::field::origin]), context_.port)) {
            refuse(header, http::status::forbidden, false);
            return;
        }
    } else {
        const auto declared = parser_->content_length();
        if (declared && *declared > bodyLimit) {
            readFailed(http::error::body_limit);
            return;
        }
        parser_->body_limit(bodyLimit);  // a chunked body is held to it chunk by chunk
    }
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](const beast::error_code& readError, std::size_t) { self->onRead(readError); });
}

void HttpSession::onRead(const beast::error_code& ec) {
    if (readFailed(ec)) return;
    respond(parser_->release());
}

void HttpSession::takeCall(HttpContext::Request request) {
    const unsigned version = request.version();
    const bool keepAlive = request.keep_alive();
    waitingCall_.emplace(version, keepAlive);
    if (!context_.movieCall || !context_.movieCall(shared_from_this(), std::move(request.body()))) {
        waitingCall_.reset();
        http::response<http::string_body> response{http::status::bad_request, version};
        commonHeaders(response);
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.keep_alive(keepAlive);
        response.body() = "Bad Request: the body must be an <invoke> request\n";
        response.prepare_payload();
        write(std::move(response));
    }
}

void HttpSession::answerCall(const std::string& value) {
    if (!waitingCall_) return;
    const auto [version, keepAlive] = *waitingCall_;
    waitingCall_.reset();
    http::response<http::string_body> response{http::status::ok, version};
    commonHeaders(response);
    response.set(http::field::content_type, "application/xml; charset=utf-8");
    response.keep_alive(keepAlive);
    response.body() = value;
    response.prepare_payload();
    write(std::move(response));
}

void HttpSession::refuse(const http::request_header<>& request, http::status status, bool keepAlive) {
    http::response<http::string_body> response{status, request.version()};
    commonHeaders(response);
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    if (status == http::status::method_not_allowed) {
        response.set(http::field::allow, targetPath(view(request.target())) == callPath ? "POST" : "GET, HEAD");
    }
    response.keep_alive(keepAlive);
    if (request.method() != http::verb::head) {
        response.body() = std::string(http::obsolete_reason(status)) + "\n";
    }
    response.prepare_payload();
    write(std::move(response));
}

void HttpSession::respond(HttpContext::Request request) {
    if (!isOwnHost(view(request[http::field::host]), context_.port)) {
        refuse(request, http::status::forbidden, false);
        return;
    }
    const std::string_view target = view(request.target());
    if (targetPath(target) == "/bridge") {
        if (!beast::websocket::is_upgrade(request)) {
            refuse(request, http::status::bad_request, false);
            return;
        }
        const auto token = queryValue(target, "token");
        if (!token || !tokensEqual(*token, context_.token) ||
            !isOwnOrigin(view(request[http::field::origin]), context_.port)) {
            refuse(request, http::status::forbidden, false);
            return;
        }
        stream_.expires_never();
        context_.upgrade(stream_.release_socket(), std::move(request));
        return;
    }
    if (targetPath(target) == callPath) {
        takeCall(std::move(request));  // vetted with its header
        return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
        refuse(request, http::status::method_not_allowed, false);
        return;
    }

    // The player's own files go only to the page that holds the token; a browser sends an
    // Origin with a cross-site fetch, which must then be ours. Checked before "not found", so
    // a stranger cannot tell which files are there.
    const auto mayHaveOwnFiles = [&] {
        const auto token = queryValue(target, "token");
        const std::string_view origin = view(request[http::field::origin]);
        return token && tokensEqual(*token, context_.token) && (origin.empty() || isOwnOrigin(origin, context_.port));
    };
    const auto resolved = context_.files->resolve(target);
    if (const auto* refused = std::get_if<StaticFiles::Refused>(&resolved)) {
        const bool stranger = refused->needsToken && !mayHaveOwnFiles();
        refuse(request,
               stranger                  ? http::status::forbidden
               : refused->status == 400 ? http::status::bad_request
                                        : http::status::not_found,
               request.keep_alive());
        return;
    }
    const auto& found = std::get<StaticFiles::Found>(resolved);
    if (found.needsToken && !mayHaveOwnFiles()) {
        refuse(request, http::status::forbidden, request.keep_alive());
        return;
    }
    http::file_body::value_type file;
    beast::error_code ec;
    file.open(found.file.c_str(), beast::file_mode::scan, ec);
    if (ec) {
        refuse(request, http::status::not_found, request.keep_alive());
        return;
    }
    const std::uint64_t size = file.size();
    if (request.method() == http::verb::head) {
        http::response<http::empty_body> response{http::status::ok, request.version()};
        commonHeaders(response);
        response.set(http::field::content_type, found.contentType);
        response.content_length(size);
        response.keep_alive(request.keep_alive());
        write(std::move(response));
        return;
    }
    http::response<http::file_body> response{std::piecewise_construct, std::make_tuple(std::move(file)),
                                             std::make_tuple(http::status::ok, request.version())};
    commonHeaders(response);
    response.set(http::field::content_type, found.contentType);
    response.content_length(size);
    response.keep_alive(request.keep_alive());
    write(std::move(response));
}

template <class Response>
void HttpSession::write(Response response) {
    auto held = std::make_shared<Response>(std::move(response));
    stream_.expires_after(ioTimeout);
    http::async_write(stream_, *held, [self = shared_from_this(), held](const beast::error_code& ec, std::size_t) {
        if (ec) {
            self->close();
            return;
        }
        if (!held->keep_alive()) {
            self->closeAfterDraining();
            return;
        }
        self->readNext();
    });
}

void HttpSession::closeAfterDraining() {
    // Closing with unread bytes (the body of a refused request) sends a reset, which can
    // destroy the answer before the client reads it: stop sending, read what is still coming
    // for a moment, then close.
    beast::error_code ignored;
    stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
    stream_.expires_after(drainTimeout);
    drainNext();
}

void HttpSession::drainNext() {
    stream_.async_read_some(boost::asio::buffer(drain_),
                            [self = shared_from_this()](const beast::error_code& ec, std::size_t) {
                                if (ec) {
                                    self->close();
                                    return;
                                }
                                self->drainNext();
                            });
}

}  // namespace tunewick
