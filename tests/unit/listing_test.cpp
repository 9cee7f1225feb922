// Rules easier to pin down in-process: the listing order, the time text, the
// file kinds and the password comparison.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "gate.h"
#include "kinds.h"
#include "listing.h"
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

TEST(FileKinds, ExtensionTableAndHtmRule)
{
    static const struct {
        const char *name;
        const char *type;
        int shown_inline;
    } cases[] = {
        {"photo.PNG", "image/png", 1},
        {"a.Jpeg", "image/jpeg", 1},
        {"pic.avif", "image/avif", 1},
        {"drawing.svg", "text/plain; charset=utf-8", 0},
        {"report.pdf", "application/pdf", 0},
        {"page.html", "text/plain; charset=utf-8", 0},
        {"x.xhtml", "text/plain; charset=utf-8", 0},
        {"PAGE.HTML", "application/octet-stream", 0},
        {"README", "application/octet-stream", 0},
        {"notes.", "application/octet-stream", 0},
        {"archive.tar.gz", "application/octet-stream", 0},
        {".bashrc", "application/octet-stream", 0},
        {"main.c", "text/plain; charset=utf-8", 0},
        {"x.cc", "application/octet-stream", 0},
        {"app.js", "application/octet-stream", 0},
        {"icon.ico", "image/x-icon", 1},
        {"clip.WebM", "video/webm", 1},
        {"song.opus", "audio/ogg", 1},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(kind_type(c.name), c.type) << c.name;
        EXPECT_EQ(kind_inline(c.name), c.shown_inline) << c.name;
    }
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
