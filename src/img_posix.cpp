/* The pictures on POSIX: libjpeg-turbo, libpng, giflib and libwebp, linked
 * from their static archives, and stb_image for bitmaps, compiled in here.
 * Each decoder reads its picture through one 64 KiB buffer and hands its
 * rows to the canvas as they come; none holds a whole picture at full size
 * unless its format leaves no other way, and then only after its header
 * has shown that it fits the memory the program allows itself. */
#include "img.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gif_lib.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>

/* stb_image is a library in one header: compiled here for bitmaps only,
 * reading through the callbacks below, never from a file by name. */
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_SIMD
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

enum { IN_CHUNK = 65536, GIF_SIDE_MAX = 65536, JPEG_QUALITY = 80 };

/* What a decoder may allocate for itself: with the canvas (8 MiB at the
 * largest size), the finished picture, the answer and the program, a
 * request stays within 64 MiB. */
static const long long WORK_BUDGET = 44LL << 20;

static unsigned char g_in[IN_CHUNK];

/* ---- reading a picture from its file ------------------------------------ */

/* The picture's bytes still to come: those in g_in from `at` to `n`, then
 * `left` more in the file. */
struct Input {
    struct FsFile *f;
    long long left;
    size_t at, n;
    int past_end;   /* stb_image asked for more than the picture holds */
};

static int in_open(struct Input *in, const struct ImgSource *src)
{
    in->f = src->file;
    in->left = src->length;
    in->at = in->n = 0;
    in->past_end = 0;
    return fs_seek(src->file, src->start);
}

/* The next piece into g_in: 1, or 0 at the picture's end. */
static int in_fill(struct Input *in)
{
    size_t want = in->left < IN_CHUNK ? (size_t)in->left : (size_t)IN_CHUNK;
    long long got = want ? fs_read(in->f, (char *)g_in, want) : 0;
    in->at = 0;
    in->n = got > 0 ? (size_t)got : 0;
    in->left -= (long long)in->n;
    return in->n > 0;
}

/* Up to `want` bytes into dst (NULL: passed over); the count. */
static size_t in_take(struct Input *in, void *dst, size_t want)
{
    size_t done = 0;
    while (done < want && (in->at < in->n || in_fill(in))) {
        size_t k = in->n - in->at < want - done ? in->n - in->at : want - done;
        if (dst)
            memcpy((unsigned char *)dst + done, g_in + in->at, k);
        in->at += k;
        done += k;
    }
    return done;
}

/* One row of decoded pixels, as wide as its picture; kept where a jump out
 * of a decoder can still free it. */
static unsigned char *g_row;

static unsigned char *row_get(size_t n)
{
    free(g_row);
    g_row = (unsigned char *)malloc(n);
    return g_row;
}

static void row_drop(void)
{
    free(g_row);
    g_row = NULL;
}

/* One decoder's task: the header only (canvas NULL), or the picture too. */
struct ImgJob {
    const struct ImgSource *src;
    struct PicCanvas *canvas;
    int tw, th;        /* the thumbnail's size */
    long long w, h;    /* out: the picture's size */
    int status;        /* out: why it failed */
};

/* ---- JPEG ---------------------------------------------------------------- */

struct JpegErr {
    struct jpeg_error_mgr pub;
    jmp_buf jump;
};

static void jpeg_fail(j_common_ptr cinfo)
{
    longjmp(((struct JpegErr *)cinfo->err)->jump, 1);
}

/* Warnings (data corrupt but decodable) neither stop the picture nor reach
 * the web server's log. */
static void jpeg_quiet(j_common_ptr, int)
{
}

/* The error manager of both directions: errors jump back, warnings are
 * dropped. */
static struct jpeg_error_mgr *jpeg_errors(struct JpegErr *err)
{
    struct jpeg_error_mgr *e = jpeg_std_error(&err->pub);
    e->error_exit = jpeg_fail;
    e->emit_message = jpeg_quiet;
    return e;
}

static int jpeg_err_status(const struct JpegErr *err)
{
    int code = err->pub.msg_code;
    return code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ? 413 : 422;
}

struct JpegIn {
    struct jpeg_source_mgr pub;
    struct Input *in;
};

static void jpeg_in_start(j_decompress_ptr)
{
}

/* The end of the picture before its end marker is bad data, not a cue to
 * make up the rest. */
static boolean jpeg_in_fill(j_decompress_ptr cinfo)
{
    struct JpegIn *j = (struct JpegIn *)cinfo->src;
    if (!in_fill(j->in))
        ERREXIT(cinfo, JERR_INPUT_EOF);
    j->pub.next_input_byte = g_in;
    j->pub.bytes_in_buffer = j->in->n;
    j->in->at = j->in->n;
    return TRUE;
}

