// Rules easier to pin down in-process: the listing order, the time text, the
// content types and the password comparison.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "actions.h"
#include "gate.h"
#include "http.h"
#include "out.h"
#include "timefmt.h"

namespace {

DirEntry entry(const char *name, int is_dir)
{
    static char pool[16][ENT_SLOT_MAX];
    static size_t used;
    DirEntry e = {};
    ent_keep_name(&e, pool[used++ % 16], name);
    e.is_dir = is_dir;
    return e;
}

TEST(Listing, DirectoriesFirstThenNamesIgnoringCase)
{
    // Names alike in their first 16 bytes, and a name that only goes on, test
    // the sort beyond the part it compares as numbers.
    DirEntry t[] = {entry("cherry", 0), entry("zeta", 1), entry("Banana", 0),
                    entry("apple", 0),  entry("Alpha", 1), entry("_x", 0),
                    entry("[y", 0), entry("same-prefix-16ch-B", 0), entry("banana split", 0),
                    entry("same-prefix-16ch-a", 0), entry("SAME-PREFIX-16CH-a", 0)};
    const int n = sizeof t / sizeof t[0];
    SortKey room[2 * n];
    const SortKey *order = ent_sort(t, n, room);
    const char *want[] = {"Alpha", "zeta", "[y", "_x", "apple", "Banana", "banana split", "cherry",
                          "SAME-PREFIX-16CH-a", "same-prefix-16ch-a", "same-prefix-16ch-B"};
    for (int i = 0; i < n; i++)
        EXPECT_STREQ(t[order[i].index].name, want[i]) << i;
}

TEST(Listing, CaseTwinsHaveOneOrder)
{
    DirEntry a = entry("readme", 0), b = entry("README", 0), c = entry("Readme", 0);
    EXPECT_GT(ent_order(&a, &b), 0);
    EXPECT_LT(ent_order(&b, &c), 0);
    EXPECT_EQ(ent_order(&a, &a), 0);
    DirEntry shortname = entry("ab", 0), longname = entry("abc", 0);
    EXPECT_LT(ent_order(&shortname, &longname), 0);
}

TEST(TimeText, UtcOverTheWholeValidRange)
{
    static const struct {
        long long t;
        const char *text;
    } cases[] = {
        {-1, ""},
        {0, ""},
        {1, "1970-01-01T00:00:01Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {1709647629, "2024-03-05T14:07:09Z"},
        {4107542400, "2100-03-01T00:00:00Z"},
        {253402300799, "9999-12-31T23:59:59Z"},
        {253402300800, ""},
    };
    char out[TIME_TEXT_MAX];
    for (const auto &c : cases) {
        time_text(c.t, out);
        EXPECT_STREQ(out, c.text) << c.t;
    }
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

TEST(RawTypes, ExtensionTableAndHtmRule)
{
    static const struct {
        const char *name;
        const char *type;
    } cases[] = {
        {"photo.PNG", "image/png"},
        {"a.Jpeg", "image/jpeg"},
        {"drawing.svg", "text/plain; charset=utf-8"},
        {"report.pdf", "application/pdf"},
        {"page.html", "text/plain; charset=utf-8"},
        {"x.xhtml", "text/plain; charset=utf-8"},
        {"PAGE.HTML", "application/octet-stream"},
        {"README", "application/octet-stream"},
        {"notes.", "application/octet-stream"},
        {"archive.tar.gz", "application/octet-stream"},
        {".bashrc", "application/octet-stream"},
        {"main.c", "text/plain; charset=utf-8"},
        {"x.cc", "application/octet-stream"},
        {"icon.ico", "image/x-icon"},
        {"clip.WebM", "video/webm"},
        {"song.opus", "audio/ogg"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(mime_type(c.name), c.type) << c.name;
}

TEST(Password, ExactBytesOnly)
{
    EXPECT_TRUE(pwd_equal("s3cret", "s3cret"));
    EXPECT_FALSE(pwd_equal("S3cret", "s3cret"));
    EXPECT_FALSE(pwd_equal("s3cret ", "s3cret"));
    EXPECT_FALSE(pwd_equal("s3cre", "s3cret"));
    EXPECT_FALSE(pwd_equal("", "s3cret"));
    EXPECT_FALSE(pwd_equal("s3crets3cret", "s3cret"));
}

} // namespace
