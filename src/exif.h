/* What a thumbnail needs from a JPEG's EXIF block: how the picture is to be
 * turned for display, and where the small picture that the camera embedded
 * lies in the file. A pure reader over the file's first bytes: it reads
 * nothing else and trusts no offset it finds. */
#ifndef PLUGIN_FILES_EXIF_H
#define PLUGIN_FILES_EXIF_H

#include <stddef.h>

struct ExifInfo {
    int orientation;          /* 1 to 8 as EXIF numbers them; 1 when absent or out of range */
    long long thumb_offset;   /* where the embedded JPEG starts in the file; 0 when none */
    long long thumb_length;   /* its length in bytes; 0 when none */
};

/* Reads the first EXIF block among the segments of a JPEG, of which the
 * first `len` bytes are at p, before its picture data. Always fills info;
 * an embedded picture is only reported when it lies wholly inside the
 * block and inside those bytes. */
void exif_read(const unsigned char *p, size_t len, struct ExifInfo *info);

#endif
