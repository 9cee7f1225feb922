// The EXIF reader: the orientation and the embedded picture of JPEG heads
// built here, in both byte orders, whole and cut, sound and broken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exif.h"

namespace {

/* One directory entry: tag, type, count and a value that fits its field. */
struct Entry {
    unsigned tag, type;
    unsigned long count, value;
};

void put16(std::string *s, unsigned v, bool big)
{
    *s += big ? (char)(v >> 8) : (char)v;
    *s += big ? (char)v : (char)(v >> 8);
}

void put32(std::string *s, unsigned long v, bool big)
{
    put16(s, big ? (unsigned)(v >> 16) : (unsigned)(v & 0xffff), big);
    put16(s, big ? (unsigned)(v & 0xffff) : (unsigned)(v >> 16), big);
}

void directory(std::string *s, const std::vector<Entry> &entries, unsigned long next, bool big)
{
    put16(s, (unsigned)entries.size(), big);
    for (const Entry &e : entries) {
        put16(s, e.tag, big);
        put16(s, e.type, big);
        put32(s, e.count, big);
        if (e.type == 3) {
            put16(s, (unsigned)e.value, big);
            put16(s, 0, big);
        } else {
            put32(s, e.value, big);
        }
    }
    put32(s, next, big);
}

/* A TIFF block: a first directory, then (when `second` is not empty) a
 * second one, then `tail`. */
std::string tiff(const std::vector<Entry> &first, const std::vector<Entry> &second, const std::string &tail, bool big)
{
    std::string s = big ? std::string("MM\0*", 4) : std::string("II*\0", 4);
    put32(&s, 8, big);
    unsigned long second_at = 8 + 6 + 12 * first.size();
    directory(&s, first, second.empty() ? 0 : second_at, big);
    if (!second.empty())
        directory(&s, second, 0, big);
    return s + tail;
}

std::string segment(unsigned char marker, const std::string &body)
{
    std::string s = {(char)0xff, (char)marker};
    s += (char)((body.size() + 2) >> 8);
    s += (char)(body.size() + 2);
    return s + body;
}

const std::string SOI = {(char)0xff, (char)0xd8};
const std::string JFIF = segment(0xe0, std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
const std::string SOS = segment(0xda, std::string(10, '\0'));

std::string exif(const std::string &t)
{
    return segment(0xe1, std::string("Exif\0\0", 6) + t);
}

ExifInfo read(const std::string &bytes)
{
    ExifInfo info = {-1, -1, -1};
    exif_read((const unsigned char *)bytes.data(), bytes.size(), &info);
    return info;
}

TEST(Exif, OrientationInEitherByteOrder)
{
    static const struct {
        unsigned type;
        unsigned long count, value;
        int want;
    } cases[] = {
        {3, 1, 1, 1}, {3, 1, 2, 2}, {3, 1, 3, 3}, {3, 1, 4, 4}, {3, 1, 5, 5}, {3, 1, 6, 6}, {3, 1, 7, 7},
        {3, 1, 8, 8}, {4, 1, 6, 6},
        /* out of range, or not one value of a number type: as stored */
        {3, 1, 0, 1}, {3, 1, 9, 1}, {3, 1, 65535, 1}, {3, 2, 6, 1}, {2, 1, 6, 1}, {4, 1, 0x10006, 1},
    };
    for (bool big : {false, true})
        for (const auto &c : cases) {
            std::string t = tiff({{0x0100, 4, 1, 640}, {0x0112, c.type, c.count, c.value}}, {}, "", big);
            ExifInfo info = read(SOI + JFIF + exif(t) + SOS);
            EXPECT_EQ(info.orientation, c.want) << c.type << " " << c.count << " " << c.value << (big ? " MM" : " II");
            EXPECT_EQ(info.thumb_offset, 0);
            EXPECT_EQ(info.thumb_length, 0);
        }
}

TEST(Exif, EmbeddedPictureOnlyWhollyInsideTheBlockAndTheBytes)
{
    const std::string picture = "\xff\xd8\xff small picture";
    const long long n = (long long)picture.size();
    /* the TIFF block starts after SOI, JFIF and the APP1 head (10 bytes) */
    const long long tiff_at = (long long)(SOI.size() + JFIF.size()) + 10;
    const unsigned long data_at = 8 + 6 + 12 + 6 + 24;
    const unsigned long len = (unsigned long)n;
    const struct {
        unsigned long offset, length;
        size_t cut; /* bytes left off the end of the head */
        long long want_offset, want_length;
    } cases[] = {
        {data_at, len, 0, tiff_at + (long long)data_at, n},
        {data_at, len - 1, 0, tiff_at + (long long)data_at, n - 1},
        {data_at, len + 1, 0, 0, 0},             /* past the block */
        {data_at + 1000, 1, 0, 0, 0},            /* far past it */
        {0xffffffff, 2, 0, 0, 0},                /* an offset that wraps */
        {data_at, 0, 0, 0, 0},                   /* nothing */
        {data_at, len, SOS.size() + 1, 0, 0},    /* the head ends inside it */
    };
    for (const auto &c : cases) {
        std::string t = tiff({{0x0112, 3, 1, 6}}, {{0x0201, 4, 1, c.offset}, {0x0202, 4, 1, c.length}}, picture, false);
        std::string bytes = SOI + JFIF + exif(t) + SOS;
        ExifInfo info = read(bytes.substr(0, bytes.size() - c.cut));
        EXPECT_EQ(info.orientation, 6) << c.offset << "+" << c.length;
        EXPECT_EQ(info.thumb_offset, c.want_offset) << c.offset << "+" << c.length;
        EXPECT_EQ(info.thumb_length, c.want_length) << c.offset << "+" << c.length;
    }
}

TEST(Exif, AnythingElseReadsAsNoExif)
{
    const std::string six = tiff({{0x0112, 3, 1, 6}}, {}, "", false);
    const std::string app1 = exif(six);
    static const char fill[] = "\xff\xff\xff";
    const std::string cases[] = {
        "",
        SOI,
        "not a jpeg at all",
        SOI + JFIF + SOS + app1,                                  /* after the picture data starts */
        SOI + JFIF + segment(0xe1, std::string("Exif\0\0", 6)) + SOS, /* no TIFF block in it */
        SOI + segment(0xe1, std::string("Exof\0\0", 6) + six),    /* another kind of APP1 */
        SOI + exif("II*\0" + std::string(4, '\xff')),            /* first directory out of range */
        SOI + exif("XX*\0" + six.substr(4)),                      /* no byte order */
        SOI + exif(six).substr(0, 4 + 6 + 8 + 1),                 /* cut inside the directory */
        SOI + std::string("\xff\x01\x00\x00", 4) + app1,          /* a segment too short to be one */
    };
    for (const std::string &bytes : cases) {
        ExifInfo info = read(bytes);
        EXPECT_EQ(info.orientation, 1) << testing::PrintToString(bytes);
        EXPECT_EQ(info.thumb_offset, 0);
        EXPECT_EQ(info.thumb_length, 0);
    }
    /* Fill bytes before a marker are passed over. */
    EXPECT_EQ(read(SOI + std::string(fill) + JFIF + app1).orientation, 6);
}

} // namespace