static void jpeg_in_skip(j_decompress_ptr cinfo, long n)
{
    struct jpeg_source_mgr *s = cinfo->src;
    while (n > (long)s->bytes_in_buffer) {
        n -= (long)s->bytes_in_buffer;
        jpeg_in_fill(cinfo);
    }
    s->next_input_byte += n;
    s->bytes_in_buffer -= (size_t)n;
}

static void jpeg_in_end(j_decompress_ptr)
{
}

/* The fewest eighths of the picture's size (libjpeg-turbo decodes at M/8
 * in the DCT domain) that still cover the thumbnail. */
static int jpeg_eighths(long long w, long long h, int tw, int th)
{
    for (int m = 1; m < 8; m++)
        if ((w * m + 7) / 8 >= tw && (h * m + 7) / 8 >= th)
            return m;
    return 8;
}

/* CMYK as Adobe's programs store it (inverted) or plainly, to RGB. */
static void cmyk_to_rgb(unsigned char *row, JDIMENSION w, int inverted)
{
    for (JDIMENSION x = 0; x < w; x++) {
        const unsigned char *p = row + x * 4;
        unsigned k = inverted ? p[3] : 255u - p[3];
        unsigned char rgb[3];
        for (int i = 0; i < 3; i++)
            rgb[i] = (unsigned char)((inverted ? p[i] : 255u - p[i]) * k / 255);
        memcpy(row + x * 3, rgb, 3);
    }
}

static void jpeg_rows(struct jpeg_decompress_struct *cinfo, struct ImgJob *job)
{
    int cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->scale_num = (unsigned)jpeg_eighths(job->w, job->h, job->tw, job->th);
    cinfo->scale_denom = 8;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    /* The box filter that follows smooths more than fancy upsampling would. */
    cinfo->do_fancy_upsampling = FALSE;
    jpeg_start_decompress(cinfo);
    JSAMPROW row = (JSAMPROW)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_IMAGE,
                                                        (size_t)cinfo->output_width * (size_t)cinfo->output_components);
    pic_start(job->canvas, cinfo->output_width, cinfo->output_height, job->tw, job->th);
    while (cinfo->output_scanline < cinfo->output_height) {
        long long y = cinfo->output_scanline;
        jpeg_read_scanlines(cinfo, &row, 1);
        if (cmyk)
            cmyk_to_rgb(row, cinfo->output_width, cinfo->saw_Adobe_marker);
        pic_row(job->canvas, y, 0, 1, row, cinfo->output_width, 3);
    }
}

