#include "app/web/WebControl.h"

#include "app/web/HttpSession.h"
#include "app/web/PlayerSession.h"
#include "app/web/StaticFiles.h"
#include "app/web/Token.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <nlohmann/json.hpp>
#include <tinyxml.h>

#include "bridge/SafeXml.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace tunewick {
namespace net = boost::asio;
using tcp = net::ip::tcp;
using json = nlohmann::json;
using error_code = boost::system::error_code;

namespace {

constexpr std::uint16_t replacedCloseCode = 4000;
constexpr std::size_t maxUndeliveredAlerts = 16;
constexpr std::size_t maxQueuedMessages = 1024;

// Texts from movies and files may hold invalid UTF-8; the page gets U+FFFD for it rather
// than the host throwing.
std::string dump(const json& message) {
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A movie call over HTTP must be an invoke request; anything else is a bad request.
bool isInvokeRequest(const std::string& text) {
    TiXmlDocument document;
    parseUntrustedXml(document, text);
    const TiXmlElement* root = document.RootElement();
    return !document.Error() && root != nullptr && root->ValueStr() == "invoke" && root->Attribute("name") != nullptr;
}

void keepFromChildren(int fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

}  // namespace

struct WebControl::Impl {
    // A host call waiting for the page's reply.
    struct Pending {
        std::uint64_t session = 0;  // the connection it went to; 0 until sent
        bool done = false;
        std::string value;
    };
    // Hands a movie call's reply value to its page; runs on the io thread.
    using Deliver = std::function<void(std::string value)>;
    // The movie call being served on the dialog's thread.
    struct Serving {
        Deliver deliver;
        bool answered = false;
    };
    // A synchronous movie call (HTTP) waiting for the dialog's thread.
    struct SyncCall {
        std::string request;
        Deliver deliver;
    };

    Impl(WebControl& owner, MessageQueue& queue, std::filesystem::path programDir, std::uint16_t requestedPort,
         WebControlSettings settings);

    void runIo();
    void acceptNext();
    void onUpgrade(tcp::socket socket, HttpContext::Request request);
    void onPlayerOpened(const std::shared_ptr<PlayerSession>& session);
    void onPlayerMessage(const std::shared_ptr<PlayerSession>& session, const std::string& text);
    void onPlayerClosed(PlayerSession& session);
    void onLastPlayerGone(const error_code& ec);
    bool onSyncCall(const std::shared_ptr<HttpSession>& session, std::string request);
    void serveNextSyncCall();
    void serveMovieCall(Deliver deliver, const std::string& request);
    void answer(Serving& call, const std::string& value);
    void finishCall(std::uint64_t id, std::uint64_t fromSession, std::string value, bool anySession);
    void failCallsOf(std::uint64_t session);
    void stop();

    WebControl& owner;
    MessageQueue& queue;
    const std::filesystem::path programDir;
    const WebControlSettings settings;
    const std::filesystem::path moviesDir;
    const std::string token;
    StaticFiles files;
    HttpContext http;

    // The io context outlives every io object below it.
    net::io_context ioc{1};
    net::executor_work_guard<net::io_context::executor_type> work;
    tcp::acceptor acceptor;
    std::uint16_t port = 0;
    net::steady_timer graceTimer;
    net::steady_timer acceptRetry;

    // Touched on the io thread only.
    std::shared_ptr<PlayerSession> current;
    std::vector<std::weak_ptr<PlayerSession>> players;
    std::vector<std::weak_ptr<HttpSession>> connections;
    std::optional<std::string> currentLoad;
    std::deque<std::string> undeliveredAlerts;
    bool exiting = false;

    // Touched on the dialog's thread only.
    std::vector<Serving> serving;
    std::vector<std::string> commandNames;

    // Host calls awaiting replies, shared between the dialog's and the io thread.
    std::mutex pendingMutex;
    std::condition_variable pendingCv;
    std::map<std::uint64_t, Pending> pending;
    // Also under pendingMutex, so that a waiting CallFunction wakes for them.
    std::deque<SyncCall> syncCalls;
    bool stopping = false;
    std::atomic<std::uint64_t> nextCallId{1};
    std::atomic<std::uint64_t> playersOpened{0};

    std::mutex handlerMutex;
    std::function<void()> lastPlayerClosed;

    // Movie calls queued for the dialog check this before touching the control.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    std::atomic<bool> stopped{false};
    std::promise<void> ioFinished;
    std::thread thread;
};

WebControl::Impl::Impl(WebControl& owner_, MessageQueue& queue_, std::filesystem::path programDir_,
                       std::uint16_t requestedPort, WebControlSettings settings_)
    : owner(owner_),
      queue(queue_),
      programDir(std::move(programDir_)),
      settings(settings_),
      moviesDir(settings.moviesDir.empty() ? programDir / "data" : settings.moviesDir),
      token(makeToken()),
      files(programDir, moviesDir, settings.songsDir),
      work(net::make_work_guard(ioc)),
      acceptor(ioc),
      graceTimer(ioc),
      acceptRetry(ioc) {
    const tcp::endpoint endpoint(net::ip::address_v4::loopback(), requestedPort);
    acceptor.open(endpoint.protocol());
    keepFromChildren(acceptor.native_handle());
    acceptor.set_option(net::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(net::socket_base::max_listen_connections);
    port = acceptor.local_endpoint().port();

    http.port = port;
    http.token = token;
    http.files = &files;
    http.upgrade = [this](tcp::socket socket, HttpContext::Request request) {
        onUpgrade(std::move(socket), std::move(request));
    };
    http.maxCallBytes = settings.maxCallBytes;
    http.movieCall = [this](const std::shared_ptr<HttpSession>& session, std::string request) {
        return onSyncCall(session, std::move(request));
    };
    acceptNext();
    thread = std::thread([this] { runIo(); });
}

void WebControl::Impl::runIo() {
    // A handler that throws must not take the host down: report it and go on serving.
    for (;;) {
        try {
            ioc.run();
            break;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tunewick: web control: %s\n", e.what());
        }
    }
    ioFinished.set_value();
}

void WebControl::Impl::acceptNext() {
    acceptor.async_accept([this](const error_code& ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
        if (ec) {
            // Out of descriptors or the like: try again shortly rather than spin.
            acceptRetry.expires_after(std::chrono::milliseconds(100));
            acceptRetry.async_wait([this](const error_code& waited) {
                if (!waited) acceptNext();
            });
            return;
        }
        keepFromChildren(socket.native_handle());
        error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        auto session = std::make_shared<HttpSession>(std::move(socket), http);
        std::erase_if(connections, [](const auto& weak) { return weak.expired(); });
        connections.push_back(session);
        session->start();
        acceptNext();
    });
}

void WebControl::Impl::onUpgrade(tcp::socket socket, HttpContext::Request request) {
    PlayerSession::Limits limits{settings.maxMessageBytes, maxQueuedMessages, std::chrono::milliseconds(5000),
                                 settings.idleTimeout};
    PlayerSession::Handlers handlers{
        [this](const std::shared_ptr<PlayerSession>& s) { onPlayerOpened(s); },
        [this](const std::shared_ptr<PlayerSession>& s, std::string text) { onPlayerMessage(s, text); },
        [this](PlayerSession& s) { onPlayerClosed(s); },
    };
    auto session = std::make_shared<PlayerSession>(std::move(socket), limits, std::move(handlers));
    std::erase_if(players, [](const auto& weak) { return weak.expired(); });
    players.push_back(session);
    session->accept(std::move(request));
}

void WebControl::Impl::onPlayerOpened(const std::shared_ptr<PlayerSession>& session) {
    graceTimer.cancel();
    if (current) {
        // One player at a time: the newest window wins, and the old one is told why it goes.
        failCallsOf(current->serial());
        current->close(replacedCloseCode, "replaced by another player window");
    }
    current = session;
    if (currentLoad) session->send(*currentLoad);
    while (!undeliveredAlerts.empty()) {
        session->send(std::move(undeliveredAlerts.front()));
        undeliveredAlerts.pop_front();
    }
    playersOpened.fetch_add(1);
}

void WebControl::Impl::onPlayerMessage(const std::shared_ptr<PlayerSession>& session, const std::string& text) {
    // A window that has been taken over is on its way out: what it still sends is dropped.
    if (session != current) return;
    const json message = json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object()) return;
    const auto type = message.find("type");
    const auto id = message.find("id");
    if (type == message.end() || !type->is_string() || id == message.end()) return;

    if (*type == "call") {
        const auto request = message.find("request");
        if (!id->is_number_integer() || request == message.end() || !request->is_string()) return;
        Deliver deliver = [weak = std::weak_ptr<PlayerSession>(session), callId = *id](std::string value) {
            if (auto player = weak.lock()) player->send(dump(json{{"type", "return"}, {"id", callId}, {"value", value}}));
        };
        queue.post([this, alive = std::weak_ptr<int>(alive), deliver = std::move(deliver),
                    text = request->get<std::string>()]() mutable {
            if (alive.expired()) return;
            serveMovieCall(std::move(deliver), text);
        });
    } else if (*type == "return") {
        if (!id->is_number_unsigned()) return;
        const auto value = message.find("value");
        std::string reply = value != message.end() && value->is_string() ? value->get<std::string>() : std::string();
        finishCall(id->get<std::uint64_t>(), session->serial(), std::move(reply), false);
    }
}

void WebControl::Impl::onPlayerClosed(PlayerSession& session) {
    failCallsOf(session.serial());
    if (current.get() != &session) return;  // an old connection that was taken over
    current.reset();
    if (exiting) return;
    graceTimer.expires_after(settings.lastPlayerGrace);
    graceTimer.async_wait([this](const error_code& ec) { onLastPlayerGone(ec); });
}

void WebControl::Impl::onLastPlayerGone(const error_code& ec) {
    if (ec || current || exiting) return;
    std::function<void()> handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = lastPlayerClosed;
    }
    if (handler) queue.post(std::move(handler));
}

bool WebControl::Impl::onSyncCall(const std::shared_ptr<HttpSession>& session, std::string request) {
    if (!isInvokeRequest(request)) return false;
    // The connection waits with no read or write under way: only this keeps it.
    Deliver deliver = [session](std::string value) { session->answerCall(value); };
    {
        std::lock_guard lock(pendingMutex);
        syncCalls.push_back(SyncCall{std::move(request), std::move(deliver)});
    }
    pendingCv.notify_all();
    // In the queue like any movie call, unless a waiting CallFunction serves it first.
    queue.post([this, alive = std::weak_ptr<int>(alive)] {
        if (!alive.expired()) serveNextSyncCall();
    });
    return true;
}

void WebControl::Impl::serveNextSyncCall() {
    SyncCall call;
    {
        std::lock_guard lock(pendingMutex);
        if (syncCalls.empty()) return;
        call = std::move(syncCalls.front());
        syncCalls.pop_front();
    }
    serveMovieCall(std::move(call.deliver), call.request);
}

void WebControl::Impl::serveMovieCall(Deliver deliver, const std::string& request) {
    serving.push_back(Serving{std::move(deliver), false});
    // Whatever the handler does, even throw, the page gets exactly one answer.
    struct AnswerOnce {
        Impl& impl;
        ~AnswerOnce() {
            Serving call = std::move(impl.serving.back());
            impl.serving.pop_back();
            if (!call.answered) impl.answer(call, "<null/>");
        }
    } answerOnce{*this};
    owner.fireFlashCall(request);
}

void WebControl::Impl::answer(Serving& call, const std::string& value) {
    call.answered = true;
    net::post(ioc, [deliver = call.deliver, value]() mutable { deliver(std::move(value)); });
}

void WebControl::Impl::finishCall(std::uint64_t id, std::uint64_t fromSession, std::string value, bool anySession) {
    {
        std::lock_guard lock(pendingMutex);
        const auto it = pending.find(id);
        if (it == pending.end() || it->second.done) return;
        if (!anySession && it->second.session != fromSession) return;
        it->second.done = true;
        it->second.value = std::move(value);
    }
    pendingCv.notify_all();
}

void WebControl::Impl::failCallsOf(std::uint64_t session) {
    {
        std::lock_guard lock(pendingMutex);
        for (auto& [id, call] : pending) {
            if (call.session == session) call.done = true;
        }
    }
    pendingCv.notify_all();
}

void WebControl::Impl::stop() {
    if (stopped.exchange(true)) return;
    {
        std::lock_guard lock(pendingMutex);
        stopping = true;
    }
    pendingCv.notify_all();
    net::post(ioc, [this] {
        exiting = true;
        error_code ignored;
        acceptor.close(ignored);
        graceTimer.cancel();
        acceptRetry.cancel();
        for (const auto& weak : players) {
            if (auto player = weak.lock()) player->close(1001, "the program is ending");
        }
        for (const auto& weak : connections) {
            if (auto connection = weak.lock()) connection->close();
        }
        current.reset();
        work.reset();
    });
    // Give the closing handshakes a moment, then cut whatever is left.
    if (ioFinished.get_future().wait_for(std::chrono::seconds(1)) != std::future_status::ready) ioc.stop();
    thread.join();
    // The io thread is gone: whatever did not finish closing is cut here, so no page waits
    // on a connection that nobody serves any more.
    for (const auto& weak : players) {
        if (auto player = weak.lock()) player->abort();
    }
    for (const auto& weak : connections) {
        if (auto connection = weak.lock()) connection->close();
    }
}

WebControl::WebControl(MessageQueue& dialogQueue, std::filesystem::path programDir, std::uint16_t port,
                       WebControlSettings settings)
    : impl_(std::make_unique<Impl>(*this, dialogQueue, std::move(programDir), port, settings)) {}

WebControl::~WebControl() {
    stop();
    impl_->alive.reset();
}

std::uint16_t WebControl::port() const {
    return impl_->port;
}

const std::string& WebControl::token() const {
    return impl_->token;
}

std::string WebControl::url() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + "/?token=" + impl_->token;
}

