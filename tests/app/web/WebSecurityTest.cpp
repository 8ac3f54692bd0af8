// What the host refuses: foreign hosts, origins and tokens at the bridge, paths that try to
// leave the served folders, other methods, oversized and malformed messages. After each
// refusal the host must still serve a proper request.
#include "support/WebControlFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace tunewick::test {
namespace {

using json = nlohmann::json;
using WebSecurityTest = WebControlFixture;

TEST_F(WebSecurityTest, BridgeRefusesStrangersAndGoesOnServing) {
    const std::uint16_t port = control->port();
    const std::string own = "127.0.0.1:" + std::to_string(port);
    const std::string token = control->token();
    struct Case {
        const char* what;
        std::string target;
        std::optional<std::string> origin;
        std::string host;
        int status;
    };
    const std::vector<Case> cases{
        {"no token", "/bridge", "http://" + own, own, 403},
        {"empty token", "/bridge?token=", "http://" + own, own, 403},
        {"wrong token", "/bridge?token=" + std::string(32, '0'), "http://" + own, own, 403},
        {"token prefix", "/bridge?token=" + token.substr(0, 31), "http://" + own, own, 403},
        {"token of another parameter", "/bridge?x=" + token, "http://" + own, own, 403},
        {"foreign origin", "/bridge?token=" + token, "http://evil.example", own, 403},
        {"origin on another port", "/bridge?token=" + token, "http://127.0.0.1:1", own, 403},
        {"https origin", "/bridge?token=" + token, "https://" + own, own, 403},
        {"null origin", "/bridge?token=" + token, "null", own, 403},
        {"missing origin", "/bridge?token=" + token, std::nullopt, own, 403},
        {"foreign host", "/bridge?token=" + token, "http://" + own, "evil.example:" + std::to_string(port), 403},
        {"host on another port", "/bridge?token=" + token, "http://" + own, "127.0.0.1:1", 403},
    };
    for (const Case& c : cases) {
        TestPlayer stranger;
        EXPECT_EQ(stranger.connect(port, c.target, c.origin, c.host), c.status) << c.what;
        TestPlayer player;
        EXPECT_EQ(connect(player), 101) << "after " << c.what;
    }
    TestPlayer viaLocalhost;
    EXPECT_EQ(viaLocalhost.connect(port, "/bridge?token=" + token, "http://localhost:" + std::to_string(port),
                                   "localhost:" + std::to_string(port)),
              101);
}

TEST_F(WebSecurityTest, HttpNeedsOwnHostHeader) {
    const std::uint16_t port = control->port();
    const std::string p = std::to_string(port);
    EXPECT_EQ(httpRequest(port, "GET", "/", "").status, 403);
    EXPECT_EQ(httpRequest(port, "GET", "/", "evil.example").status, 403);
    EXPECT_EQ(httpRequest(port, "GET", "/", "evil.example:" + p).status, 403);
    EXPECT_EQ(httpRequest(port, "GET", "/", "127.0.0.1").status, 403);
    EXPECT_EQ(httpRequest(port, "GET", "/", "127.0.0.1:" + p + ".evil.example").status, 403);
    EXPECT_EQ(httpRequest(port, "GET", "/", "localhost:" + p).status, 200);
    EXPECT_EQ(httpRequest(port, "GET", "/", "127.0.0.1:" + p).status, 200);
}

TEST_F(WebSecurityTest, NoPathLeavesTheServedFolders) {
    const std::uint16_t port = control->port();
    const std::vector<std::string> attacks{
        "/..",
        "/../secret.txt",
        "/player/../secret.txt",
        "/player/../../secret.txt",
        "/movies/../secret.txt",
        "/movies/../../secret.txt",
        "/movies/%2e%2e/secret.txt",
        "/movies/%2E%2E/%2E%2E/secret.txt",
        "/movies/%252e%252e/secret.txt",
        "/movies/..%2fsecret.txt",
        "/movies/..%2f..%2fsecret.txt",
        "/movies/..%5csecret.txt",
        "/movies/..\\secret.txt",
        "/movies\\..\\secret.txt",
        "/movies/%00/../secret.txt",
        "/movies/Loader.html%00.png",
        "/movies/escape.txt",
        "/movies/up/secret.txt",
        "/movies/up/web/player/index.html",
        "/movies//etc/passwd",
        "/movies/%2fetc%2fpasswd",
        "/movies/.hidden.html",
        "/movies/./Loader.html",
        "/movies/%",
        "/movies/%zz",
        "/secret.txt",
        "//etc/passwd",
        "http://127.0.0.1/secret.txt",
        "/player",
        "/movies/",
        "/movies/sound",
    };
    for (const std::string& target : attacks) {
        const HttpReply reply = httpGet(port, target);
        EXPECT_TRUE(reply.status == 400 || reply.status == 404) << target << " gave " << reply.status;
        EXPECT_EQ(reply.body.find(ProgramDir::secret), std::string::npos) << target;
        EXPECT_EQ(httpGet(port, "/movies/Loader.html").status, 200) << "after " << target;
    }
    // A raw control byte in the request line never reaches the file system either.
    const HttpReply nul = rawHttp(port, "GET /movies/Loader.html" + std::string(1, '\0') +
                                            "/../../secret.txt HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(nul.body.find(ProgramDir::secret), std::string::npos);
    EXPECT_EQ(httpGet(port, "/").status, 200);
}

TEST_F(WebSecurityTest, ServesFilesWithTheirContentTypes) {
    const std::uint16_t port = control->port();
    struct Case {
        const char* target;
        const char* type;
        const char* body;
    };
    const std::vector<Case> cases{
        {"/", "text/html; charset=utf-8", "<!doctype html><title>player</title>"},
        {"/?token=anything", "text/html; charset=utf-8", "<!doctype html><title>player</title>"},
        {"/player/index.html", "text/html; charset=utf-8", "<!doctype html><title>player</title>"},
        {"/player/player.js", "text/javascript; charset=utf-8", "export const player = 1;"},
        {"/player/external.mjs", "text/javascript; charset=utf-8", "export const external = 1;"},
        {"/player/player.css", "text/css; charset=utf-8", "body { background: black; }"},
        {"/player/icon.svg", "image/svg+xml", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>"},
        {"/player/settings.json", "application/json", "{}"},
        {"/player/blob.bin", "application/octet-stream", "??"},
        {"/movies/Loader.html", "text/html; charset=utf-8", "<!doctype html><title>loader</title>"},
        {"/movies/Page%20One.html", "text/html; charset=utf-8", "page one"},
        {"/movies/sound/beep.wav", "audio/wav", "RIFF....WAVE"},
        {"/movies/alias.html", "text/html; charset=utf-8", "<!doctype html><title>loader</title>"},
        {"/movies/Menu.swf", "application/x-shockwave-flash", "FWS\x0b"},
    };
    for (const Case& c : cases) {
        const HttpReply reply = httpGet(port, c.target);
        EXPECT_EQ(reply.status, 200) << c.target;
        EXPECT_EQ(reply.header("content-type"), c.type) << c.target;
        EXPECT_EQ(reply.body, c.body) << c.target;
    }
    const HttpReply png = httpGet(port, "/player/logo.png");
    EXPECT_EQ(png.header("content-type"), "image/png");
    EXPECT_EQ(png.body, std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(httpGet(port, "/movies/Missing.html").status, 404);
    const HttpReply wasm = httpGet(port, "/ruffle/core.ruffle.wasm");
    EXPECT_EQ(wasm.header("content-type"), "application/wasm");
    EXPECT_EQ(wasm.body, std::string("\0asm", 4));
    EXPECT_EQ(httpGet(port, "/ruffle/../secret.txt").status, 400);
    EXPECT_EQ(httpGet(port, "/ruffle/").status, 404);
}

TEST_F(WebSecurityTest, MovieCallsAreRefusedToStrangersAndServiceGoesOn) {
    std::atomic<int> served{0};
    handleCalls([&](const std::string&) {
        ++served;
        control->SetReturnValue("<string>ok</string>");
    });
    const std::uint16_t port = control->port();
    const std::string own = "127.0.0.1:" + std::to_string(port);
    const std::string origin = "http://" + own;
    const std::string call = "/call?token=" + control->token();
    const std::string invoke = R"(<invoke name="goBack" returntype="xml"><arguments/></invoke>)";
    struct Case {
        const char* what;
        std::string method;
        std::string target;
        std::string origin;
        std::string host;
        std::string body;
        int status;
    };
    const std::vector<Case> cases{
        {"no token", "POST", "/call", origin, own, invoke, 403},
        {"empty token", "POST", "/call?token=", origin, own, invoke, 403},
        {"wrong token", "POST", "/call?token=" + std::string(32, '0'), origin, own, invoke, 403},
        {"token prefix", "POST", call.substr(0, call.size() - 1), origin, own, invoke, 403},
        {"foreign origin", "POST", call, "http://evil.example", own, invoke, 403},
        {"origin on another port", "POST", call, "http://127.0.0.1:1", own, invoke, 403},
        {"null origin", "POST", call, "null", own, invoke, 403},
        {"no origin", "POST", call, "", own, invoke, 403},
        {"foreign host", "POST", call, origin, "evil.example:" + std::to_string(port), invoke, 403},
        {"no host", "POST", call, origin, "", invoke, 403},
        {"GET instead of POST", "GET", call, origin, own, "", 405},
        {"PUT instead of POST", "PUT", call, origin, own, invoke, 405},
        {"oversized body", "POST", call, origin, own,
         R"(<invoke name="goBack"><arguments><string>)" + std::string(256 * 1024, 'x') + "</string></arguments></invoke>",
         413},
        {"empty body", "POST", call, origin, own, "", 400},
        {"malformed XML", "POST", call, origin, own, R"(<invoke name="goBack"><arguments>)", 400},
        {"no XML at all", "POST", call, origin, own, "goBack()", 400},
        {"another element", "POST", call, origin, own, R"(<call name="goBack"/>)", 400},
        {"an invoke without a name", "POST", call, origin, own, "<invoke/>", 400},
        {"invalid UTF-8", "POST", call, origin, own, "<invoke name=\"\xff\xfe\"><arguments>", 400},
    };
    for (const Case& c : cases) {
        const HttpReply refused = httpPost(port, c.target, c.origin, c.host, c.body, c.method);
        EXPECT_EQ(refused.status, c.status) << c.what;
        EXPECT_EQ(refused.header("content-type"), "text/plain; charset=utf-8") << c.what;
        if (c.status == 405) {
            EXPECT_EQ(refused.header("allow"), "POST") << c.what;
        }
        EXPECT_EQ(served.load(), 0) << "a refused call must not reach the dialog: " << c.what;
        const HttpReply proper = httpPost(port, call, origin, own, invoke);
        EXPECT_EQ(proper.status, 200) << "after " << c.what;
        EXPECT_EQ(proper.body, "<string>ok</string>") << "after " << c.what;
        served = 0;
    }
    // localhost is the host's own name too.
    const std::string local = "localhost:" + std::to_string(port);
    EXPECT_EQ(httpPost(port, call, "http://" + local, local, invoke).status, 200);
}

// A movie call may bring up to the call limit; every other request stays small. Sizes on
// both sides of each limit, with the body handed over whole when taken.
TEST_F(WebSecurityTest, BodyLimitsHoldPerPath) {
    std::atomic<std::size_t> longest{0};
    handleCalls([&](const std::string& request) {
        longest = std::max(longest.load(), request.size());
        control->SetReturnValue("<string>ok</string>");
    });
    const std::uint16_t port = control->port();
    const std::string own = "127.0.0.1:" + std::to_string(port);
    const std::string origin = "http://" + own;
    const std::string call = "/call?token=" + control->token();
    const auto invoke = [](std::size_t bytes) {
        const std::string head = R"(<invoke name="goBack"><arguments><string>)";
        const std::string tail = "</string></arguments></invoke>";
        return head + std::string(bytes - head.size() - tail.size(), 'x') + tail;
    };
    const std::size_t callLimit = settings().maxCallBytes;
    struct Case {
        const char* what;
        std::string target;
        std::size_t bytes;
        int status;
    };
    const std::vector<Case> cases{
        {"a 5 KB call", call, 5000, 200},
        {"a 200 KiB call", call, 200 * 1024, 200},
        {"a call at the limit", call, callLimit, 200},
        {"a call one byte over", call, callLimit + 1, 413},
        {"a 300 KiB call", call, 300 * 1024, 413},
        {"4 KiB to a page", "/movies/Loader.html", 4 * 1024, 405},
        {"5 KB to a page", "/movies/Loader.html", 5000, 413},
        {"200 KiB to the bridge", "/bridge", 200 * 1024, 413},
    };
    for (const Case& c : cases) {
        longest = 0;
        const HttpReply reply = httpPost(port, c.target, origin, own, invoke(c.bytes));
        EXPECT_EQ(reply.status, c.status) << c.what;
        EXPECT_EQ(longest.load(), c.status == 200 ? c.bytes : 0u) << c.what;
    }
}

TEST_F(WebSecurityTest, OnlyGetAndHead) {
    const std::uint16_t port = control->port();
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const HttpReply head = httpRequest(port, "HEAD", "/movies/Loader.html", host);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("content-length"), "36");
    EXPECT_TRUE(head.body.empty());
    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
        const HttpReply reply = httpRequest(port, method, "/movies/Loader.html", host);
        EXPECT_EQ(reply.status, 405) << method;
        EXPECT_EQ(reply.header("allow"), "GET, HEAD") << method;
    }
    EXPECT_EQ(httpRequest(port, "GET", "/bridge?token=" + control->token(), host).status, 400);  // not an upgrade
    EXPECT_EQ(httpGet(port, "/").status, 200);
}

TEST_F(WebSecurityTest, OversizedOrInvalidMessageClosesOnlyThatConnection) {
    std::atomic<std::size_t> longestRequest{0};
    handleCalls([this, &longestRequest](const std::string& request) {
        longestRequest = std::max<std::size_t>(longestRequest, request.size());
        control->SetReturnValue("<string>" + request + "</string>");
    });
    const std::vector<std::string> breaking{
        json{{"type", "call"}, {"id", 1}, {"request", std::string(settings().maxMessageBytes, 'x')}}.dump(),
        // A text frame must be UTF-8; the WebSocket layer refuses anything else.
        "{\"type\":\"call\",\"id\":1,\"request\":\"\xff\xfe\"}",
    };
    for (const std::string& text : breaking) {
        TestPlayer bad;
        ASSERT_EQ(connect(bad), 101);
        bad.sendText(text);
        // The host may cut the connection while the message is still being sent, so the
        // close code does not always get through; the connection must end either way.
        EXPECT_NE(bad.waitClosed(), -2);

        TestPlayer next;
        ASSERT_EQ(connect(next), 101);
        next.send({{"type", "call"}, {"id", 2}, {"request", "small"}});
        EXPECT_EQ(next.receive(), (json{{"type", "return"}, {"id", 2}, {"value", "<string>small</string>"}}));
    }
    EXPECT_EQ(longestRequest, 5u);  // neither broken message reached the dialog
}

TEST_F(WebSecurityTest, MalformedMessagesAreIgnored) {
    handleCalls([this](const std::string& request) { control->SetReturnValue("<string>" + request + "</string>"); });
    TestPlayer player;
    ASSERT_EQ(connect(player), 101);
    const std::vector<std::string> junk{
        "",
        "not json",
        "{\"type\":\"call\"",
        "[1,2,3]",
        "42",
        "null",
        "{}",
        R"({"type":"dance","id":1})",
        R"({"type":7,"id":1,"request":"x"})",
        R"({"type":"call","request":"no id"})",
        R"({"type":"call","id":"1","request":"string id"})",
        R"({"type":"call","id":1.5,"request":"fraction id"})",
        R"({"type":"call","id":1})",
        R"({"type":"call","id":1,"request":{"nested":true}})",
        R"({"type":"return","id":-1,"value":"x"})",
        R"({"type":"return","id":99999,"value":"nobody asked"})",
        R"({"type":"return"})",
        std::string(100000, '[') + std::string(100000, ']'),
    };
    for (const std::string& text : junk) player.sendText(text);
    player.send({{"type", "call"}, {"id", 3}, {"request", "still here"}});
    // Nothing above was answered: the first reply is the one to the proper call.
    EXPECT_EQ(player.receive(), (json{{"type", "return"}, {"id", 3}, {"value", "<string>still here</string>"}}));
}

}  // namespace
}  // namespace tunewick::test