static int jpeg_run(struct ImgJob *job)
{
    struct jpeg_decompress_struct cinfo;
    struct JpegErr err;
    struct JpegIn jin;
    struct Input in;
    memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_errors(&err);
    if (setjmp(err.jump)) {
        job->status = jpeg_err_status(&err);
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    /* Progressive pictures keep every coefficient; past this libjpeg stops
     * with an error rather than take more. */
    cinfo.mem->max_memory_to_use = WORK_BUDGET;
    if (!in_open(&in, job->src))
        ERREXIT(&cinfo, JERR_INPUT_EOF);
    jin.in = &in;
    jin.pub.init_source = jpeg_in_start;
    jin.pub.fill_input_buffer = jpeg_in_fill;
    jin.pub.skip_input_data = jpeg_in_skip;
    jin.pub.resync_to_restart = jpeg_resync_to_restart;
    jin.pub.term_source = jpeg_in_end;
    jin.pub.bytes_in_buffer = 0;
    jin.pub.next_input_byte = NULL;
    cinfo.src = &jin.pub;
    jpeg_read_header(&cinfo, TRUE);
    job->w = cinfo.image_width;
    job->h = cinfo.image_height;
    /* The rows are all read; what follows the last (the end marker) is not
     * waited for. */
    if (job->canvas)
        jpeg_rows(&cinfo, job);
    jpeg_destroy_decompress(&cinfo);
    return 1;
}

/* ---- PNG ----------------------------------------------------------------- */

static void png_fail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

static void png_quiet(png_structp, png_const_charp)
{
}

static void png_in(png_structp png, png_bytep data, size_t n)
{
    if (in_take((struct Input *)png_get_io_ptr(png), data, n) != n)
        png_error(png, "truncated");
}

/* Every row of every pass: an interlaced picture's passes each hold every
 * so many columns of every so many rows, which the canvas places. The row
 * buffer is as wide as the picture, which libpng keeps below a million
 * pixels; that is all the memory a picture of any height takes. */
static void png_rows(png_structp png, png_infop info, struct ImgJob *job)
{
    int interlaced = png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7;
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    int channels = png_get_channels(png, info);
    unsigned char *row = row_get(png_get_rowbytes(png, info));
    if (!row)
        png_error(png, "no memory");
    pic_start(job->canvas, w, h, job->tw, job->th);
    for (int pass = 0; pass < (interlaced ? PNG_INTERLACE_ADAM7_PASSES : 1); pass++) {
        png_uint_32 cols = interlaced ? PNG_PASS_COLS(w, pass) : w;
        png_uint_32 rows = interlaced ? PNG_PASS_ROWS(h, pass) : h;
        /* libpng passes over the passes that hold no pixel. */
        if (cols == 0 || rows == 0)
            continue;
        long long x0 = interlaced ? PNG_COL_FROM_PASS_COL(0, pass) : 0;
        long long dx = interlaced ? 1 << PNG_PASS_COL_SHIFT(pass) : 1;
        for (png_uint_32 r = 0; r < rows; r++) {
            png_read_row(png, row, NULL);
            pic_row(job->canvas, interlaced ? PNG_ROW_FROM_PASS_ROW(r, pass) : r, x0, dx, row, cols, channels);
        }
    }
}

static int png_run(struct ImgJob *job)
{
    struct Input in;
    if (!in_open(&in, job->src)) {
        job->status = 422;
        return 0;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, png_fail, png_quiet);
    png_infop info = png ? png_create_info_struct(png) : NULL;
    if (!info) {
        png_destroy_read_struct(&png, NULL, NULL);
        job->status = 413;
        return 0;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, NULL);
        row_drop();
        job->status = 422;
        return 0;
    }
    png_set_read_fn(png, &in, png_in);
    png_read_info(png, info);
    job->w = png_get_image_width(png, info);
    job->h = png_get_image_height(png, info);
    if (job->canvas)
        png_rows(png, info, job);
    png_destroy_read_struct(&png, &info, NULL);
    row_drop();
    return 1;
}

/* ---- GIF: the first frame ------------------------------------------------ */

static unsigned char g_gif_line[GIF_SIDE_MAX];
static unsigned char g_gif_rgba[GIF_SIDE_MAX * 4];

static int gif_in(GifFileType *gif, GifByteType *buf, int n)
{
    return (int)in_take((struct Input *)gif->UserData, buf, (size_t)n);
}

/* Reads up to the first frame's descriptor, noting the transparent index
 * its graphic control gives (-1: none). */
static int gif_first_frame(GifFileType *gif, int *transparent)
{
    *transparent = -1;
    for (;;) {
        GifRecordType type;
        int code;
        GifByteType *ext;
        if (DGifGetRecordType(gif, &type) != GIF_OK)
            return 0;
        if (type == IMAGE_DESC_RECORD_TYPE)
            return DGifGetImageDesc(gif) == GIF_OK && gif->Image.Width > 0 && gif->Image.Height > 0 &&
                   (gif->Image.ColorMap || gif->SColorMap);
        if (type != EXTENSION_RECORD_TYPE || DGifGetExtension(gif, &code, &ext) != GIF_OK)
            return 0;
        if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
            *transparent = ext[1] & 1 ? ext[4] : -1;
        while (ext)
            if (DGifGetExtensionNext(gif, &ext) != GIF_OK)
                return 0;
    }
}

/* The picture row of the i-th row an interlaced frame of h rows sends:
 * every 8th from 0, every 8th from 4, every 4th from 2, every 2nd from 1. */
static long long gif_interlaced_row(long long i, long long h)
{
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; p++) {
        long long rows = h > start[p] ? (h - start[p] + step[p] - 1) / step[p] : 0;
        if (i < rows)
            return start[p] + i * step[p];
        i -= rows;
    }
    return -1;
}

static int gif_lines(GifFileType *gif, struct ImgJob *job, int transparent)
{
    const GifImageDesc *d = &gif->Image;
    const ColorMapObject *map = d->ColorMap ? d->ColorMap : gif->SColorMap;
    pic_start(job->canvas, job->w, job->h, job->tw, job->th);
    if (d->Left > 0 || d->Top > 0 || d->Width < job->w || d->Height < job->h)
        pic_uncovered(job->canvas);
    for (int i = 0; i < d->Height; i++) {
        if (DGifGetLine(gif, g_gif_line, d->Width) != GIF_OK)
            return 0;
        for (int x = 0; x < d->Width; x++) {
            int index = g_gif_line[x];
            unsigned char *p = g_gif_rgba + x * 4;
            GifColorType c = index < map->ColorCount ? map->Colors[index] : GifColorType{0, 0, 0};
            p[0] = c.Red;
            p[1] = c.Green;
            p[2] = c.Blue;
            p[3] = index == transparent ? 0 : 255;
        }
        long long y = d->Top + (d->Interlace ? gif_interlaced_row(i, d->Height) : i);
        pic_row(job->canvas, y, d->Left, 1, g_gif_rgba, d->Width, 4);
    }
    return 1;
}

