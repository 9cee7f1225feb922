// Every request parameter goes through one reader: names match whole and
// undecoded, values are decoded into the buffer and never cut.
#include <gtest/gtest.h>

#include <string>

#include "query.h"

namespace {

struct Lookup {
    const char *query;
    const char *name;
    size_t size;
    int found;
    const char *value;
};

TEST(Query, LookupTable)
{
    static const Lookup cases[] = {
        {"action=&path=x", "action", 64, 1, ""},
        {"action=&path=x", "path", 4096, 1, "x"},
        {"path=C%3A%5Cdata", "path", 4096, 1, "C:\\data"},
        {"path=a+b", "path", 4096, 1, "a b"},
        {"path=100%", "path", 4096, 1, "100%"},
        {"path=%zz%4", "path", 4096, 1, "%zz%4"},
        {"path=%2541", "path", 4096, 1, "%41"},
        {"path=%c3%A9", "path", 4096, 1, "\xc3\xa9"},
        {"xpath=1&path=2", "path", 4096, 1, "2"},
        {"path=1&path=2", "path", 4096, 1, "1"},
        {"p%61th=1", "path", 4096, 0, ""},
        {"path&path=3", "path", 4096, 1, "3"},
        {"path", "path", 4096, 0, ""},
        {"a=1&", "path", 4096, 0, ""},
        {"&&&", "path", 4096, 0, ""},
        {"", "path", 4096, 0, ""},
        {"pathx=1", "path", 4096, 0, ""},
        {"path=a%00b", "path", 4096, 3, "a"},
        {"path=%00", "path", 4096, 3, ""},
        {"pwd=%41%42", "pwd", 3, 1, "AB"},
        {"pwd=%41%42", "pwd", 2, 2, ""},
        {"pwd=%41%4", "pwd", 4, 1, "A%4"},
        {"pwd=%41%4", "pwd", 3, 2, ""},
        {"pwd=abc&x=1", "pwd", 4, 1, "abc"},
    };
    for (const auto &c : cases) {
        std::string out(c.size, '#');
        EXPECT_EQ(get_query_val(c.query, c.name, out.data(), c.size), c.found) << c.query;
        EXPECT_STREQ(out.c_str(), c.value) << c.query;
    }
}

// Every value of a repeated name in order, each with what its lookup found: "name=" values separated
// by "|", each after its QueryFound digit.
TEST(Query, EveryValueOfARepeatedName)
{
    static const struct {
        const char *query;
        const char *values;
    } cases[] = {
        {"", ""},
        {"path=x", ""},
        {"name=a", "1a"},
        {"name=a&name=b&name=a", "1a|1b|1a"},
        {"path=x&name=a&hidden=1&name=b%20c", "1a|1b c"},
        {"name=&name=", "1|1"},
        {"name=a%00b&name=c", "3a|1c"},
        {"name=%2E%2e&name=a%2Fb", "1..|1a/b"},
        {"xname=a&name&name=b&", "1b"},
        {"name=abcde&name=ab", "2|1ab"},
    };
    for (const auto &c : cases) {
        std::string got;
        char out[4];
        const char *at = c.query;
        for (int found; (found = query_next_val(&at, "name", out, sizeof out)) != QUERY_ABSENT;) {
            got.append(got.empty() ? "" : "|");
            got.append(1, (char)('0' + found)).append(out);
        }
        EXPECT_EQ(got, c.values) << c.query;
    }
}

TEST(Query, AbsentQueryFindsNothing)
{
    char out[8] = "junk";
    EXPECT_EQ(get_query_val(nullptr, "path", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
}

TEST(Query, LongValueIsReportedNotCut)
{
    std::string q = "action=" + std::string(70, 'a');
    char out[64];
    EXPECT_EQ(get_query_val(q.c_str(), "action", out, sizeof out), QUERY_TOO_LONG);
    EXPECT_STREQ(out, "");
    q = "action=" + std::string(63, 'a');
    EXPECT_EQ(get_query_val(q.c_str(), "action", out, sizeof out), QUERY_FOUND);
    EXPECT_EQ(std::string(out), std::string(63, 'a'));
}

TEST(Query, FlagsAreExactlyOneOrTrue)
{
    static const struct {
        const char *query;
        int on;
    } cases[] = {
        {"hidden=1", 1}, {"hidden=true", 1}, {"hidden=TRUE", 0}, {"hidden=yes", 0},
        {"hidden=", 0},  {"hidden=10", 0},   {"x=1", 0},         {"hidden=tru%65", 1},
        {"hidden=1%00xxxxxxxx", 0}, {"hidden=1%00", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(query_flag(c.query, "hidden"), c.on) << c.query;
}

} // namespace
