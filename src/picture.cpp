#include "picture.h"

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
