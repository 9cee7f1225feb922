/* The picture work that every platform shares, free of files and of
 * libraries: which format a file's first bytes announce, the size a
 * thumbnail takes, the box filter that gathers a picture's rows into it and
 * the turn that EXIF asks for.
 *
 * The filter keeps sums for the thumbnail only, never the source: each
 * source pixel adds to the one thumbnail pixel it falls in, whatever the
 * order in which rows arrive, so an interlaced picture (whose rows come in
 * passes, each with every so many columns) needs no more memory than any
 * other. Its sums live in fixed buffers: one canvas per process. */
#ifndef PLUGIN_FILES_PICTURE_H
#define PLUGIN_FILES_PICTURE_H

#include <stddef.h>

enum PicFormat { PIC_NONE, PIC_JPEG, PIC_PNG, PIC_GIF, PIC_WEBP, PIC_BMP };

/* The largest thumbnail side. */
enum { PIC_SIDE_MAX = 512 };

/* The format the first n bytes of a file announce; PIC_NONE for anything
 * else, whatever the file's name. */
enum PicFormat pic_format(const unsigned char *p, size_t n);

/* What a picture's header says of its size. */
struct PicHeader {
    long long w, h;          /* the picture */
    long long x, y, fw, fh;  /* the part its first frame covers: a GIF's may be less */
};

/* Reads the header of a picture of that format from its first n bytes,
 * without decoding anything: 1, or 0 when they hold no whole header or one
 * that declares no pixel. A GIF is its screen grown to hold its first
 * frame. For decoders that allocate the whole picture the moment they see
 * it: its size is known, and refused when too large, before. */
int pic_header(const unsigned char *p, size_t n, enum PicFormat format, struct PicHeader *hd);

/* The size of a w x h picture fitted into side x side: the aspect kept
 * (rounded, at least one pixel), never larger than the picture. */
void pic_fit(long long w, long long h, int side, int *fw, int *fh);

/* 1 when a small picture of tw x th shows a w x h one at another scale:
 * their aspects differ by less than the rounding of a side. */
int pic_same_aspect(long long tw, long long th, long long w, long long h);

struct PicCanvas {
    long long sw, sh;  /* the source's size */
    int w, h;          /* the thumbnail's size */
    int translucent;   /* some of the source is not opaque */
};

/* Starts gathering a source of sw x sh pixels into a w x h thumbnail
 * (w and h at most PIC_SIDE_MAX; cut to the source's size). */
void pic_start(struct PicCanvas *c, long long sw, long long sh, int w, int h);
/* Adds `count` pixels of source row y: the first in column x0, each next
 * one dx columns further; `channels` 3 (RGB) or 4 (RGBA, not
 * premultiplied), 8 bits each. Pixels outside the source are left out. */
void pic_row(struct PicCanvas *c, long long y, long long x0, long long dx, const unsigned char *px, long long count,
             int channels);
/* Says that part of the source is left uncovered, hence transparent (a
 * first frame smaller than its screen). */
void pic_uncovered(struct PicCanvas *c);

/* A finished thumbnail: RGBA rows without gaps, valid until the next
 * pic_start. */
struct PicImage {
    int w, h;
    int translucent;   /* to be sent as PNG rather than JPEG */
    const unsigned char *rgba;
};

/* The thumbnail, every pixel the mean of its source pixels (weighted by
 * their opacity), turned as the EXIF orientation (1 to 8) says. */
void pic_finish(struct PicCanvas *c, int orientation, struct PicImage *img);

#endif
