// The Windows path rules: drive letters, backslashes, case folding, shares,
// what becomes of the final path the file system reports, and enumeration.
// Shares and failing final-path queries do not occur under Wine, so their
// rules are checked here on the string functions.
#include <gtest/gtest.h>

#include <stdio.h>

#include <filesystem>
#include <set>
#include <string>

#include "path.h"

void fs_canon_from_final(const char *full, const char *final_path, unsigned long final_len, char *out);

namespace {

TEST(WinPaths, FinalPathLosesItsPrefixOrFallsBackToTheFullPath)
{
    static const struct {
        const char *final_path;
        unsigned long len; // as the system reported it
        const char *want;
    } cases[] = {
        {"\\\\?\\C:\\Data\\src", 15, "C:\\Data\\src"},
        {"\\\\?\\D:\\", 7, "D:\\"},
        {"\\\\?\\UNC\\srv\\share\\dir", 21, "\\\\srv\\share\\dir"},
        {"\\\\?\\UNC\\srv\\share\\", 18, "\\\\srv\\share\\"},
        {"C:\\plain", 8, "C:\\plain"},
        {"", 0, "c:\\full\\path"},            // the query failed
        {"\\\\?\\C:\\x", 4096, "c:\\full\\path"}, // too long for the buffer
    };
    for (const auto &c : cases) {
        char out[FS_PATH_MAX];
        fs_canon_from_final("c:\\full\\path", c.final_path, c.len, out);
        EXPECT_STREQ(out, c.want) << c.final_path << " (" << c.len << ")";
    }
}

TEST(WinPaths, ContainmentIgnoresCaseAndSeparatorsButNotNames)
{
    static const struct {
        const char *path;
        const char *root;
        int under;
    } cases[] = {
        {"C:\\Data", "c:/data/", 1},
        {"C:\\Data\\x", "C:\\DATA", 1},
        {"c:/data/x", "C:\\Data\\\\", 1},
        {"C:\\database", "C:\\data", 0},
        {"C:\\dat", "C:\\data", 0},
        {"D:\\data", "C:\\data", 0},
        {"C:\\anything\\below", "C:\\", 1},
        {"C:\\", "c:/", 1},
        {"D:\\x", "C:\\", 0},
        {"C:\\Caf\xc3\xa9", "C:\\caf\xc3\xa9", 1},
        {"C:\\Caf\xc3\x89", "C:\\caf\xc3\xa9", 0}, // only ASCII letters fold
        {"\\\\srv\\share\\dir", "\\\\SRV\\Share", 1},
        {"\\\\srv\\share\\dir", "\\\\srv\\share\\", 1},
        {"\\\\srv\\shared", "\\\\srv\\share", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(path_under(c.path, c.root), c.under) << c.path << " under " << c.root;
}

TEST(WinPaths, ParentStepsUpByBackslashesToTheDriveOrShare)
{
    static const struct {
        const char *dir;
        const char *root;
        const char *parent; // nullptr: none
    } cases[] = {
        {"C:\\data\\src\\lib", "C:\\data", "C:\\data\\src"},
        {"C:\\data\\src", "C:\\data", "C:\\data"},
        {"C:\\data", "C:\\data", nullptr},
        {"C:\\data", "C:\\", "C:\\"},
        {"C:\\", "C:\\", nullptr},
        {"\\\\srv\\share\\dir\\sub", "\\\\srv\\share\\", "\\\\srv\\share\\dir"},
        {"\\\\srv\\share\\dir", "\\\\srv\\share\\", "\\\\srv\\share\\"},
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

TEST(WinPaths, JoinAndNameUseEitherSeparator)
{
    char out[FS_PATH_MAX];
    fs_join(out, "C:\\a\\", "b");
    EXPECT_STREQ(out, "C:\\a\\b");
    fs_join(out, "C:/a/", "b");
    EXPECT_STREQ(out, "C:/a/b");
    fs_join(out, "C:\\a", "*");
    EXPECT_STREQ(out, "C:\\a\\*");
    EXPECT_STREQ(path_name("C:\\a/b\\c.txt"), "c.txt");
    EXPECT_STREQ(path_name("D:\\"), "D:\\");
}

TEST(WinPaths, CanonicalFormsAndStatuses)
{
    char out[FS_PATH_MAX];
    int status = 0;
    EXPECT_EQ(canon_path("c:/", out, &status), 1);
    EXPECT_STREQ(out, "C:\\");
    EXPECT_EQ(canon_path("", out, &status), 0);
    EXPECT_EQ(status, 400);
    EXPECT_EQ(canon_path("C:\\no\\such\\place", out, &status), 0);
    EXPECT_EQ(status, 404);
    std::string longer = "C:\\" + std::string(4100, 'x');
    EXPECT_EQ(canon_path(longer.c_str(), out, &status), 0);
    EXPECT_EQ(status, 400);
}

// The first entry arrives with the opening call; it must not be lost.
TEST(WinPaths, EnumerationReportsEveryEntry)
{
    namespace sfs = std::filesystem;
    sfs::path dir = sfs::temp_directory_path() / "pf-enum-test";
    sfs::remove_all(dir);
    sfs::create_directories(dir / "sub");
    FILE *f = fopen((dir / "f.txt").string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    std::set<std::string> names;
    struct FsDir d;
    struct FsEntry e;
    ASSERT_EQ(fs_dir_open(&d, dir.string().c_str()), 1);
    while (fs_dir_next(&d, &e))
        names.insert(std::string(e.name) + (e.is_dir ? "/" : ""));
    fs_dir_close(&d);
    sfs::remove_all(dir);
    EXPECT_EQ(names, (std::set<std::string>{"./", "../", "f.txt", "sub/"}));
}

} // namespace
