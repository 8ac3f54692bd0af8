#include "bridge/SafeXml.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/FlashObject.h"
#include "bridge/FunctionCall.h"
#include "bridge/Param.h"

namespace tunewick {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

std::string parsedString(const std::string& xml) {
    Param value;
    value.parseXml(xml);
    return value.getString();
}

TEST(Utf8Repair, KeepsValidTextAndReplacesEachIllFormedPart) {
    const std::string valid = std::string("ascii \x7F é 中 🎸 ") + '\0' + "end";
    EXPECT_EQ(toValidUtf8(valid), valid);
    EXPECT_EQ(toValidUtf8("a\x80z"), "a" + kFffd + "z");           // a lone continuation byte
    EXPECT_EQ(toValidUtf8("\xE2\x82<b"), kFffd + "<b");             // cut short, before markup
    EXPECT_EQ(toValidUtf8("a\xF0\x9F\x8E"), "a" + kFffd);           // cut short at the end
    EXPECT_EQ(toValidUtf8("\xC0\xAF"), kFffd + kFffd);              // overlong
    EXPECT_EQ(toValidUtf8("\xED\xA0\x80"), repeat(kFffd, 3));       // a surrogate
    EXPECT_EQ(toValidUtf8("\xF4\x90\x80\x80"), repeat(kFffd, 4));   // above U+10FFFF
}

TEST(NestingScan, CountsElementsAsTinyXmlDoes) {
    const std::string nested = "<a><b><c/></b></a>";
    EXPECT_EQ(nestingBoundedLength(nested, 3), nested.size());
    EXPECT_EQ(nestingBoundedLength(nested, 2), nested.find("<c"));
    const std::string flat = "<r>" + repeat("<x a='1'/><y>t</y>", 1000) + "</r>";
    EXPECT_EQ(nestingBoundedLength(flat, 2), flat.size());
    // Markup inside quoted values, comments, CDATA and processing instructions opens nothing.
    const std::string hidden = "<a x=\"<b><c>\" y='>'><!-- <b><c> --><![CDATA[<b><c>]]><?pi <b>?></a>";
    EXPECT_EQ(nestingBoundedLength(hidden, 1), hidden.size());
    // "/>" in a text closes nothing.
    EXPECT_EQ(nestingBoundedLength("<a>/><a>/><a>/>", 2), 10u);
}

TEST(NestingScan, FollowsCharacterReferencesThatSwallowMarkup) {
    // TinyXML reads "&#" up to the next ';' and checks only the digits after the last '#'.
    // Found by the fuzzer: a scan that took the '<' after "&#" for markup was led into a quoted
    // value that TinyXML never saw, and missed the elements TinyXML did see (a stack overflow).
    const std::string swallowed = "<a>&#<b x='#;<c><c><c>'</c></c></c></a>";
    EXPECT_EQ(nestingBoundedLength(swallowed, 2), swallowed.find("<c>") + 3);
    const std::string hex = "<a x='&#x<y>x1F;'><b/></a>";
    EXPECT_EQ(nestingBoundedLength(hex, 1), hex.find("<b"));
    const std::string failing = "<a>ok &#12z;<b/></a>";  // a failing reference ends the parse
    EXPECT_EQ(nestingBoundedLength(failing, 5), failing.find('&') + 1);
    // TinyXML has added the space before it finds out; a cut at the '&' would lose it.
    EXPECT_EQ(parsedString("<string>ok &#12z;</string>"), "ok ");

    FunctionCall call;
    call.parse("<invoke name=\"x\"><arguments><string>&#1<b>#5;</string><true/></arguments></invoke>");
    EXPECT_EQ(call.argumentsToXml(), "<string>\x05</string><true/>");
    Param value;
    value.parseXml("<a>&#<b x='#;" + repeat("<c>", 100000) + "'");
    EXPECT_EQ(value.type(), Param::Null);
}

TEST(NestingScan, StopsJustAfterTheByteTinyXmlRejects) {
    const std::string stray = "<p id=\"a\".<x>";  // TinyXML looks one byte past the quote
    EXPECT_EQ(nestingBoundedLength(stray, 100), stray.find('.') + 1);
    const std::string badEnd = "<a></ a><c>";
    EXPECT_EQ(nestingBoundedLength(badEnd, 100), badEnd.find(' ') + 1);
    // Past 64 attributes on one element (TinyXML's duplicate check is quadratic) the text ends.
    const std::string many = "<a" + repeat(" k=''", 64) + " extra=''>";
    EXPECT_EQ(nestingBoundedLength(many, 100), many.find(" extra") + 2);
}

TEST(DeepNesting, RequestsOfAnyDepthAreReadSafely) {
    const int values = 2 * Param::kMaxDepth, levels = 100000;
    const std::string deep = "<invoke name=\"deep\"><arguments>" + repeat("<object><property id=\"a\">", values) +
                             repeat("<x>", levels) + repeat("</x>", levels) +
                             repeat("</property></object>", values) + "</arguments></invoke>";
    ASSERT_LE(deep.size(), FunctionCall::kMaxRequestBytes);
    FunctionCall call;
    call.parse(deep);
    EXPECT_EQ(call.name, "deep");
    ASSERT_EQ(call.arguments.size(), 1u);
    const Param* cursor = &call.arguments.front();
    int depth = 0;
    for (; cursor && cursor->type() == Param::Object; ++depth) cursor = cursor->getObject()->getProperty("a");
    EXPECT_EQ(depth, Param::kMaxDepth);
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(cursor->type(), Param::Null);

    for (const std::string piece : {"<array>", "<a>/>", "<a x='1'>", "<invoke name=\"x\">", "<\xEF\xBB\xBF" "b>"}) {
        Param value;
        value.parseXml(repeat(piece, levels));
        call.parse(repeat(piece, levels));
        EXPECT_TRUE(call.arguments.empty()) << piece;
    }
    Param array;  // as deep as fits in the size limit
    array.parseXml(repeat("<array><property id=\"0\">", 40000));
    EXPECT_EQ(array.type(), Param::Array);

    call.parse("<invoke name=\"x\"><arguments><string>ab\xF0");  // cut short at the very end
    EXPECT_EQ(call.argumentsToXml(), "<string>ab" + kFffd + "</string>");
}

}  // namespace
}  // namespace tunewick
