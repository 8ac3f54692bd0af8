#include "bridge/FunctionCall.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/CommandRegistry.h"
#include "support/FakeFlashControl.h"

namespace tunewick {
namespace {

struct Parsed {
    std::string request, name, arguments;  // arguments as written back
};

TEST(RequestParsing, ReadsNameAndArgumentsByTheRequestRules) {
    const Parsed cases[] = {
        {"<invoke name=\"goBack\" returntype=\"xml\"><arguments></arguments></invoke>", "goBack", ""},
        {"<invoke name=\"m\"><arguments><number>10</number><number>12</number></arguments></invoke>", "m",
         "<number>10</number><number>12</number>"},
        // text and comments between values are skipped; unknown kinds are null but count
        {"<invoke name=\"x\"><arguments> one <string>a</string><!-- c -->two<Number>3</Number><foo/></arguments>"
         "</invoke>",
         "x", "<string>a</string><number>3</number><null/>"},
        // the root must be exactly "invoke"; a declaration or comment ahead of it is passed over
        {"<INVOKE name=\"exit\"><arguments><true/></arguments></INVOKE>", "", ""},
        {"<?xml version=\"1.0\"?>\n<!-- c --><invoke name=\"exit\"/>", "exit", ""},
        {"", "", ""},
        {"exit", "", ""},
        {"<invoke><arguments><true/></arguments></invoke>", "", "<true/>"},
        // only a first child named exactly "arguments" holds arguments; white space is no node
        {"<invoke name=\"loadSwf\"><foo/><arguments><string>a</string></arguments></invoke>", "loadSwf", ""},
        {"<invoke name=\"x\"><!-- note --><arguments><true/></arguments></invoke>", "x", ""},
        {"<invoke name=\"x\">text<arguments><true/></arguments></invoke>", "x", ""},
        {"<invoke name=\"x\"><Arguments><true/></Arguments></invoke>", "x", ""},
        {"<invoke name=\"x\">\n  <arguments><true/></arguments></invoke>", "x", "<true/>"},
        // names are decoded and keep their UTF-8
        {"<invoke name=\"a&amp;b &#233; 中\"/>", "a&b é 中", ""},
        // what was built before an error is kept
        {"<invoke name=\"x\"><arguments><number>1</number><string>ab", "x", "<number>1</number><string>ab</string>"},
        // a stray byte after an attribute ends the element there with the attribute kept (found by
        // the fuzzer: the guard once cut the text so that TinyXML dropped the name)
        {"<invoke name=\"echo\".><arguments><true/></arguments></invoke>", "echo", ""},
    };
    for (const auto& [request, name, arguments] : cases) {
        FunctionCall call("stale");
        call.arguments.emplace_back(true);
        call.parse(request);
        EXPECT_EQ(call.name, name) << request;
        EXPECT_EQ(call.argumentsToXml(), arguments) << request;
    }
}

TEST(RequestParsing, ReadsLongListsAndRefusesOversizedTexts) {
    const std::string head = "<invoke name=\"many\"><arguments>", tail = "</arguments></invoke>";
    std::string flat = head;
    for (int i = 0; i < 100000; ++i) flat += "<true/>";
    FunctionCall call;
    call.parse(flat + tail);
    EXPECT_EQ(call.arguments.size(), 100000u);

    call.parse(head + std::string(FunctionCall::kMaxRequestBytes, ' ') + tail);
    EXPECT_EQ(call.name, "");
    EXPECT_TRUE(call.arguments.empty());
}

TEST(CallWriting, WritesTheRequestFormAndReadsTheReply) {
    FunctionCall setTone("setTone");
    setTone.arguments.emplace_back().setNumber(2);
    EXPECT_EQ(setTone.toXml(),
              "<invoke name=\"setTone\" returntype=\"xml\"><arguments><number>2</number></arguments></invoke>");
    FunctionCall empty("setStringTune");
    EXPECT_EQ(empty.toXml(), "<invoke name=\"setStringTune\" returntype=\"xml\"><arguments></arguments></invoke>");

    testing::FakeFlashControl control;
    CommandRegistry registry;
    EXPECT_EQ(setTone.invoke(registry).type(), Param::Null);  // no control yet: nothing is sent
    registry.control = &control;
    control.replies = {"<number>3</number>", "", "not xml"};
    EXPECT_EQ(setTone.invoke(registry).getNumber(), 3.0);
    EXPECT_EQ(setTone.invoke(registry).type(), Param::Null);
    EXPECT_EQ(setTone.invoke(registry).type(), Param::Null);
    EXPECT_EQ(control.calls, std::vector<std::string>(3, setTone.toXml()));
    EXPECT_EQ(setTone.argumentsToXml(), "<number>2</number>");  // the call itself is unchanged
}

}  // namespace
}  // namespace tunewick