/* The picture is the screen, grown to hold a first frame that reaches past
 * it. */
static int gif_run(struct ImgJob *job)
{
    struct Input in;
    int err, transparent;
    GifFileType *gif = in_open(&in, job->src) ? DGifOpen(&in, gif_in, &err) : NULL;
    int ok = gif && gif_first_frame(gif, &transparent);
    if (ok) {
        const GifImageDesc *d = &gif->Image;
        job->w = gif->SWidth > d->Left + d->Width ? gif->SWidth : d->Left + d->Width;
        job->h = gif->SHeight > d->Top + d->Height ? gif->SHeight : d->Top + d->Height;
        if (job->canvas)
            ok = gif_lines(gif, job, transparent);
    }
    if (gif)
        DGifCloseFile(gif, &err);
    if (!ok)
        job->status = 422;
    return ok;
}

/* ---- WebP ---------------------------------------------------------------- */

/* libwebp scales as it decodes, straight into this. */
static unsigned char g_webp_out[PIC_SIDE_MAX * PIC_SIDE_MAX * 4];

/* What libwebp allocates beyond the file: a lossless picture (or one whose
 * kind the header leaves open) is decoded whole, four bytes a pixel; the
 * alpha of a lossy one takes a plane and, compressed, up to four more. */
static long long webp_work(const WebPBitstreamFeatures *f)
{
    long long pixels = (long long)f->width * f->height;
    if (f->format != 1)
        return pixels * 4;
    return f->has_alpha ? pixels * 5 : (long long)f->width * 64;
}

static int webp_decode(const unsigned char *data, size_t len, WebPDecoderConfig *config, struct ImgJob *job)
{
    const WebPBitstreamFeatures *f = &config->input;
    if (f->has_animation) {
        job->status = 415;
        return 0;
    }
    if ((long long)len + webp_work(f) > WORK_BUDGET) {
        job->status = 413;
        return 0;
    }
    int channels = f->has_alpha ? 4 : 3;
    config->options.use_scaling = job->tw != f->width || job->th != f->height;
    config->options.scaled_width = job->tw;
    config->options.scaled_height = job->th;
    config->output.colorspace = f->has_alpha ? MODE_RGBA : MODE_RGB;
    config->output.is_external_memory = 1;
    config->output.u.RGBA.rgba = g_webp_out;
    config->output.u.RGBA.stride = job->tw * channels;
    config->output.u.RGBA.size = sizeof g_webp_out;
    if (WebPDecode(data, len, config) != VP8_STATUS_OK) {
        job->status = 422;
        return 0;
    }
    pic_start(job->canvas, job->tw, job->th, job->tw, job->th);
    for (int y = 0; y < job->th; y++)
        pic_row(job->canvas, y, 0, 1, g_webp_out + (size_t)y * (size_t)(job->tw * channels), job->tw, channels);
    WebPFreeDecBuffer(&config->output);
    return 1;
}

/* libwebp decodes from memory: the file is read whole, when it fits. */
static int webp_run(struct ImgJob *job)
{
    struct Input in;
    WebPDecoderConfig config;
    size_t len = (size_t)job->src->length;
    if (job->src->length > WORK_BUDGET) {
        job->status = 413;
        return 0;
    }
    unsigned char *data = (unsigned char *)malloc(len ? len : 1);
    int ok = data && in_open(&in, job->src) && in_take(&in, data, len) == len && WebPInitDecoderConfig(&config) &&
             WebPGetFeatures(data, len, &config.input) == VP8_STATUS_OK;
    job->status = data ? 422 : 413;
    if (ok) {
        job->w = config.input.width;
        job->h = config.input.height;
        if (job->canvas)
            ok = webp_decode(data, len, &config, job);
    }
    free(data);
    return ok;
}

/* ---- BMP ----------------------------------------------------------------- */

/* stb_image asks for a piece at a time and takes nothing for the end: a
 * second ask there is a picture that ends early. */
static int stb_in(void *user, char *data, int size)
{
    struct Input *in = (struct Input *)user;
    size_t got = in_take(in, data, (size_t)size);
    if (got == 0)
        in->past_end = 1;
    return (int)got;
}

