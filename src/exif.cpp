#include "exif.h"

#include <string.h>

enum {
    TAG_ORIENTATION = 0x0112,
    TAG_THUMB_OFFSET = 0x0201,
    TAG_THUMB_LENGTH = 0x0202,
    TYPE_SHORT = 3,
    TYPE_LONG = 4,
    ENTRY_SIZE = 12,
    MARKER_SOS = 0xDA,
    MARKER_EOI = 0xD9,
    MARKER_APP1 = 0xE1
};

/* The TIFF structure that an EXIF block holds: its bytes, offsets counted
 * from their start, in the byte order its header names. */
struct Tiff {
    const unsigned char *p;
    size_t len;
    int big_endian;
};

static int tiff_u16(const struct Tiff *t, size_t at, unsigned *v)
{
    if (at > t->len || t->len - at < 2)
        return 0;
    const unsigned char *b = t->p + at;
    *v = t->big_endian ? (unsigned)(b[0] << 8 | b[1]) : (unsigned)(b[1] << 8 | b[0]);
    return 1;
}

static int tiff_u32(const struct Tiff *t, size_t at, unsigned long *v)
{
    unsigned hi, lo;
    if (!tiff_u16(t, at, t->big_endian ? &hi : &lo) || !tiff_u16(t, at + 2, t->big_endian ? &lo : &hi))
        return 0;
    *v = (unsigned long)hi << 16 | lo;
    return 1;
}

/* The value of an entry that holds exactly one SHORT or LONG. */
static int entry_value(const struct Tiff *t, size_t entry, unsigned long *v)
{
    unsigned type, shrt;
    unsigned long count;
    if (!tiff_u16(t, entry + 2, &type) || !tiff_u32(t, entry + 4, &count) || count != 1)
        return 0;
    if (type == TYPE_LONG)
        return tiff_u32(t, entry + 8, v);
    if (type != TYPE_SHORT || !tiff_u16(t, entry + 8, &shrt))
        return 0;
    *v = shrt;
    return 1;
}

/* The value of `tag` in the directory at `at`: 1 when it is there as one
 * SHORT or LONG. */
static int ifd_value(const struct Tiff *t, size_t at, unsigned tag, unsigned long *v)
{
    unsigned count, id;
    if (!tiff_u16(t, at, &count))
        return 0;
    for (unsigned i = 0; i < count; i++) {
        size_t entry = at + 2 + (size_t)i * ENTRY_SIZE;
        if (!tiff_u16(t, entry, &id))
            return 0;
        if (id == tag)
            return entry_value(t, entry, v);
    }
    return 0;
}

/* Where the directory after the one at `at` starts: 1, or 0 when none
 * follows. */
static int ifd_next(const struct Tiff *t, size_t at, size_t *next)
{
    unsigned count;
    unsigned long off;
    if (!tiff_u16(t, at, &count) || !tiff_u32(t, at + 2 + (size_t)count * ENTRY_SIZE, &off) || off == 0)
        return 0;
    *next = off;
    return 1;
}

/* The orientation from the first directory, the embedded picture from the
 * second; `base` is where the TIFF bytes start in the file. */
static void tiff_read(const unsigned char *p, size_t len, long long base, struct ExifInfo *info)
{
    struct Tiff t = {p, len, 0};
    unsigned long ifd0, v, off, n;
    size_t ifd1;
    if (len < 8 || (memcmp(p, "II*\0", 4) != 0 && memcmp(p, "MM\0*", 4) != 0))
        return;
    t.big_endian = p[0] == 'M';
    if (!tiff_u32(&t, 4, &ifd0))
        return;
    if (ifd_value(&t, ifd0, TAG_ORIENTATION, &v) && v >= 1 && v <= 8)
        info->orientation = (int)v;
    if (!ifd_next(&t, ifd0, &ifd1) || !ifd_value(&t, ifd1, TAG_THUMB_OFFSET, &off) ||
        !ifd_value(&t, ifd1, TAG_THUMB_LENGTH, &n))
        return;
    if (n == 0 || off > len || n > len - off)
        return;
    info->thumb_offset = base + (long long)off;
    info->thumb_length = (long long)n;
}

void exif_read(const unsigned char *p, size_t len, struct ExifInfo *info)
{
    info->orientation = 1;
    info->thumb_offset = 0;
    info->thumb_length = 0;
    if (len < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return;
    size_t at = 2;
    while (at + 4 <= len && p[at] == 0xFF) {
        unsigned marker = p[at + 1];
        if (marker == 0xFF) { /* a fill byte before the marker */
            at++;
            continue;
        }
        /* The metadata ends where the picture data begins. */
        if (marker == MARKER_SOS || marker == MARKER_EOI)
            return;
        size_t seg = (size_t)(p[at + 2] << 8 | p[at + 3]);
        if (seg < 2)
            return;
        if (marker == MARKER_APP1 && seg >= 8 && at + 10 <= len && memcmp(p + at + 4, "Exif\0\0", 6) == 0) {
            size_t start = at + 10;
            size_t end = at + 2 + seg < len ? at + 2 + seg : len;
            tiff_read(p + start, end - start, (long long)start, info);
            return;
        }
        at += 2 + seg;
    }
}
