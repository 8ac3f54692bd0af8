#include "bridge/Param.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bridge/FlashObject.h"
#include "bridge/FunctionCall.h"

namespace tunewick {
namespace {

Param read(const std::string& xml) {
    Param value;
    value.parseXml(xml);
    return value;
}

Param number(double d) {
    Param value;
    value.setNumber(d);
    return value;
}

Param object(std::initializer_list<std::pair<const char*, Param>> properties, bool array = false) {
    auto map = std::make_unique<FlashObject>();
    for (const auto& [key, value] : properties) map->setProperty(key, std::make_unique<Param>(value));
    Param result;
    array ? result.setArray(std::move(map)) : result.setObject(std::move(map));
    return result;
}

// Each text is read, then written again: the written form shows what was read.
TEST(ParamReading, ReadsEveryKindAsTheParserDeliversIt) {
    const std::pair<std::string, std::string> cases[] = {
        // kind names without regard to case; anything else is null
        {"<TRUE/>", "<true/>"}, {"<fAlSe/>", "<false/>"}, {"<Object></Object>", "<object></object>"},
        {"<ARRAY/>", "<array></array>"}, {"<NUMBER>3</NUMBER>", "<number>3</number>"},
        {"<null/>", "<null/>"}, {"<foo/>", "<null/>"}, {"<numbers>3</numbers>", "<null/>"},
        // numbers through strtod; no content gives 0
        {"<number>12abc</number>", "<number>12</number>"}, {"<number>abc</number>", "<number>0</number>"},
        {"<number> 2.5e3</number>", "<number>2500</number>"}, {"<number>0x10</number>", "<number>16</number>"},
        {"<number/>", "<number>0</number>"}, {"<number>  </number>", "<number>0</number>"},
        // strings condensed and decoded by the parser; no content gives ""
        {"<String>  a \n\t  b  </String>", "<string>a b</string>"},
        {"<string>&lt;b&gt; &amp; &quot;q&quot; &apos;</string>", "<string><b> & \"q\" '</string>"},
        {"<string><![CDATA[a  <b>]]></string>", "<string>a  <b></string>"},
        {"<string/>", "<string></string>"}, {"<string><b>first child</b></string>", "<string>b</string>"},
        // UTF-8 byte for byte; ill-formed sequences become U+FFFD
        {"<string>é ñ 中文 🎸</string>", "<string>é ñ 中文 🎸</string>"},
        {"<string>&#233;&#x4E2D;&#x1F3B8;</string>", "<string>é中🎸</string>"},
        {"<string>a\xC3(b</string>", "<string>a\xEF\xBF\xBD(b</string>"},
        // properties: exact tag, id or empty key, last duplicate wins, no child gives null
        {"<object><Property id=\"a\"><true/></Property></object>", "<object></object>"},
        {"<object><property><true/></property></object>", "<object><property id=\"\"><true/></property></object>"},
        {"<object><property id=\"k\"><true/></property><property id=\"k\"><false/></property></object>",
         "<object><property id=\"k\"><false/></property></object>"},
        {"<object>text<property id=\"a\"/><!-- c --><property id=\"鍵\"><false/></property>tail</object>",
         "<object><property id=\"a\"><null/></property><property id=\"鍵\"><false/></property></object>"},
        {"<array><property id=\"7\"><number>1</number></property></array>",
         "<array><property id=\"7\"><number>1</number></property></array>"},
        // whole texts: the first element decides; what was built before an error is kept
        {"", "<null/>"}, {"no markup", "<null/>"},
        {"<?xml version=\"1.0\"?><!-- reply --><number>5</number><true/>", "<number>5</number>"},
        {"<object><property id=\"a\"><true/></property><property id=\"b\"><number>1",
         "<object><property id=\"a\"><true/></property><property id=\"b\"><number>1</number></property></object>"},
        {std::string(FunctionCall::kMaxRequestBytes + 1, ' ') + "<true/>", "<null/>"},  // longer than a request may be
    };
    for (const auto& [xml, written] : cases) EXPECT_EQ(read(xml).toXml(), written) << xml.substr(0, 80);
}

TEST(ParamWriting, WritesTheFixedFormsUnescaped) {
    EXPECT_EQ(Param(true).toXml(), "<true/>");
    EXPECT_EQ(number(16).toXml(), "<number>16</number>");
    EXPECT_EQ(number(0.1).toXml(), "<number>0.1</number>");
    EXPECT_EQ(number(1234567).toXml(), "<number>1.23457e+06</number>");
    EXPECT_EQ(number(123456).toXml(), "<number>123456</number>");
    EXPECT_EQ(number(0.00001).toXml(), "<number>1e-05</number>");
    EXPECT_EQ(Param(std::string("a<b & \"c\"")).toXml(), "<string>a<b & \"c\"</string>");
    EXPECT_EQ(Param("literal").toXml(), "<string>literal</string>");  // not the boolean true
    EXPECT_EQ(object({{"canGoBack", Param(true)}, {"canGoForward", Param(false)}}).toXml(),
              "<object><property id=\"canGoBack\"><true/></property>"
              "<property id=\"canGoForward\"><false/></property></object>");
    EXPECT_EQ(object({{"a\"b", Param()}}, true).toXml(), "<array><property id=\"a\"b\"><null/></property></array>");
}

TEST(ParamWriting, ReadingWhatWasWrittenGivesTheSameValue) {
    const Param original = object({{"0", number(1234567)}, {"1", Param("plain text é")}, {"2", Param()},
                                   {"3", object({{"inner", number(-0.5)}, {"list", object({}, true)}})}},
                                  true);
    const Param copy = read(original.toXml());
    ASSERT_EQ(copy.type(), Param::Array);
    const FlashObject& map = *copy.getObject();
    ASSERT_EQ(map.size(), 4u);
    EXPECT_EQ(map.getProperty("0")->getNumber(), 1234570.0);  // six significant digits
    EXPECT_EQ(map.getProperty("1")->getString(), "plain text é");
    EXPECT_EQ(map.getProperty("2")->type(), Param::Null);
    EXPECT_EQ(map.getProperty("3")->getObject()->getProperty("inner")->getNumber(), -0.5);
    EXPECT_EQ(map.getProperty("3")->getObject()->getProperty("list")->type(), Param::Array);
}

TEST(ParamDepth, ValuesInsideTheLimitOfMapsAreNullBothWays) {
    const auto nested = [](int levels) {
        std::string xml;
        for (int i = 0; i < levels; ++i) xml += "<object><property id=\"in\">";
        xml += "<true/>";
        for (int i = 0; i < levels; ++i) xml += "</property></object>";
        return xml;
    };
    const std::string fits = nested(Param::kMaxDepth - 1);
    EXPECT_EQ(read(fits).toXml(), fits);
    const std::string tooDeep = read(nested(Param::kMaxDepth)).toXml();
    EXPECT_EQ(tooDeep.find("<true/>"), std::string::npos);
    EXPECT_NE(tooDeep.find("<null/>"), std::string::npos);

    Param built(true);  // a value built deeper than it can be read is written no deeper either
    for (int i = 0; i < Param::kMaxDepth + 10; ++i) built = object({{"in", built}});
    EXPECT_EQ(built.toXml(), read(nested(Param::kMaxDepth + 10)).toXml());
}

TEST(ParamOwnership, CopiesAreDeepAndMovesLeaveNull) {
    Param original = object({{"a", number(1)}});
    Param copy = original;
    copy.getObject()->setProperty("a", std::make_unique<Param>("changed"));
    copy.getObject()->setProperty("b", nullptr);
    EXPECT_EQ(original.toXml(), "<object><property id=\"a\"><number>1</number></property></object>");
    EXPECT_EQ(copy.getObject()->getProperty("b")->type(), Param::Null);

    Param moved = std::move(copy);
    EXPECT_EQ(moved.type(), Param::Object);
    EXPECT_EQ(copy.toXml(), "<null/>");  // NOLINT(bugprone-use-after-move): the promise under test

    moved.setNumber(2);  // a setter replaces the payload with the type
    EXPECT_EQ(moved.getObject(), nullptr);
    EXPECT_EQ(moved.getString(), "");
    EXPECT_EQ(moved.getNumber(), 2.0);
}

}  // namespace
}  // namespace tunewick