static void stb_skip(void *user, int n)
{
    if (n > 0)
        in_take((struct Input *)user, NULL, (size_t)n);
}

static int stb_eof(void *user)
{
    struct Input *in = (struct Input *)user;
    return in->at == in->n && in->left == 0;
}

static const stbi_io_callbacks g_stb_io = {stb_in, stb_skip, stb_eof};

/* stb_image decodes a bitmap whole, in the channels it has: three or
 * four bytes a pixel, within the budget or not at all. A bitmap whose rows
 * end before their count is truncated, though stb_image fills them in. */
static int bmp_run(struct ImgJob *job)
{
    struct Input in;
    int w, h, channels;
    job->status = 422;
    if (!in_open(&in, job->src) || !stbi_info_from_callbacks(&g_stb_io, &in, &w, &h, &channels))
        return 0;
    job->w = w;
    job->h = h;
    if (!job->canvas)
        return 1;
    if ((long long)w * h * channels > WORK_BUDGET) {
        job->status = 413;
        return 0;
    }
    if (!in_open(&in, job->src))
        return 0;
    unsigned char *px = stbi_load_from_callbacks(&g_stb_io, &in, &w, &h, &channels, 0);
    int ok = px && !in.past_end && (channels == 3 || channels == 4);
    if (ok) {
        pic_start(job->canvas, w, h, job->tw, job->th);
        for (int y = 0; y < h; y++)
            pic_row(job->canvas, y, 0, 1, px + (size_t)y * (size_t)w * (size_t)channels, w, channels);
    }
    stbi_image_free(px);
    return ok;
}

/* ---- the interface ------------------------------------------------------- */

static int run(struct ImgJob *job)
{
    int ok;
    switch (job->src->format) {
    case PIC_JPEG: ok = jpeg_run(job); break;
    case PIC_PNG: ok = png_run(job); break;
    case PIC_GIF: ok = gif_run(job); break;
    case PIC_WEBP: ok = webp_run(job); break;
    case PIC_BMP: ok = bmp_run(job); break;
    default: job->status = 415; return 0;
    }
    if (ok && (job->w < 1 || job->h < 1)) {
        job->status = 422;
        return 0;
    }
    return ok;
}

int img_size(const struct ImgSource *src, long long *w, long long *h, int *status)
{
    struct ImgJob job = {src, NULL, 0, 0, 0, 0, 0};
    int ok = run(&job);
    *w = job.w;
    *h = job.h;
    *status = job.status;
    return ok;
}

int img_decode(const struct ImgSource *src, int w, int h, struct PicCanvas *c, int *status)
{
    struct ImgJob job = {src, c, w, h, 0, 0, 0};
    int ok = run(&job);
    *status = job.status;
    return ok;
}

/* ---- writing ------------------------------------------------------------- */

/* Where libjpeg grows the JPEG it writes; kept where a jump out of the
 * encoder can still free it. */
static unsigned char *g_jpeg_out;
static unsigned long g_jpeg_len;

static int jpeg_write(const struct PicImage *img, struct OutBuf *out)
{
    struct jpeg_compress_struct cinfo;
    struct JpegErr err;
    memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_errors(&err);
    g_jpeg_out = NULL;
    g_jpeg_len = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        free(g_jpeg_out);
        return 0;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &g_jpeg_out, &g_jpeg_len);
    cinfo.image_width = (JDIMENSION)img->w;
    cinfo.image_height = (JDIMENSION)img->h;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_RGBX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, JPEG_QUALITY, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)img->rgba + (size_t)cinfo.next_scanline * (size_t)img->w * 4;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    buf_putn(out, (const char *)g_jpeg_out, g_jpeg_len);
    free(g_jpeg_out);
    return !out->failed;
}

static void png_out(png_structp png, png_bytep p, size_t n)
{
    buf_putn((struct OutBuf *)png_get_io_ptr(png), (const char *)p, n);
}

static void png_out_flush(png_structp)
{
}

static int png_write(const struct PicImage *img, struct OutBuf *out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, png_fail, png_quiet);
    png_infop info = png ? png_create_info_struct(png) : NULL;
    if (!info) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_set_write_fn(png, out, png_out, png_out_flush);
    png_set_IHDR(png, info, (png_uint_32)img->w, (png_uint_32)img->h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img->h; y++)
        png_write_row(png, img->rgba + (size_t)y * (size_t)img->w * 4);
    png_write_end(png, NULL);
    png_destroy_write_struct(&png, &info);
    return !out->failed;
}

int img_encode(const struct PicImage *img, struct OutBuf *out)
{
    return img->translucent ? png_write(img, out) : jpeg_write(img, out);
}
