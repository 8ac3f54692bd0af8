// Reading the query of a request target.
#include "app/web/RequestPolicy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tunewick::test {
namespace {

TEST(RequestPolicy, FindsQueryParameters) {
    EXPECT_EQ(queryValue("/bridge?token=abc", "token"), "abc");
    EXPECT_EQ(queryValue("/bridge?x=1&token=abc&token=def", "token"), "abc");
    EXPECT_EQ(queryValue("/bridge?token=abc#frag", "token"), "abc");
    EXPECT_EQ(queryValue("/bridge?token", "token"), "");
    EXPECT_EQ(queryValue("/bridge?xtoken=abc", "token"), std::nullopt);
    EXPECT_EQ(queryValue("/bridge", "token"), std::nullopt);
    EXPECT_EQ(targetPath("/bridge?token=abc"), "/bridge");
}

}  // namespace
}  // namespace tunewick::test
