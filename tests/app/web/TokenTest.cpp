// The session token: its form, its freshness, and the comparison that checks it.
#include "app/web/Token.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tunewick::test {
namespace {

TEST(SessionToken, IsThirtyTwoHexCharactersAndNewEachTime) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string token = makeToken();
        ASSERT_EQ(token.size(), 32u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_TRUE(tokensEqual("0123abcd", "0123abcd"));
    EXPECT_FALSE(tokensEqual("0123abcd", "0123abce"));
    EXPECT_FALSE(tokensEqual("0123abcd", "0123abc"));
    EXPECT_FALSE(tokensEqual("", "0"));
}

}  // namespace
}  // namespace tunewick::test
