#pragma once
// The player control: the FlashControl whose "movie" is the player page in a browser,
// connected over one WebSocket. It serves, on 127.0.0.1 only, the player ("/" and
// "/player/..."), Ruffle for SWF movies ("/ruffle/..."), the movies ("/movies/..."), the
// bridge ("/bridge?token=TOKEN") and the synchronous calls of SWF movies
// ("POST /call?token=TOKEN": the invoke XML in, the reply value XML out).
//
// Messages (one JSON text object each):
//   page -> host  {"type":"call","id":N,"request":"<invoke ...>"}   answered by
//   host -> page  {"type":"return","id":N,"value":"<null/>"}
//   host -> page  {"type":"call","id":M,"request":"<invoke ...>"}   answered by
//   page -> host  {"type":"return","id":M,"value":"..."}
//   host -> page  {"type":"load","layer":0,"url":"/movies/Loader.html","commands":[...]}
//   host -> page  {"type":"alert","caption":"...","text":"..."}
//   host -> page  {"type":"exit"}
//
// One player at a time: a new connection takes over and the old one is closed with code
// 4000 ("replaced"), so that page knows not to reconnect. The network runs on a thread of
// the control's own; the movie's calls are handed to the dialog's queue. A synchronous call
// that arrives while the dialog waits in CallFunction is served inside that wait: its page
// is blocked until the answer, so it could not answer the host's call before.
#include "bridge/FlashControl.h"
#include "bridge/MessageQueue.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tunewick {

struct WebControlSettings {
    // How long CallFunction waits for the page's reply.
    std::chrono::milliseconds callTimeout{2000};
    // How long after the last player closed the program ends; a reload reconnects sooner.
    std::chrono::milliseconds lastPlayerGrace{3000};
    // How long sendExit waits for the exit message to be written.
    std::chrono::milliseconds exitFlushTimeout{1000};
    // A larger incoming message closes that connection. The longest play-along list, 20,000
    // chords of six notes, is about 27 MB as invoke XML.
    std::size_t maxMessageBytes = 32u << 20;
    // A larger movie call over HTTP (the SWF movies' synchronous calls) is refused with 413.
    std::size_t maxCallBytes = 256 * 1024;
    // Pings at half this interval keep a live page connected; a silent one is dropped.
    std::chrono::milliseconds idleTimeout{60000};
    // The folder served as "/movies/"; empty: <programDir>/data.
    std::filesystem::path moviesDir;
    // The player's songs, served read-only as "/songs/" to requests that carry the token;
    // empty: none.
    std::filesystem::path songsDir;
};

class WebControl final : public FlashControl {
public:
    // Listens on 127.0.0.1:port (0: the system picks one) and starts the io thread.
    // programDir holds web/player/ and data/. Throws std::runtime_error (for example
    // boost::system::system_error) if the port cannot be had, std::system_error if no
    // random source can make the token.
    WebControl(MessageQueue& dialogQueue, std::filesystem::path programDir, std::uint16_t port,
               WebControlSettings settings = {});
    // stop().
    ~WebControl() override;
    WebControl(const WebControl&) = delete;
    WebControl& operator=(const WebControl&) = delete;

    std::uint16_t port() const;
    const std::string& token() const;
    // "http://127.0.0.1:PORT/?token=TOKEN": where the player is opened.
    std::string url() const;

    // --- FlashControl: call these on the dialog's thread.
    // Shows the movie file at `url` (a path inside the movie folder) in the player, with the
    // command names given last; a player that connects later, or reconnects, receives the
    // latest load before anything else. A path outside the movie folder cannot be served: it
    // is reported on stderr and ignored.
    void LoadMovie(std::int32_t layer, const std::string& url) override;
    // Sends the request to the current player and waits for its reply, at most
    // callTimeout; "" when no player is connected, none answers in time, the player goes
    // away, or the control stops meanwhile. Serves the synchronous movie calls that arrive
    // meanwhile.
    std::string CallFunction(const std::string& request) override;
    // Answers the movie call being served (inside the FlashCall handler). Only the first
    // answer counts; a handler that gives none is answered "<null/>" when it returns.
    void SetReturnValue(const std::string& value) override;
    // Sent to the player with each load: a SWF movie calls these names as global functions.
    void setCommandNames(std::vector<std::string> names) override;

    // --- Any thread.
    // Shows a modal message in the player. Messages raised while no player is connected
    // wait for the next one (the latest 16 are kept).
    void alert(const std::string& caption, const std::string& text);
    // Tells the player the program is ending and waits (at most exitFlushTimeout) until
    // the message has been written. From then on a closing player no longer ends anything.
    void sendExit();
    // How many player windows the control has taken on so far (a window is served from the
    // moment this counts it: before, a CallFunction finds no player).
    std::uint64_t playersOpened() const;
    // Runs on the dialog's thread (posted to its queue) when the last player window has been
    // gone for lastPlayerGrace. Never before a player has connected.
    void setLastPlayerClosedHandler(std::function<void()> handler);
    // Closes every connection, stops the io thread and joins it; wakes a waiting
    // CallFunction. Idempotent.
    void stop();

    // The control must be destroyed on the dialog's thread or after the dialog's queue has
    // stopped running: a movie call still queued then finds the control gone and is dropped.

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tunewick
