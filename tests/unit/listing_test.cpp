// Rules easier to pin down in-process: the listing order, the time text, the
// file kinds, the password comparison and the hosts a node without one answers.
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
        {"report.pdf", "application/pdf", 1},
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

TEST(Gate, HostsAPageElsewhereCannotTakeOver)
{
    static const struct {
        const char *host;
        const char *allowed;
        int admitted;
    } cases[] = {
        {NULL, NULL, 1},
        {"", NULL, 1},
        {"127.0.0.1", NULL, 1},
        {"127.0.0.1:8080", NULL, 1},
        {"192.168.1.20:", NULL, 1},
        {"0.0.0.0", NULL, 1},
        {"255.255.255.255", NULL, 1},
        {"256.1.1.1", NULL, 0},
        {"1.2.3", NULL, 0},
        {"1.2.3.4.5", NULL, 0},
        {"1.2.3.4.evil.example", NULL, 0},
        {"0127.0.0.1", NULL, 0},
        {"[::1]", NULL, 1},
        {"[::1]:8080", NULL, 1},
        {"[fe80::1:AbCd]", NULL, 1},
        {"[::ffff:127.0.0.1]:80", NULL, 1},
        {"[::1]x", NULL, 0},
        {"[::1", NULL, 0},
        {"[]", NULL, 0},
        {"[localhost]", NULL, 0},
        {"::1", NULL, 0},
        {"localhost", NULL, 1},
        {"LocalHost:80", NULL, 1},
        {"localhost.", NULL, 0},
        {"localhost.evil.example", NULL, 0},
        {"127.0.0.1:80x", NULL, 0},
        {"evil.example", NULL, 0},
        {"evil.example", "", 0},
        {"files.example.org", "files.example.org", 1},
        {"Files.Example.Org:8443", "hub.example.org, files.example.org", 1},
        {"hub.example.org", " hub.example.org ,files.example.org", 1},
        {"example.org", "files.example.org", 0},
        {"files.example.org.evil", "files.example.org", 0},
        {"files.example.org", "files.example.org:80", 0},
        {"a", ",,a,", 1},
        {":80", "", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(gate_host_allowed(c.host, c.allowed), c.admitted) << (c.host ? c.host : "(none)");
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
