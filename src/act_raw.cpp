#include "actions.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "http.h"
#include "out.h"
#include "path.h"
#include "query.h"

enum {
    CHUNK = 65536,
    FILE_NAME_MAX = 512
};
/* The size limit when the host sets none. */
static const long long RAW_DEFAULT_LIMIT = 67108864;
static const long long MiB = 1048576;

/* Static so that delivery allocates nothing however large the file. */
static char g_chunk[CHUNK];

static const char TEXT_PLAIN[] = "text/plain; charset=utf-8";
static const char OCTETS[] = "application/octet-stream";

static const struct {
    const char *ext; /* lower case, without the dot */
    const char *type;
} g_mime[] = {
    {"png", "image/png"},   {"jpg", "image/jpeg"},    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},   {"webp", "image/webp"},   {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},
    /* Drawings go out as text: a script inside one must never run here. */
    {"svg", TEXT_PLAIN},
    {"pdf", "application/pdf"},
    {"txt", TEXT_PLAIN},    {"md", TEXT_PLAIN},       {"json", TEXT_PLAIN},
    {"c", TEXT_PLAIN},      {"h", TEXT_PLAIN},        {"log", TEXT_PLAIN},
    {"mp4", "video/mp4"},   {"m4v", "video/mp4"},     {"webm", "video/webm"},
    {"ogv", "video/ogg"},   {"mov", "video/quicktime"},
    {"mp3", "audio/mpeg"},  {"m4a", "audio/mp4"},     {"aac", "audio/aac"},
    {"ogg", "audio/ogg"},   {"oga", "audio/ogg"},     {"opus", "audio/ogg"},
    {"wav", "audio/wav"},   {"flac", "audio/flac"},   {"avif", "image/avif"},
};

static int ext_matches(const char *ext, size_t len, const char *row)
{
    if (strlen(row) != len)
        return 0;
    for (size_t i = 0; i < len; i++)
        if (str_lower((unsigned char)ext[i]) != (unsigned char)row[i])
            return 0;
    return 1;
}

const char *mime_type(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (!dot || !dot[1])
        return OCTETS;
    const char *ext = dot + 1;
    size_t len = strlen(ext);
    for (size_t i = 0; i < sizeof g_mime / sizeof g_mime[0]; i++)
        if (ext_matches(ext, len, g_mime[i].ext))
            return g_mime[i].type;
    return strstr(ext, "htm") ? TEXT_PLAIN : OCTETS;
}

void disposition_name(const char *name, char *out, size_t size)
{
    str_copy(out, size, name);
    for (char *p = out; *p; p++)
        if (*p == '\\' || *p == '\n' || *p == '\r' || *p == '"')
            *p = '_';
}

/* Pictures, sound and film open in the browser; everything else is saved. */
static int shown_inline(const char *type)
{
    return strncmp(type, "image/", 6) == 0 || strncmp(type, "audio/", 6) == 0 || strncmp(type, "video/", 6) == 0;
}

/* FILES_RAW_LIMIT as a positive decimal number of bytes (one too large to
 * hold means no limit a file can reach); the default for anything else. */
static long long raw_limit(void)
{
    const char *text = getenv("FILES_RAW_LIMIT");
    const char *end;
    long long limit;
    if (!text || !str_decimal(text, &end, &limit) || *end || limit <= 0)
        return RAW_DEFAULT_LIMIT;
    return limit;
}

/* 1 after answering 413 when size is over the limit. */
static int refused_as_large(long long size, long long limit)
{
    char message[64];
    if (size <= limit)
        return 0;
    if (limit % MiB == 0)
        snprintf(message, sizeof message, "file larger than %lld MiB", limit / MiB);
    else
        snprintf(message, sizeof message, "file larger than %lld bytes", limit);
    json_err(413, message);
    return 1;
}

/* The validator lines that a 200, a 206 and a 304 all carry. */
static void validator_lines(struct OutBuf *b, const struct HttpValidators *val)
{
    if (val->date[0])
        buf_printf(b, "Last-Modified: %s\r\n", val->date);
    buf_printf(b, "ETag: %s\r\n", val->etag);
}

/* The browser shows sound and film that are opened on their own by a player
 * that loads the same address again: media-src lets it, and nothing else. */
