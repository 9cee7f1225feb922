// The path rules that keep every answer under a root, on POSIX spelling.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "path.h"

namespace {

#ifndef _WIN32

TEST(PathPolicy, ContainmentIsByteExactAndWholeNamed)
{
    static const struct {
        const char *path;
        const char *root;
        int under;
    } cases[] = {
        {"/data", "/data", 1},
        {"/data/x", "/data", 1},
        {"/data/x", "/data/", 1},
        {"/data/x", "/data//", 1},
        {"/database", "/data", 0},
        {"/Data/x", "/data", 0},
        {"/dat", "/data", 0},
        {"/", "/data", 0},
        {"/anything/at/all", "/", 1},
        {"/", "/", 1},
        {"relative", "/", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(path_under(c.path, c.root), c.under) << c.path << " under " << c.root;
}

TEST(PathPolicy, ParentStepsUpToTheRootPrefix)
{
    static const struct {
        const char *dir;
        const char *root;
        const char *parent; // nullptr: none
    } cases[] = {
        {"/data/src/lib", "/data", "/data/src"},
        {"/data/src", "/data", "/data"},
        {"/data", "/data", nullptr},
        {"/data", nullptr, nullptr},
        {"/data", "/", "/"},
        {"/", "/", nullptr},
        {"/data/src/", "/data", "/data"},
        {"/a\\b/c", "/", "/a\\b"},
    };
    for (const auto &c : cases) {
        char out[FS_PATH_MAX] = "";
        int has = path_parent(c.dir, c.root, out);
        EXPECT_EQ(has, c.parent != nullptr) << c.dir;
        if (c.parent) {
            EXPECT_STREQ(out, c.parent) << c.dir;
        }
    }
}

TEST(PathPolicy, JoinAddsOneSeparator)
{
    char out[FS_PATH_MAX];
    EXPECT_EQ(fs_join(out, "/a/", "b"), 1);
    EXPECT_STREQ(out, "/a/b");
    EXPECT_EQ(fs_join(out, "/a", "b"), 1);
    EXPECT_STREQ(out, "/a/b");
    EXPECT_EQ(fs_join(out, "", "b"), 1);
    EXPECT_STREQ(out, "b");
}

TEST(PathPolicy, JoinThatWouldNotFitLeavesTheNameOff)
{
    char out[FS_PATH_MAX];
    std::string dir = "/" + std::string(4090, 'd');
    EXPECT_EQ(fs_join(out, dir.c_str(), "abc"), 1);
    EXPECT_EQ(strlen(out), 4095u);
    EXPECT_EQ(fs_join(out, dir.c_str(), "abcd"), 0);
    EXPECT_EQ(std::string(out), dir + "/");
}

TEST(PathPolicy, NameIsTheLastComponent)
{
    EXPECT_STREQ(path_name("/projects/web"), "web");
    EXPECT_STREQ(path_name("/"), "/");
    EXPECT_STREQ(path_name("/a/b\\c"), "b\\c");
    EXPECT_STREQ(path_name("plain"), "plain");
}

TEST(PathPolicy, CanonicalFormsAndStatuses)
{
    char out[FS_PATH_MAX];
    int status = 0;
    EXPECT_EQ(canon_path("/usr/./bin/../lib", out, &status), 1);
    EXPECT_STREQ(out, "/usr/lib");
    EXPECT_EQ(canon_path("", out, &status), 0);
    EXPECT_EQ(status, 400);
    EXPECT_EQ(canon_path("/no/such/place", out, &status), 0);
    EXPECT_EQ(status, 404);
    std::string longer = "/" + std::string(4100, 'x');
    EXPECT_EQ(canon_path(longer.c_str(), out, &status), 0);
    EXPECT_EQ(status, 400);
}

#endif

} // namespace
