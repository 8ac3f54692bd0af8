// Feeds arbitrary bytes through every reader and writer of the bridge and checks the
// promises they make: a request is answered exactly once, TinyXML never nests deeper than the
// guard allows, the guard only cuts where TinyXML would stop anyway, and every text that comes
// out is valid UTF-8.
#include <tinyxml.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "bridge/CommandRegistry.h"
#include "bridge/FlashControl.h"
#include "bridge/FlashObject.h"
#include "bridge/FunctionCall.h"
#include "bridge/FunctionCommand.h"
#include "bridge/Param.h"
#include "bridge/SafeXml.h"

using namespace tunewick;

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_bridge: broken promise: %s\n", what);
        std::abort();
    }
}

bool isValidUtf8(const std::string& text) { return toValidUtf8(text) == text; }

class CountingControl : public FlashControl {
public:
    void LoadMovie(std::int32_t, const std::string&) override {}
    std::string CallFunction(const std::string& request) override {
        check(isValidUtf8(request), "a call to the movie is valid UTF-8");
        return reply;
    }
    void SetReturnValue(const std::string& value) override {
        check(isValidUtf8(value), "a reply is valid UTF-8");
        ++replies;
    }
    std::string reply;
    int replies = 0;
};

// Answers with its first argument, so every value read from a request is written back.
class EchoCommand : public FunctionCommand {
public:
    EchoCommand() : FunctionCommand("echo") {}
    Param execute(const std::vector<Param>& arguments) override {
        return arguments.empty() ? Param() : arguments.front();
    }
};

// Answers with an object holding every argument, as the history report does with its flags.
class CollectCommand : public FunctionCommand {
public:
    CollectCommand() : FunctionCommand("collect") {}
    Param execute(const std::vector<Param>& arguments) override {
        auto map = std::make_unique<FlashObject>();
        for (std::size_t i = 0; i < arguments.size(); ++i)
            map->setProperty(std::to_string(i), std::make_unique<Param>(arguments[i]));
        Param result;
        result.setArray(std::move(map));
        return result;
    }
};

// Greatest element nesting of a document, walked without recursion.
int nestingOf(const TiXmlNode* root) {
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling()) {
            const int childDepth = child->ToElement() ? depth + 1 : depth;
            if (childDepth > deepest) deepest = childDepth;
            stack.emplace_back(child, childDepth);
        }
    }
    return deepest;
}

// Value nesting, and whether every string and key is valid UTF-8.
void checkValue(const Param& value, int depth) {
    check(depth <= Param::kMaxDepth, "values nest no deeper than kMaxDepth");
    if (value.type() == Param::String) check(isValidUtf8(value.getString()), "strings are valid UTF-8");
    if (const FlashObject* map = value.getObject()) {
        for (const auto& [key, child] : *map) {
            check(isValidUtf8(key), "keys are valid UTF-8");
            checkValue(*child, depth + 1);
        }
    }
}

std::string printed(const TiXmlDocument& document) {
    TiXmlPrinter printer;
    document.Accept(&printer);
    return printer.Str();
}

void parseAsIs(TiXmlDocument& document, const std::string& text) {
    document.SetTabSize(0);
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
}

// The guard's scan against TinyXML itself, with a small nesting limit so short inputs reach it.
void checkGuard(const std::string& raw) {
    const std::string text = toValidUtf8(raw.substr(0, raw.find('\0')));
    check(isValidUtf8(text), "the repaired text is valid UTF-8");
    if (raw.find('\0') == std::string::npos && isValidUtf8(raw)) check(text == raw, "valid UTF-8 is kept");

    for (int limit : {1, 3, 7}) {
        const std::size_t keep = nestingBoundedLength(text, limit);
        check(keep <= text.size(), "the prefix lies within the text");
        TiXmlDocument document;
        parseAsIs(document, text.substr(0, keep));
        check(nestingOf(&document) <= limit, "TinyXML nests no deeper than the limit");
    }

    // Without a limit the scan stops only where TinyXML fails, so cutting there changes
    // nothing that TinyXML builds. The whole text is parsed as is only because it is short.
    const std::size_t keep = nestingBoundedLength(text, std::numeric_limits<int>::max());
    if (keep < text.size() && text.size() <= 8192) {
        TiXmlDocument whole, cut;
        parseAsIs(whole, text);
        parseAsIs(cut, text.substr(0, keep));
        check(printed(whole) == printed(cut), "a cut where TinyXML fails leaves its result alone");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    checkGuard(text);

    FunctionCall call;
    call.parse(text);
    check(isValidUtf8(call.name), "the name is valid UTF-8");
    for (const Param& argument : call.arguments) checkValue(argument, 0);
    const std::string request = call.toXml();

    Param value;
    value.parseXml(text);
    checkValue(value, 0);
    Param again;
    again.parseXml(value.toXml());
    checkValue(again, 0);

    CountingControl control;
    control.reply = text;
    CommandRegistry registry;
    registry.control = &control;
    registry.add(std::make_unique<EchoCommand>());
    registry.add(std::make_unique<CollectCommand>());
    registry.dispatch(text);
    check(control.replies == 1, "one reply per request");
    registry.dispatch(request);
    check(control.replies == 2, "one reply per request");

    const Param reply = call.invoke(registry);
    checkValue(reply, 0);
    return 0;
}
