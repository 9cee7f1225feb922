/* Thumbnails: a picture made small on the node from its file alone, kept by
 * the browser and by nothing else. The answer's tag names the file's
 * version and the size asked for, so an unchanged picture costs a 304 (no
 * slot, no decoding); the work itself takes one of the node's heavy slots.
 * Which format a file holds is read from its first bytes, never from its
 * name. */
#include "actions.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "buf.h"
#include "config.h"
#include "exif.h"
#include "heavy.h"
#include "http.h"
#include "img.h"
#include "json.h"
#include "path.h"
#include "picture.h"
#include "query.h"
#include "response.h"
#include "timefmt.h"

enum { HEAD_MAX = 262144, SIDE_DEFAULT = 256, VERSION_MAX = 64 };
static const long long FILE_LIMIT = 67108864;
static const long long PIXELS_DEFAULT = 100000000;
/* Above this a setting is taken for a mistake. */
static const long long PIXELS_CEILING = 10000000000LL;

/* An address that names the version of the file (v=SIZE-MTIME, as the
 * listing shows them) names these bytes for good, and the browser may keep
 * them without asking again; any other address is asked again each time,
 * which costs a 304. Private: a node password may guard the picture, so no
 * shared cache is to hold it. */
static const char KEEP[] = "Cache-Control: private, max-age=31536000, immutable";
static const char CHECK[] = "Cache-Control: private, no-cache";

/* The file's first bytes: its format, its EXIF block, and the small picture
 * a camera embeds there, whole. */
static unsigned char g_head[HEAD_MAX];

/* The thumbnail's side from size=: one of three, 256 when absent. */
static int thumb_side(const char *query, int *side)
{
    static const struct {
        const char *text;
        int side;
    } sides[] = {{"128", 128}, {"256", 256}, {"512", 512}};
    char text[8];
    if (!get_query_val(query, "size", text, sizeof text)) {
        *side = SIDE_DEFAULT;
        return 1;
    }
    for (const auto &s : sides)
        if (strcmp(text, s.text) == 0) {
            *side = s.side;
            return 1;
        }
    return 0;
}

/* 1 when v= names this version of the file as the listing shows it. */
static int names_version(const char *query, const struct FsVersion *v)
{
    char named[VERSION_MAX], have[VERSION_MAX], when[TIME_TEXT_MAX];
    if (!get_query_val(query, "v", named, sizeof named))
        return 0;
    time_text(v->mtime, when);
    snprintf(have, sizeof have, "%lld-%s", v->size, when);
    return strcmp(named, have) == 0;
}

static void picture_err(int status)
{
    json_err(status, status == 413   ? "picture too large"
                     : status == 415 ? "no thumbnail for this file"
                                     : "cannot decode image");
}

static void send_picture(const char *type, const char *data, size_t len, const char *keep,
                         const struct HttpValidators *val)
{
    struct OutBuf h = {};
    resp_head(&h, 200, RESP_PICTURE, type);
    resp_line(&h, "%s", keep);
    resp_line(&h, "Content-Length: %lld", (long long)len);
    resp_line(&h, "ETag: %s", val->etag);
    if (resp_send_head(&h))
        resp_body(data, len);
}

static void send_not_modified(const char *keep, const struct HttpValidators *val)
{
    struct OutBuf h = {};
    resp_head(&h, 304, RESP_PICTURE_NOT_MODIFIED, NULL);
    resp_line(&h, "%s", keep);
    resp_line(&h, "ETag: %s", val->etag);
    resp_send_head(&h);
}

static long long longer(long long a, long long b)
{
    return a > b ? a : b;
}

/* The picture a camera embedded in a JPEG's EXIF block, in place of the
 * whole one, when it shows the same (its aspect) at no smaller a size than
 * the thumbnail's: 1 with it in src and its size in ew, eh. */
