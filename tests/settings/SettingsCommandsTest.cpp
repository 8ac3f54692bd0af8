// "getSettings" and "setSetting" as a page sees them: values in, answers and the flat object out.
#include <gtest/gtest.h>

#include <sstream>

#include "bridge/FlashObject.h"
#include "commands/SettingsCommands.h"
#include "settings/SettingsStore.h"

namespace tunewick {
namespace {

Param number(double value) {
    Param p;
    p.setNumber(value);
    return p;
}

Param object() {
    Param p;
    p.setObject(std::make_unique<FlashObject>());
    return p;
}

TEST(SettingsCommands, SetSettingAnswersTrueOnlyForANamedValueOfTheRightKind) {
    struct Case {
        const char* what;
        std::vector<Param> arguments;
        std::string answer;
    };
    std::vector<Case> cases;
    cases.push_back({"a pitch in range", {Param("referencePitch"), number(445)}, "<true/>"});
    cases.push_back({"a pitch out of range", {Param("referencePitch"), number(467)}, "<false/>"});
    cases.push_back({"a pitch as text", {Param("referencePitch"), Param("445")}, "<false/>"});
    cases.push_back({"a tuning", {Param("tuning"), Param("openD")}, "<true/>"});
    cases.push_back({"a tuning as an object", {Param("tuning"), object()}, "<false/>"});
    cases.push_back({"a null value", {Param("tuning"), Param()}, "<false/>"});
    cases.push_back({"no value", {Param("tuning")}, "<false/>"});
    cases.push_back({"no arguments", {}, "<false/>"});
    cases.push_back({"a number as the name", {number(1), Param("auto")}, "<false/>"});
    cases.push_back({"an unknown name", {Param("colour"), Param("red")}, "<false/>"});
    cases.push_back({"a boolean for a text setting", {Param("tunerView"), Param(true)}, "<false/>"});
    cases.push_back({"extra arguments are ignored", {Param("tunerView"), Param("strobe"), number(1)}, "<true/>"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ostringstream log;
        SettingsStore store("", log);
        SetSettingCommand set(store);
        EXPECT_EQ(set.execute(c.arguments).toXml(), c.answer);
    }
}

TEST(SettingsCommands, GetSettingsAnswersAFlatObjectThatFollowsSetSetting) {
    std::ostringstream log;
    SettingsStore store("", log);
    GetSettingsCommand get(store);
    SetSettingCommand set(store);
    EXPECT_EQ(get.execute({}).toXml(),
              "<object><property id=\"chordList\"><string>Am, C, G, E</string></property>"
              "<property id=\"chordSet\"><string>openMajor</string></property>"
              "<property id=\"dailyGoal\"><number>15</number></property>"
              "<property id=\"drillBest\"><string>{}</string></property>"
              "<property id=\"drillTempo\"><number>60</number></property>"
              "<property id=\"hitWindow\"><number>50</number></property>"
              "<property id=\"lateWindow\"><number>150</number></property>"
              "<property id=\"latency\"><number>0</number></property>"
              "<property id=\"outputLatency\"><number>-1</number></property>"
              "<property id=\"referencePitch\"><number>440</number></property>"
              "<property id=\"tunerMode\"><string>auto</string></property>"
              "<property id=\"tunerView\"><string>needle</string></property>"
              "<property id=\"tuning\"><string>standard</string></property></object>");
    set.execute({Param("referencePitch"), number(432)});
    set.execute({Param("tuning"), Param("DADGAD")});
    const Param answer = get.execute({});
    ASSERT_EQ(answer.type(), Param::Object);
    EXPECT_EQ(answer.getObject()->getProperty("referencePitch")->getNumber(), 432);
    EXPECT_EQ(answer.getObject()->getProperty("tuning")->getString(), "DADGAD");
    EXPECT_EQ(answer.getObject()->size(), 13u);
}

}  // namespace
}  // namespace tunewick
