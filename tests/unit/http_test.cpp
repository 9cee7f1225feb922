// The request-header rules of file delivery: ranges, dates, entity tags and
// the conditions built from them, each a table of header values and what
// the rule makes of them.
#include <gtest/gtest.h>

#include "http.h"

namespace {

const long long T = 1709647629; /* Tue, 05 Mar 2024 14:07:09 GMT */
const long long NOW = T + 100;

HttpValidators thousand_bytes_at_t()
{
    HttpValidators v;
    http_validators(1000, T, 0, NOW, &v);
    return v;
}

TEST(HttpDate, ThreeFormsInExactlyOneFixedFormOut)
{
    const long long now = 1709647629; /* 2024 */
    static const struct {
        const char *text;
        long long t; /* -1: not a date */
    } cases[] = {
        {"Tue, 05 Mar 2024 14:07:09 GMT", 1709647629},
        {"Tuesday, 05-Mar-24 14:07:09 GMT", 1709647629},
        {"Tue Mar  5 14:07:09 2024", 1709647629},
        {"Wednesday, 01-Jan-70 00:00:00 GMT", 3155760000},
        {"Friday, 01-Jan-99 00:00:00 GMT", 915148800},
        {"Monday, 01-Jan-74 00:00:00 GMT", 3281990400},
        {"Wednesday, 01-Jan-75 00:00:00 GMT", 157766400},
        {"Thu, 29 Feb 2024 23:59:60 GMT", 1709251200},
        {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799},
        {"Thu, 29 Feb 2023 00:00:00 GMT", -1},
        {"Tue, 05 Mar 2024 24:00:00 GMT", -1},
        {"Tue, 5 Mar 2024 14:07:09 GMT", -1},
        {"tue, 05 Mar 2024 14:07:09 GMT", -1},
        {"Tue, 05 Mar 2024 14:07:09 GMT ", -1},
        {"Tue, 05 Mar 2024 14:07:09", -1},
        {"Tue Mar 5 14:07:09 2024", -1},
        {"", -1},
    };
    for (const auto &c : cases) {
        long long t = -1;
        EXPECT_EQ(http_parse_date(c.text, now, &t) ? t : -1, c.t) << c.text;
    }
    char out[HTTP_DATE_MAX];
    EXPECT_TRUE(http_date(0, out));
    EXPECT_STREQ(out, "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_TRUE(http_date(1709647629, out));
    EXPECT_STREQ(out, "Tue, 05 Mar 2024 14:07:09 GMT");
    EXPECT_FALSE(http_date(-1, out));
    EXPECT_FALSE(http_date(253402300800, out));
}

TEST(HttpValidators, StrongTagOfSizeAndTimeAndNoDateAhead)
{
    HttpValidators v;
    http_validators(1000, T, 123456789, NOW, &v);
    EXPECT_STREQ(v.etag, "\"3e8-65e7270d-75bcd15\"");
    EXPECT_STREQ(v.date, "Tue, 05 Mar 2024 14:07:09 GMT");
    EXPECT_EQ(v.modified, T);
    http_validators(1000, NOW + 3600, 0, NOW, &v);
    EXPECT_EQ(v.modified, NOW);
    EXPECT_STREQ(v.date, "Tue, 05 Mar 2024 14:08:49 GMT");
    http_validators(0, -5, 0, NOW, &v);
    EXPECT_STREQ(v.etag, "\"0-fffffffffffffffb-0\"");
    EXPECT_STREQ(v.date, "");
    http_validators_of(0, -5, 999999999, NOW, "t512", &v);
    EXPECT_STREQ(v.etag, "\"0-fffffffffffffffb-3b9ac9ff-t512\"");
}

TEST(HttpRange, OneRangeOfAThousandBytes)
{
    static const struct {
        const char *spec;
        long long size;
        int kind;
        long long first, len;
    } cases[] = {
        {nullptr, 1000, RANGE_WHOLE, 0, 1000},
        {"bytes=0-499", 1000, RANGE_PART, 0, 500},
        {"bytes=500-", 1000, RANGE_PART, 500, 500},
        {"bytes=-200", 1000, RANGE_PART, 800, 200},
        {"bytes=999-999", 1000, RANGE_PART, 999, 1},
        {"bytes=900-2000", 1000, RANGE_PART, 900, 100},
        {"bytes=-5000", 1000, RANGE_PART, 0, 1000},
        {"bytes=0-99999999999999999999", 1000, RANGE_PART, 0, 1000},
        {"BYTES = 0-9", 1000, RANGE_PART, 0, 10},
        {"bytes= 0 - 9 ", 1000, RANGE_PART, 0, 10},
        {"bytes=, 0-9 ,", 1000, RANGE_PART, 0, 10},
        {"bytes=1000-", 1000, RANGE_UNSATISFIABLE, 0, 1000},
        {"bytes=99999999999999999999-", 1000, RANGE_UNSATISFIABLE, 0, 1000},
        {"bytes=-0", 1000, RANGE_UNSATISFIABLE, 0, 1000},
        {"bytes=0-0", 0, RANGE_UNSATISFIABLE, 0, 0},
        {"bytes=-1", 0, RANGE_UNSATISFIABLE, 0, 0},
        {"bytes=0-1,5-6", 1000, RANGE_WHOLE, 0, 1000},
        {"bytes=5-3", 1000, RANGE_WHOLE, 0, 1000},
        {"items=0-1", 1000, RANGE_WHOLE, 0, 1000},
        {"bytes=abc", 1000, RANGE_WHOLE, 0, 1000},
        {"bytes=", 1000, RANGE_WHOLE, 0, 1000},
        {"bytes=1-2x", 1000, RANGE_WHOLE, 0, 1000},
        {"bytes 0-1", 1000, RANGE_WHOLE, 0, 1000},
    };
    for (const auto &c : cases) {
        HttpRange r = {-1, -1};
        EXPECT_EQ(http_range(c.spec, c.size, &r), c.kind) << (c.spec ? c.spec : "(none)");
        if (c.kind != RANGE_UNSATISFIABLE) {
            EXPECT_EQ(r.first, c.first) << c.spec;
            EXPECT_EQ(r.len, c.len) << c.spec;
        }
    }
}

// The three condition headers against a file of 1000 bytes changed at T.
TEST(HttpConditions, IfRangeIfMatchIfNoneMatchAndTheirDates)
{
    const HttpValidators v = thousand_bytes_at_t();
    const char *tag = "\"3e8-65e7270d-0\"";
    const char *weak = "W/\"3e8-65e7270d-0\"";
    const char *at_t = "Tue, 05 Mar 2024 14:07:09 GMT";
    const char *before = "Tue, 05 Mar 2024 14:07:08 GMT";
    const char *after = "Tue, 05 Mar 2024 14:07:10 GMT";
    static const char *const none = nullptr;
    const struct {
        const char *a, *b; /* If-Range alone; If-(None-)Match and its date */
        int if_range, failed, not_modified;
    } cases[] = {
        {none, none, 1, 0, 0},
        {tag, none, 1, 0, 1},
        {weak, none, 0, 1, 1},
        {"*", none, 0, 0, 1},
        {"\"other\"", none, 0, 1, 0},
        {"\"other\", \"3e8-65e7270d-0\"", none, 0, 0, 1},
        {"\"other\" garbage, \"3e8-65e7270d-0\"", none, 0, 1, 0},
        {at_t, none, 1, 1, 0},
        {after, none, 0, 1, 0},
        {"\"other\"", after, 0, 1, 0},
        {tag, before, 1, 0, 1},
    };
    for (const auto &c : cases) {
        const char *label = c.a ? c.a : "(none)";
        EXPECT_EQ(http_if_range(c.a, &v, NOW), c.if_range) << label;
        EXPECT_EQ(http_precondition_failed(c.a, c.b, &v, NOW), c.failed) << label;
        EXPECT_EQ(http_not_modified(c.a, c.b, &v, NOW), c.not_modified) << label;
    }
    const struct {
        const char *date;
        int unmodified_failed, not_modified;
    } dates[] = {
        {before, 1, 0},
        {at_t, 0, 1},
        {after, 0, 1},
        {"Sun, 06 Nov 1994", 0, 0},
    };
    for (const auto &d : dates) {
        EXPECT_EQ(http_precondition_failed(nullptr, d.date, &v, NOW), d.unmodified_failed) << d.date;
        EXPECT_EQ(http_not_modified(nullptr, d.date, &v, NOW), d.not_modified) << d.date;
    }
}

} // namespace