static void send_headers(const char *type, int attach, const char *name, const struct HttpValidators *val,
                         const struct HttpRange *r, long long size, int partial)
{
    struct OutBuf b = {0, 0, 0};
    if (partial)
        buf_puts(&b, status_line(206));
    buf_printf(&b,
               "Content-Type: %s\r\n"
               "Cache-Control: no-store\r\n"
               "X-Content-Type-Options: nosniff\r\n"
               "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; img-src data:; media-src 'self'\r\n"
               "X-Frame-Options: SAMEORIGIN\r\n"
               "Content-Disposition: %s; filename=\"%s\"\r\n"
               "Content-Length: %lld\r\n"
               "Accept-Ranges: bytes\r\n",
               type, attach ? "attachment" : "inline", name, r->len);
    validator_lines(&b, val);
    if (partial)
        buf_printf(&b, "Content-Range: bytes %lld-%lld/%lld\r\n", r->first, r->first + r->len - 1, size);
    buf_puts(&b, "\r\n");
    out_write(buf_text(&b), b.len);
    buf_free(&b);
}

static void send_not_modified(const struct HttpValidators *val)
{
    struct OutBuf b = {0, 0, 0};
    buf_puts(&b, status_line(304));
    buf_puts(&b, "Cache-Control: no-store\r\n");
    validator_lines(&b, val);
    buf_puts(&b, "\r\n");
    out_write(buf_text(&b), b.len);
    buf_free(&b);
}

static void send_unsatisfiable(long long size)
{
    char line[64];
    snprintf(line, sizeof line, "Content-Range: bytes */%lld\r\n", size);
    json_err_with(416, line, "range not satisfiable");
}

/* Exactly `len` bytes, fewer only when the file ends first or the client
 * has gone: a file that grows meanwhile sends nothing of what it gained. */
static void stream(struct FsFile *f, long long len)
{
    while (len > 0) {
        size_t want = len < CHUNK ? (size_t)len : (size_t)CHUNK;
        long long n = fs_read(f, g_chunk, want);
        if (n <= 0 || fwrite(g_chunk, 1, (size_t)n, stdout) != (size_t)n)
            return;
        len -= n;
        if ((size_t)n < want)
            return;
    }
}

/* The range the request asks for, as far as it stands: only a GET has
 * ranges, and If-Range can call them off. */
static int wanted_range(const struct HttpValidators *val, long long size, long long now, struct HttpRange *r)
{
    const char *method = getenv("REQUEST_METHOD");
    const char *spec = getenv("HTTP_RANGE");
    if ((method && strcmp(method, "GET") != 0) || !http_if_range(getenv("HTTP_IF_RANGE"), val, now))
        spec = NULL;
    return http_range(spec, size, r);
}

/* Everything after the file is open: a 412, a 304, a 416, or the bytes. */
static void deliver(struct FsFile *f, const struct FsVersion *v, const char *type, int attach, const char *name)
{
    struct HttpValidators val;
    struct HttpRange r;
    long long now = (long long)time(NULL);
    http_validators(v->size, v->mtime, v->nsec, now, &val);
    if (http_precondition_failed(getenv("HTTP_IF_MATCH"), getenv("HTTP_IF_UNMODIFIED_SINCE"), &val, now)) {
        json_err(412, "precondition failed");
        return;
    }
    if (http_not_modified(getenv("HTTP_IF_NONE_MATCH"), getenv("HTTP_IF_MODIFIED_SINCE"), &val, now)) {
        send_not_modified(&val);
        return;
    }
    int kind = wanted_range(&val, v->size, now, &r);
    if (kind == RANGE_UNSATISFIABLE) {
        send_unsatisfiable(v->size);
        return;
    }
    send_headers(type, attach, name, &val, &r, v->size, kind == RANGE_PART);
    if (out_body_wanted() && fs_seek(f, r.first))
        stream(f, r.len);
}

void act_raw(const char *query, const char *path)
{
    char canon[FS_PATH_MAX];
    struct FsStat st;
    struct FsFile f;
    struct FsVersion v;
    long long limit = raw_limit();
    if (!path_regular_file(path, canon, &st) || refused_as_large(st.size, limit))
        return;
    char name[FILE_NAME_MAX];
    char shown[FILE_NAME_MAX];
    str_copy(name, sizeof name, path_name(canon));
    disposition_name(name, shown, sizeof shown);
    const char *type = mime_type(name);
    int attach = query_flag(query, "download") || !shown_inline(type);
    if (!path_open_file(canon, &f, "cannot open file"))
        return;
    /* The open file's own facts: the file may have changed since the path
     * was looked at, and what is announced must be what is sent. */
    if (!fs_version(&f, &v))
        json_err(403, "cannot open file");
    else if (!refused_as_large(v.size, limit))
        deliver(&f, &v, type, attach, shown);
    fs_close(&f);
    fflush(stdout);
}
