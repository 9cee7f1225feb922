#include "picture.h"

#include <stdint.h>
#include <string.h>

enum { CELLS = PIC_SIDE_MAX * PIC_SIDE_MAX };

/* Per thumbnail pixel: red, green and blue each times the alpha, and the
 * alpha, summed over its source pixels; 64 bits, since one thumbnail pixel
 * of a long, thin source can gather hundreds of thousands of them. */
static unsigned long long g_sums[CELLS * 4];
/* The first source column (row) of each thumbnail column (row); the entry
 * after the last holds the source's width (height). */
static long long g_col_start[PIC_SIDE_MAX + 1];
static long long g_row_start[PIC_SIDE_MAX + 1];
/* The finished thumbnail, before and after its turn. */
static unsigned char g_plain[CELLS * 4];
static unsigned char g_turned[CELLS * 4];

enum PicFormat pic_format(const unsigned char *p, size_t n)
{
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return PIC_JPEG;
    if (n >= 8 && memcmp(p, png, 8) == 0)
        return PIC_PNG;
    if (n >= 6 && (memcmp(p, "GIF87a", 6) == 0 || memcmp(p, "GIF89a", 6) == 0))
        return PIC_GIF;
    if (n >= 12 && memcmp(p, "RIFF", 4) == 0 && memcmp(p + 8, "WEBP", 4) == 0)
        return PIC_WEBP;
    /* Two letters begin many a file: a bitmap also names the size of one of
     * the header forms that follow them. */
    if (n >= 18 && p[0] == 'B' && p[1] == 'M' && p[15] == 0 && p[16] == 0 && p[17] == 0) {
        static const unsigned char headers[] = {12, 40, 52, 56, 64, 108, 124};
        for (unsigned char size : headers)
            if (p[14] == size)
                return PIC_BMP;
    }
    return PIC_NONE;
}

static unsigned be16(const unsigned char *p)
{
    return (unsigned)(p[0] << 8 | p[1]);
}

static unsigned le16(const unsigned char *p)
{
    return (unsigned)(p[1] << 8 | p[0]);
}

static unsigned long le24(const unsigned char *p)
{
    return (unsigned long)p[2] << 16 | le16(p);
}

static unsigned long le32(const unsigned char *p)
{
    return (unsigned long)le16(p + 2) << 16 | le16(p);
}

static int whole(struct PicHeader *hd, long long w, long long h)
{
    hd->w = hd->fw = w;
    hd->h = hd->fh = h;
    hd->x = hd->y = 0;
    return w > 0 && h > 0;
}

static int png_header(const unsigned char *p, size_t n, struct PicHeader *hd)
{
    return n >= 24 && memcmp(p + 12, "IHDR", 4) == 0 &&
           whole(hd, (long long)be16(p + 16) << 16 | be16(p + 18), (long long)be16(p + 20) << 16 | be16(p + 22));
}