void WebControl::LoadMovie(std::int32_t layer, const std::string& url) {
    const std::optional<std::string> served = movieUrl(impl_->moviesDir, url);
    if (!served) {
        std::fprintf(stderr, "tunewick: cannot show %s: only movies inside the movie folder %s can be shown\n",
                     url.c_str(), impl_->moviesDir.c_str());
        return;
    }
    json load{{"type", "load"}, {"layer", layer}, {"url", *served}};
    if (!impl_->commandNames.empty()) load["commands"] = impl_->commandNames;
    std::string text = dump(load);
    net::post(impl_->ioc, [impl = impl_.get(), text = std::move(text)] {
        impl->currentLoad = text;
        if (impl->current) impl->current->send(text);
    });
}

std::uint64_t WebControl::playersOpened() const { return impl_->playersOpened.load(); }

std::string WebControl::CallFunction(const std::string& request) {
    Impl& impl = *impl_;
    const std::uint64_t id = impl.nextCallId++;
    {
        std::lock_guard lock(impl.pendingMutex);
        if (impl.stopping) return {};
        impl.pending.emplace(id, Impl::Pending{});
    }
    std::string text = dump(json{{"type", "call"}, {"id", id}, {"request", request}});
    net::post(impl.ioc, [&impl, id, text = std::move(text)]() mutable {
        if (!impl.current) {
            impl.finishCall(id, 0, {}, true);
            return;
        }
        {
            std::lock_guard lock(impl.pendingMutex);
            const auto it = impl.pending.find(id);
            if (it == impl.pending.end()) return;  // already given up
            it->second.session = impl.current->serial();
        }
        impl.current->send(std::move(text));
    });

    const auto deadline = std::chrono::steady_clock::now() + impl.settings.callTimeout;
    std::unique_lock lock(impl.pendingMutex);
    for (;;) {
        impl.pendingCv.wait_until(lock, deadline, [&] {
            return impl.stopping || impl.pending.at(id).done || !impl.syncCalls.empty();
        });
        if (impl.stopping || impl.pending.at(id).done || impl.syncCalls.empty()) break;
        // A SWF page blocked in a synchronous call cannot answer this one until it has its
        // own answer: serve it here, as a call made from inside this one.
        lock.unlock();
        impl.serveNextSyncCall();
        lock.lock();
    }
    auto node = impl.pending.extract(id);
    return node.mapped().done ? std::move(node.mapped().value) : std::string();
}

