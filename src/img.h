/* The picture libraries behind one interface, one file for each platform:
 * img_posix.cpp (libjpeg-turbo, libpng, giflib, libwebp and stb_image,
 * linked into the program) and img_win32.cpp (the Windows Imaging
 * Component). They read a picture from an open file into a canvas
 * (picture.h) and write a finished thumbnail as JPEG or PNG. Nothing here
 * writes to the file system.
 *
 * Failures come back as the status of the answer: 413 a picture too large
 * to decode within the program's memory, 415 one the platform has no
 * decoder for, 422 bad or truncated data. */
#ifndef PLUGIN_FILES_IMG_H
#define PLUGIN_FILES_IMG_H

#include "buf.h"
#include "fs.h"
#include "picture.h"

/* A picture inside an open file: the whole file, or the small picture a
 * camera embeds in a JPEG. */
struct ImgSource {
    struct FsFile *file;
    long long start;   /* its first byte in the file */
    long long length;  /* its bytes */
    enum PicFormat format;
};

/* The picture's size as its header gives it, without decoding: 1, or 0
 * with *status. */
int img_size(const struct ImgSource *src, long long *w, long long *h, int *status);

/* Decodes the picture into c as a thumbnail of w x h (pic_fit's size of
 * the picture), at the smallest scale the decoder offers that is not
 * smaller than that: 1, or 0 with *status. */
int img_decode(const struct ImgSource *src, int w, int h, struct PicCanvas *c, int *status);

/* The thumbnail as PNG when it is translucent, else as JPEG, appended to
 * out: 1, or 0 when it could not be made. */
int img_encode(const struct PicImage *img, struct OutBuf *out);

#endif
