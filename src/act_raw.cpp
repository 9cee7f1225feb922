#include "actions.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "config.h"
#include "http.h"
#include "json.h"
#include "kinds.h"
#include "path.h"
#include "query.h"
#include "response.h"
#include "str.h"

enum {
    CHUNK = 65536,
    FILE_NAME_MAX = 512
};
/* The size limit when the host sets none: delivery streams in bounded
 * memory, so a file of any size costs no more than a small one. */
static const long long RAW_NO_LIMIT = 0;

/* Static so that delivery allocates nothing however large the file. */
static char g_chunk[CHUNK];

/* The validator lines that a 200, a 206 and a 304 all carry. */
static void validator_lines(struct OutBuf *h, const struct HttpValidators *val)
{
    if (val->date[0])
        resp_line(h, "Last-Modified: %s", val->date);
    resp_line(h, "ETag: %s", val->etag);
}

/* 1 when the bytes are to follow. */
static int send_headers(const char *type, int attach, const char *name, const struct HttpValidators *val,
                        const struct HttpRange *r, long long size, int partial)
{
    struct OutBuf h = {};
    resp_head(&h, partial ? 206 : 200, RESP_FILE, type);
    resp_line(&h, "Content-Disposition: %s; filename=\"%s\"", attach ? "attachment" : "inline", name);
    resp_line(&h, "Content-Length: %lld", r->len);
    resp_line(&h, "Accept-Ranges: bytes");
    validator_lines(&h, val);
    if (partial)
        resp_line(&h, "Content-Range: bytes %lld-%lld/%lld", r->first, r->first + r->len - 1, size);
    return resp_send_head(&h);
}

static void send_not_modified(const struct HttpValidators *val)
{
    struct OutBuf h = {};
    resp_head(&h, 304, RESP_NOT_MODIFIED, NULL);
    validator_lines(&h, val);
    resp_send_head(&h);
}

static void send_unsatisfiable(long long size)
{
    char line[64];
    snprintf(line, sizeof line, "Content-Range: bytes */%lld", size);
    json_err_with(416, line, "range not satisfiable");
}

/* Exactly `len` bytes, fewer only when the file ends first or the client
 * has gone: a file that grows meanwhile sends nothing of what it gained. */
static void stream(struct FsFile *f, long long len)
{
    while (len > 0) {
        size_t want = len < CHUNK ? (size_t)len : (size_t)CHUNK;
        long long n = fs_read(f, g_chunk, want);
        if (n <= 0 || !resp_body(g_chunk, (size_t)n))
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
    if (send_headers(type, attach, name, &val, &r, v->size, kind == RANGE_PART) && fs_seek(f, r.first))
        stream(f, r.len);
}

void act_raw(const char *query, const char *path)
{
    char canon[FS_PATH_MAX];
    struct FsStat st;
    struct FsFile f;
    struct FsVersion v;
    long long limit = config_limit("FILES_RAW_LIMIT", RAW_NO_LIMIT, LLONG_MAX);
    if (!path_regular_file(path, canon, &st) || path_too_large(st.size, limit))
        return;
    char name[FILE_NAME_MAX];
    char shown[FILE_NAME_MAX];
    str_copy(name, sizeof name, path_name(canon));
    disposition_name(name, shown, sizeof shown);
    const char *type = kind_type(name);
    int attach = query_flag(query, "download") || !kind_inline(name);
    if (!path_open_file(canon, &f, "cannot open file"))
        return;
    /* The open file's own facts: the file may have changed since the path
     * was looked at, and what is announced must be what is sent. */
    if (!fs_version(&f, &v))
        json_err(403, "cannot open file");
    else if (!path_too_large(v.size, limit))
        deliver(&f, &v, type, attach, shown);
    fs_close(&f);
    resp_end();
}