void WebControl::SetReturnValue(const std::string& value) {
    if (impl_->serving.empty()) return;  // no movie call is being served
    Impl::Serving& call = impl_->serving.back();
    if (call.answered) return;
    impl_->answer(call, value);
}

void WebControl::setCommandNames(std::vector<std::string> names) {
    impl_->commandNames = std::move(names);
}

void WebControl::alert(const std::string& caption, const std::string& text) {
    std::string message = dump(json{{"type", "alert"}, {"caption", caption}, {"text", text}});
    net::post(impl_->ioc, [impl = impl_.get(), message = std::move(message)]() mutable {
        if (impl->current) {
            impl->current->send(std::move(message));
            return;
        }
        if (impl->undeliveredAlerts.size() == maxUndeliveredAlerts) impl->undeliveredAlerts.pop_front();
        impl->undeliveredAlerts.push_back(std::move(message));
    });
}

void WebControl::sendExit() {
    if (impl_->stopped) return;
    auto written = std::make_shared<std::promise<void>>();
    std::future<void> done = written->get_future();
    net::post(impl_->ioc, [impl = impl_.get(), written] {
        impl->exiting = true;
        impl->graceTimer.cancel();
        if (!impl->current) {
            written->set_value();
            return;
        }
        impl->current->send(dump(json{{"type", "exit"}}), [written] { written->set_value(); });
    });
    done.wait_for(impl_->settings.exitFlushTimeout);
}

void WebControl::setLastPlayerClosedHandler(std::function<void()> handler) {
    std::lock_guard lock(impl_->handlerMutex);
    impl_->lastPlayerClosed = std::move(handler);
}

void WebControl::stop() {
    impl_->stop();
}

}  // namespace tunewick
