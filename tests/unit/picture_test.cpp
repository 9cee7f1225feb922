// The picture work every platform shares: formats by their first bytes, the
// thumbnail's size, the box filter over rows in any order, and the eight
// EXIF orientations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture.h"

namespace {

TEST(Picture, FormatFromTheFirstBytesOnly)
{
    static const struct {
        std::string bytes;
        PicFormat want;
    } cases[] = {
        {std::string("\xff\xd8\xff\xe0", 4), PIC_JPEG},
        {std::string("\xff\xd8", 2), PIC_NONE},
        {std::string("\x89PNG\r\n\x1a\n", 8), PIC_PNG},
        {std::string("\x89PNG\r\n\x1a", 7), PIC_NONE},
        {"GIF87a", PIC_GIF},
        {"GIF89a", PIC_GIF},
        {"GIF90a", PIC_NONE},
        {std::string("RIFF\0\0\0\0WEBP", 12), PIC_WEBP},
        {std::string("RIFF\0\0\0\0WAVE", 12), PIC_NONE},
        {std::string("BM\0\0\0\0\0\0\0\0\0\0\0\0\x28\0\0\0", 18), PIC_BMP},
        {std::string("BM\0\0\0\0\0\0\0\0\0\0\0\0\x7c\0\0\0", 18), PIC_BMP},
        {std::string("BM\0\0\0\0\0\0\0\0\0\0\0\0\x0c\0\0\0", 18), PIC_BMP},
        {std::string("BM\0\0\0\0\0\0\0\0\0\0\0\0\x29\0\0\0", 18), PIC_NONE},
        {"BMW and others\n...", PIC_NONE},
        {"", PIC_NONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pic_format((const unsigned char *)c.bytes.data(), c.bytes.size()), c.want)
            << testing::PrintToString(c.bytes);
}

std::string bytes(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v)
        s += (char)b;
    return s;
}

TEST(Picture, HeaderSizesWithoutDecoding)
{
    const std::string png = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    const std::string gif = bytes({'G', 'I', 'F', '8', '9', 'a', 0x2c, 0x01, 0xc8, 0x00, 0x80, 0, 0}) + std::string(6, '\0');
    const std::string frame = bytes({0x2c, 10, 0, 20, 0, 0x2c, 0x01, 0xc8, 0x00, 0});
    const std::string gce = bytes({0x21, 0xf9, 4, 1, 0, 0, 7, 0});
    const std::string bmp = std::string("BM", 2) + std::string(12, '\0');
    const std::string riff = std::string("RIFF\0\0\0\0WEBP", 12);
    const std::string sof = bytes({0xff, 0xc0, 0, 17, 8, 0x00, 0xc8, 0x01, 0x2c});
    static const struct {
        PicFormat format;
        std::string head;
        long long w, h, x, y, fw, fh; /* all 0: no header */
    } cases[] = {
        {PIC_PNG, png + bytes({0, 0, 1, 0x2c, 0, 0, 0, 0xc8}), 300, 200, 0, 0, 300, 200},
        {PIC_PNG, png + bytes({0x80, 0, 0, 0, 0x80, 0, 0, 0}), 2147483648, 2147483648, 0, 0, 2147483648, 2147483648},
        {PIC_PNG, png + bytes({0, 0, 0, 0, 0, 0, 0, 0xc8}), 0, 0, 0, 0, 0, 0},
        {PIC_PNG, png + bytes({0, 0, 1, 0x2c, 0, 0, 0}), 0, 0, 0, 0, 0, 0},
        /* a global colour table of 2 entries, an extension, then the frame */
        {PIC_GIF, gif + gce + bytes({0x2c, 0, 0, 0, 0, 0x2c, 0x01, 0xc8, 0x00, 0}), 300, 200, 0, 0, 300, 200},
        {PIC_GIF, gif + frame, 310, 220, 10, 20, 300, 200},
        {PIC_GIF, gif + bytes({0x21, 0xfe, 3, 'a', 'b', 'c', 2, 'd', 'e', 0}) + frame, 310, 220, 10, 20, 300, 200},
        {PIC_GIF, gif + bytes({0x3b}), 0, 0, 0, 0, 0, 0},
        {PIC_GIF, gif + frame.substr(0, 8), 0, 0, 0, 0, 0, 0},
        {PIC_GIF, gif + bytes({0x2c, 0, 0, 0, 0, 0, 0, 0xc8, 0x00, 0}), 0, 0, 0, 0, 0, 0},
        {PIC_BMP, bmp + bytes({40, 0, 0, 0, 0x2c, 1, 0, 0, 0xc8, 0, 0, 0}), 300, 200, 0, 0, 300, 200},
        {PIC_BMP, bmp + bytes({124, 0, 0, 0, 0x2c, 1, 0, 0, 0x38, 0xff, 0xff, 0xff}), 300, 200, 0, 0, 300, 200},
        {PIC_BMP, bmp + bytes({12, 0, 0, 0, 0x2c, 1, 0xc8, 0}), 300, 200, 0, 0, 300, 200},
        {PIC_BMP, bmp + bytes({40, 0, 0, 0, 0xd4, 0xfe, 0xff, 0xff, 0xc8, 0, 0, 0}), 0, 0, 0, 0, 0, 0},
        {PIC_BMP, bmp + bytes({40, 0, 0, 0, 0x2c, 1, 0, 0, 0xc8, 0, 0}), 0, 0, 0, 0, 0, 0},
        {PIC_WEBP, riff + "VP8 " + bytes({0, 0, 0, 0, 0, 0, 0, 0x9d, 0x01, 0x2a, 0x2c, 0xc1, 0xc8, 0x00}), 300, 200, 0, 0, 300, 200},
        {PIC_WEBP, riff + "VP8 " + bytes({0, 0, 0, 0, 0, 0, 0, 0x9d, 0x01, 0x2b, 0x2c, 0x01, 0xc8, 0x00}), 0, 0, 0, 0, 0, 0},
        {PIC_WEBP, riff + "VP8L" + bytes({0, 0, 0, 0, 0x2f, 0x2b, 0xc1, 0x31, 0x00, 0, 0, 0, 0, 0}), 300, 200, 0, 0, 300, 200},
        {PIC_WEBP, riff + "VP8X" + bytes({0, 0, 0, 0, 0x10, 0, 0, 0, 0x2b, 0x01, 0x00, 0xc7, 0x00, 0x00}), 300, 200, 0, 0, 300, 200},
        {PIC_WEBP, riff + "VP8X" + bytes({0, 0, 0, 0, 0x10, 0, 0, 0, 0x2b, 0x01, 0x00, 0xc7, 0x00}), 0, 0, 0, 0, 0, 0},
        {PIC_WEBP, riff + "ALPH" + std::string(14, '\0'), 0, 0, 0, 0, 0, 0},
        {PIC_JPEG, bytes({0xff, 0xd8}) + sof, 300, 200, 0, 0, 300, 200},
        {PIC_JPEG, bytes({0xff, 0xd8, 0xff, 0xe1, 0, 4, 1, 2, 0xff, 0xff, 0xc4, 0, 2}) + sof, 300, 200, 0, 0, 300, 200},
        {PIC_JPEG, bytes({0xff, 0xd8, 0xff, 0xc2, 0, 17, 8, 0x00, 0xc8, 0x01, 0x2c}), 300, 200, 0, 0, 300, 200},
        {PIC_JPEG, bytes({0xff, 0xd8, 0xff, 0xda, 0, 2}) + sof, 0, 0, 0, 0, 0, 0},
        {PIC_JPEG, bytes({0xff, 0xd8}) + sof.substr(0, 8), 0, 0, 0, 0, 0, 0},
        {PIC_JPEG, bytes({0xff, 0xd8, 0xff, 0xc0, 0, 17, 8, 0x00, 0x00, 0x01, 0x2c}), 0, 0, 0, 0, 0, 0},
        {PIC_NONE, png + bytes({0, 0, 1, 0x2c, 0, 0, 0, 0xc8}), 0, 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        PicHeader hd;
        int ok = pic_header((const unsigned char *)c.head.data(), c.head.size(), c.format, &hd);
        EXPECT_EQ(ok, c.w > 0) << testing::PrintToString(c.head);
        if (ok && c.w > 0) {
            EXPECT_EQ(std::vector<long long>({hd.w, hd.h, hd.x, hd.y, hd.fw, hd.fh}),
                      std::vector<long long>({c.w, c.h, c.x, c.y, c.fw, c.fh}))
                << testing::PrintToString(c.head);
        }
    }
}

TEST(Picture, FitKeepsTheAspectAndNeverEnlarges)
{
    static const struct {
        long long w, h;
        int side, fw, fh;
    } cases[] = {
        {300, 200, 256, 256, 171}, {200, 300, 256, 171, 256}, {6000, 4000, 128, 128, 85}, {100, 50, 256, 100, 50},
        {512, 512, 512, 512, 512}, {513, 512, 512, 512, 511}, {100000000, 1, 128, 128, 1}, {1, 100000000, 512, 1, 512},
        {3, 2, 2, 2, 1}, {1, 1, 128, 1, 1},
    };
    for (const auto &c : cases) {
        int fw, fh;
        pic_fit(c.w, c.h, c.side, &fw, &fh);
        EXPECT_EQ(fw, c.fw) << c.w << "x" << c.h << " in " << c.side;
        EXPECT_EQ(fh, c.fh) << c.w << "x" << c.h << " in " << c.side;
    }
}

TEST(Picture, SameAspectWithinARoundedSide)
{
    static const struct {
        long long tw, th, w, h;
        int same;
    } cases[] = {
        {256, 192, 1024, 768, 1}, {256, 171, 3000, 2000, 1}, {256, 170, 3000, 2000, 1}, {256, 169, 3000, 2000, 0},
        {160, 120, 6000, 4000, 0}, {256, 256, 1024, 768, 0}, {192, 256, 768, 1024, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pic_same_aspect(c.tw, c.th, c.w, c.h), c.same) << c.tw << "x" << c.th << " of " << c.w << "x" << c.h;
}

/* A finished thumbnail as (red, alpha) pairs, row by row. */
std::vector<int> reds(const PicImage &img)
{
    std::vector<int> v;
    for (int i = 0; i < img.w * img.h; i++) {
        v.push_back(img.rgba[i * 4]);
        v.push_back(img.rgba[i * 4 + 3]);
    }
    return v;
}

TEST(Picture, BoxFilterOverRowsInAnyOrder)
{
    /* 4 x 2 reds into 2 x 1: each thumbnail pixel the mean of a 2 x 2 block. */
    const unsigned char rows[2][12] = {{10, 0, 0, 20, 0, 0, 30, 0, 0, 40, 0, 0}, {50, 0, 0, 60, 0, 0, 70, 0, 0, 80, 0, 0}};
    const std::vector<int> want = {35, 255, 55, 255};
    PicCanvas c;
    PicImage img;
    pic_start(&c, 4, 2, 2, 1);
    pic_row(&c, 0, 0, 1, rows[0], 4, 3);
    pic_row(&c, 1, 0, 1, rows[1], 4, 3);
    pic_finish(&c, 1, &img);
    EXPECT_EQ(reds(img), want);
    EXPECT_FALSE(img.translucent);
    /* The same pixels in passes: the second row first, then every other
     * column of the first, from column 1 and from column 0. */
    const unsigned char odd[6] = {20, 0, 0, 40, 0, 0}, even[6] = {10, 0, 0, 30, 0, 0};
    pic_start(&c, 4, 2, 2, 1);
    pic_row(&c, 1, 0, 1, rows[1], 4, 3);
    pic_row(&c, 0, 1, 2, odd, 2, 3);
    pic_row(&c, 0, 0, 2, even, 2, 3);
    pic_finish(&c, 1, &img);
    EXPECT_EQ(reds(img), want);
    /* Pixels outside the source are left out; rows and runs are cut. */
    pic_start(&c, 4, 2, 2, 1);
    pic_row(&c, 1, 0, 1, rows[1], 4, 3);
    pic_row(&c, 0, 0, 1, rows[0], 9, 3);
    pic_row(&c, 2, 0, 1, rows[0], 4, 3);
    pic_row(&c, -1, 0, 1, rows[0], 4, 3);
    pic_row(&c, 0, 4, 1, rows[0], 4, 3);
    pic_finish(&c, 1, &img);
    EXPECT_EQ(reds(img), want);
}

TEST(Picture, ColourWeightedByOpacity)
{
    /* A clear pixel lends its cell no colour, only a lower alpha; a cell of
     * clear pixels alone is clear. */
    const unsigned char px[16] = {200, 0, 0, 255, 0, 0, 0, 0, 9, 9, 9, 0, 9, 9, 9, 0};
    PicCanvas c;
    PicImage img;
    pic_start(&c, 4, 1, 2, 1);
    pic_row(&c, 0, 0, 1, px, 4, 4);
    pic_finish(&c, 1, &img);
    EXPECT_EQ(reds(img), (std::vector<int>{200, 128, 0, 0}));
    EXPECT_TRUE(img.translucent);
    /* An opaque source that leaves part of its screen uncovered. */
    const unsigned char opaque[3] = {1, 2, 3};
    pic_start(&c, 2, 1, 2, 1);
    pic_row(&c, 0, 0, 1, opaque, 1, 3);
    pic_uncovered(&c);
    pic_finish(&c, 1, &img);
    EXPECT_EQ(reds(img), (std::vector<int>{1, 255, 0, 0}));
    EXPECT_TRUE(img.translucent);
}

TEST(Picture, EightOrientations)
{
    /* The stored picture 1 2 3 / 4 5 6 (reds 10 to 60) as each orientation
     * shows it, row by row. */
    static const struct {
        int orientation, w, h;
        int shown[6];
    } cases[] = {
        {1, 3, 2, {1, 2, 3, 4, 5, 6}}, {2, 3, 2, {3, 2, 1, 6, 5, 4}}, {3, 3, 2, {6, 5, 4, 3, 2, 1}},
        {4, 3, 2, {4, 5, 6, 1, 2, 3}}, {5, 2, 3, {1, 4, 2, 5, 3, 6}}, {6, 2, 3, {4, 1, 5, 2, 6, 3}},
        {7, 2, 3, {6, 3, 5, 2, 4, 1}}, {8, 2, 3, {3, 6, 2, 5, 1, 4}}, {0, 3, 2, {1, 2, 3, 4, 5, 6}},
    };
    const unsigned char rows[2][9] = {{10, 0, 0, 20, 0, 0, 30, 0, 0}, {40, 0, 0, 50, 0, 0, 60, 0, 0}};
    for (const auto &c : cases) {
        PicCanvas canvas;
        PicImage img;
        pic_start(&canvas, 3, 2, 3, 2);
        pic_row(&canvas, 0, 0, 1, rows[0], 3, 3);
        pic_row(&canvas, 1, 0, 1, rows[1], 3, 3);
        pic_finish(&canvas, c.orientation, &img);
        std::vector<int> want;
        for (int v : c.shown) {
            want.push_back(v * 10);
            want.push_back(255);
        }
        EXPECT_EQ(img.w, c.w) << c.orientation;
        EXPECT_EQ(img.h, c.h) << c.orientation;
        EXPECT_EQ(reds(img), want) << c.orientation;
    }
}

} // namespace