static int embedded(const struct ExifInfo *exif, long long w, long long h, int tw, int th, struct ImgSource *src,
                    long long *ew, long long *eh)
{
    struct ImgSource e = {src->file, exif->thumb_offset, exif->thumb_length, PIC_JPEG};
    int status;
    if (!exif->thumb_length || pic_format(g_head + exif->thumb_offset, (size_t)exif->thumb_length) != PIC_JPEG ||
        !img_size(&e, ew, eh, &status) || longer(*ew, *eh) < longer(tw, th) || !pic_same_aspect(*ew, *eh, w, h))
        return 0;
    *src = e;
    return 1;
}

/* Decodes, shrinks, turns and sends; g_head holds the first n bytes of
 * the picture. */
static void make(struct FsFile *f, long long size, size_t n, int side, const char *keep,
                 const struct HttpValidators *val)
{
    struct ImgSource src = {f, 0, size, pic_format(g_head, n)};
    struct ExifInfo exif = {1, 0, 0};
    struct PicCanvas canvas;
    struct PicImage img;
    long long w, h, ew, eh;
    int status, tw, th;
    if (src.format == PIC_NONE) {
        picture_err(415);
        return;
    }
    if (!heavy_enter())
        return;
    if (!img_size(&src, &w, &h, &status)) {
        picture_err(status);
        return;
    }
    if (w * h > config_limit("FILES_THUMB_MAX_PIXELS", PIXELS_DEFAULT, PIXELS_CEILING)) {
        picture_err(413);
        return;
    }
    pic_fit(w, h, side, &tw, &th);
    if (src.format == PIC_JPEG)
        exif_read(g_head, n, &exif);
    /* An embedded picture that is already the answer goes out as it is. */
    if (src.format == PIC_JPEG && embedded(&exif, w, h, tw, th, &src, &ew, &eh) && exif.orientation == 1 &&
        longer(ew, eh) == longer(tw, th)) {
        send_picture("image/jpeg", (const char *)g_head + src.start, (size_t)src.length, keep, val);
        return;
    }
    if (!img_decode(&src, tw, th, &canvas, &status)) {
        picture_err(status);
        return;
    }
    pic_finish(&canvas, exif.orientation, &img);
    struct OutBuf out = {};
    if (img_encode(&img, &out))
        send_picture(img.translucent ? "image/png" : "image/jpeg", out.data, out.len, keep, val);
    else
        json_err(500, "out of memory");
    buf_free(&out);
}

/* Everything after the file is open: a 304, or the thumbnail. */
static void answer(struct FsFile *f, const char *query, const struct FsVersion *v, int side)
{
    struct HttpValidators val;
    char variant[8];
    snprintf(variant, sizeof variant, "t%d", side);
    http_validators_of(v->size, v->mtime, v->nsec, (long long)time(NULL), variant, &val);
    const char *keep = names_version(query, v) ? KEEP : CHECK;
    if (http_not_modified(getenv("HTTP_IF_NONE_MATCH"), NULL, &val, 0)) {
        send_not_modified(keep, &val);
        return;
    }
    long long n = fs_read(f, (char *)g_head, HEAD_MAX);
    if (n < 0)
        json_err(403, "cannot read file");
    else
        make(f, v->size, (size_t)n, side, keep, &val);
}

void act_thumb(const char *query, const char *path)
{
    char canon[FS_PATH_MAX];
    struct FsStat st;
    struct FsFile f;
    struct FsVersion v;
    int side;
    if (!thumb_side(query, &side)) {
        json_err(400, "bad size");
        return;
    }
    if (!path_regular_file(path, canon, &st) || path_too_large(st.size, FILE_LIMIT) ||
        !path_open_file(canon, &f, "cannot open file"))
        return;
    /* The open file's own facts: what the tag names must be what is made. */
    if (!fs_version(&f, &v))
        json_err(403, "cannot open file");
    else if (!path_too_large(v.size, FILE_LIMIT))
        answer(&f, query, &v, side);
    fs_close(&f);
}