/* The first frame's marker (SOF0 to SOF15; C4, C8 and CC are others). */
static int jpeg_header(const unsigned char *p, size_t n, struct PicHeader *hd)
{
    size_t at = 2;
    while (at + 4 <= n && p[at] == 0xFF) {
        unsigned marker = p[at + 1];
        if (marker == 0xFF) {
            at++;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return 0;
        size_t seg = be16(p + at + 2);
        if (seg < 2)
            return 0;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return at + 9 <= n && whole(hd, be16(p + at + 7), be16(p + at + 5));
        at += 2 + seg;
    }
    return 0;
}

/* The screen, and the first frame's descriptor after the extensions
 * before it. */
static int gif_header(const unsigned char *p, size_t n, struct PicHeader *hd)
{
    if (n < 13)
        return 0;
    size_t at = 13 + (p[10] & 0x80 ? (size_t)3 << ((p[10] & 7) + 1) : 0);
    while (at < n && p[at] == 0x21) {
        at += 2;
        while (at < n && p[at])
            at += 1 + (size_t)p[at];
        at++;
    }
    if (at + 9 > n || p[at] != 0x2C)
        return 0;
    hd->x = le16(p + at + 1);
    hd->y = le16(p + at + 3);
    hd->fw = le16(p + at + 5);
    hd->fh = le16(p + at + 7);
    long long sw = le16(p + 6), sh = le16(p + 8);
    hd->w = sw > hd->x + hd->fw ? sw : hd->x + hd->fw;
    hd->h = sh > hd->y + hd->fh ? sh : hd->y + hd->fh;
    return hd->fw > 0 && hd->fh > 0;
}

/* The old core header has 16-bit sides; the others 32-bit ones, a
 * negative height meaning rows from the top. */
static int bmp_header(const unsigned char *p, size_t n, struct PicHeader *hd)
{
    if (n >= 22 && le32(p + 14) == 12)
        return whole(hd, le16(p + 18), le16(p + 20));
    if (n < 26)
        return 0;
    long long h = (int32_t)le32(p + 22);
    return whole(hd, (int32_t)le32(p + 18), h < 0 ? -h : h);
}

/* A lossy frame's 14-bit sides, a lossless one's less one, or the extended
 * header's 24-bit canvas less one. */
static int webp_header(const unsigned char *p, size_t n, struct PicHeader *hd)
{
    if (n < 30)
        return 0;
    if (memcmp(p + 12, "VP8 ", 4) == 0)
        return p[23] == 0x9d && p[24] == 0x01 && p[25] == 0x2a &&
               whole(hd, le16(p + 26) & 0x3fff, le16(p + 28) & 0x3fff);
    if (memcmp(p + 12, "VP8L", 4) == 0) {
        unsigned long bits = le32(p + 21);
        return p[20] == 0x2f && whole(hd, (long long)(bits & 0x3fff) + 1, (long long)(bits >> 14 & 0x3fff) + 1);
    }
    if (memcmp(p + 12, "VP8X", 4) == 0)
        return whole(hd, (long long)le24(p + 24) + 1, (long long)le24(p + 27) + 1);
    return 0;
}

int pic_header(const unsigned char *p, size_t n, enum PicFormat format, struct PicHeader *hd)
{
    switch (format) {
    case PIC_JPEG: return jpeg_header(p, n, hd);
    case PIC_PNG: return png_header(p, n, hd);
    case PIC_GIF: return gif_header(p, n, hd);
    case PIC_WEBP: return webp_header(p, n, hd);
    case PIC_BMP: return bmp_header(p, n, hd);
    default: return 0;
    }
}

/* a * side / big, rounded, at least 1. */
static int scaled_side(long long a, long long big, int side)
{
    long long v = (a * side * 2 + big) / (big * 2);
    return v < 1 ? 1 : (int)v;
}

void pic_fit(long long w, long long h, int side, int *fw, int *fh)
{
    long long big = w > h ? w : h;
    if (big <= side) {
        *fw = (int)w;
        *fh = (int)h;
        return;
    }
    *fw = scaled_side(w, big, side);
    *fh = scaled_side(h, big, side);
}

int pic_same_aspect(long long tw, long long th, long long w, long long h)
{
    long long d = tw * h - th * w;
    return 2 * (d < 0 ? -d : d) <= w + h;
}

/* start[i] = the first source index that falls in cell i, for n cells over
 * `size` source pixels: cell i gathers floor(i * size / n). */
static void cell_starts(long long *start, int n, long long size)
{
    for (int i = 0; i <= n; i++)
        start[i] = ((long long)i * size + n - 1) / n;
}

void pic_start(struct PicCanvas *c, long long sw, long long sh, int w, int h)
{
    c->sw = sw;
    c->sh = sh;
    c->w = w < sw ? w : (int)sw;
    c->h = h < sh ? h : (int)sh;
    c->translucent = 0;
    memset(g_sums, 0, (size_t)c->w * (size_t)c->h * 4 * sizeof g_sums[0]);
    cell_starts(g_col_start, c->w, sw);
    cell_starts(g_row_start, c->h, sh);
}

/* Inlined at each call with a constant `channels`, so that the loop over a
 * row carries no test of it. */
static inline unsigned add_run(unsigned long long *row, long long x, long long end, long long dx,
                               const unsigned char *px, long long count, const int channels)
{
    unsigned seen = 255;
    int cell = 0;
    while (x >= g_col_start[cell + 1])
        cell++;
    for (long long i = 0; i < count && x < end; i++, x += dx, px += channels) {
        while (x >= g_col_start[cell + 1])
            cell++;
        unsigned a = channels == 4 ? px[3] : 255;
        unsigned long long *s = row + (size_t)cell * 4;
        s[0] += (unsigned long long)(px[0] * a);
        s[1] += (unsigned long long)(px[1] * a);
        s[2] += (unsigned long long)(px[2] * a);
        s[3] += a;
        seen &= a;
    }
    return seen;
}

void pic_row(struct PicCanvas *c, long long y, long long x0, long long dx, const unsigned char *px, long long count,
             int channels)
{
    if (y < 0 || y >= c->sh || x0 < 0 || x0 >= c->sw || dx < 1)
        return;
    unsigned long long *row = g_sums + (size_t)(y * c->h / c->sh) * (size_t)c->w * 4;
    unsigned seen = channels == 4 ? add_run(row, x0, c->sw, dx, px, count, 4) : add_run(row, x0, c->sw, dx, px, count, 3);
    if (seen != 255)
        c->translucent = 1;
}

void pic_uncovered(struct PicCanvas *c)
{
    c->translucent = 1;
}

/* Where the pixel at x, y of a w x h picture goes when it is turned as
 * orientation o says (EXIF's numbers: 2 mirrored, 3 upside down, 6 turned a
 * quarter clockwise, 8 a quarter the other way; 5 and 7 mirrored as well). */
static void turned_place(int o, int x, int y, int w, int h, int *tx, int *ty)
{
    switch (o) {
    case 2: *tx = w - 1 - x; *ty = y; break;
    case 3: *tx = w - 1 - x; *ty = h - 1 - y; break;
    case 4: *tx = x; *ty = h - 1 - y; break;
    case 5: *tx = y; *ty = x; break;
    case 6: *tx = h - 1 - y; *ty = x; break;
    case 7: *tx = h - 1 - y; *ty = w - 1 - x; break;
    case 8: *tx = y; *ty = w - 1 - x; break;
    default: *tx = x; *ty = y; break;
    }
}

static void turn(int o, int w, int h, struct PicImage *img)
{
    int tw = o >= 5 ? h : w;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int tx, ty;
            turned_place(o, x, y, w, h, &tx, &ty);
            memcpy(g_turned + ((size_t)ty * (size_t)tw + (size_t)tx) * 4, g_plain + ((size_t)y * (size_t)w + (size_t)x) * 4, 4);
        }
    img->w = tw;
    img->h = o >= 5 ? w : h;
    img->rgba = g_turned;
}

void pic_finish(struct PicCanvas *c, int orientation, struct PicImage *img)
{
    unsigned char *out = g_plain;
    const unsigned long long *s = g_sums;
    for (int y = 0; y < c->h; y++) {
        long long rows = g_row_start[y + 1] - g_row_start[y];
        for (int x = 0; x < c->w; x++, s += 4, out += 4) {
            unsigned long long n = (unsigned long long)(rows * (g_col_start[x + 1] - g_col_start[x]));
            unsigned long long a = s[3];
            for (int k = 0; k < 3; k++)
                out[k] = (unsigned char)(a ? (s[k] + a / 2) / a : 0);
            out[3] = (unsigned char)((a + n / 2) / n);
        }
    }
    img->translucent = c->translucent;
    img->w = c->w;
    img->h = c->h;
    img->rgba = g_plain;
    if (orientation >= 2 && orientation <= 8)
        turn(orientation, c->w, c->h, img);
}
