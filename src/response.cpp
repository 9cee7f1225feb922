#include "response.h"

#include "page_policy.inc"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int g_body_wanted = 1;
/* A write that failed: the client has gone, and nothing more is sent. */
static int g_gone;

void resp_init(void)
{
    const char *method = getenv("REQUEST_METHOD");
    g_body_wanted = !method || strcmp(method, "HEAD") != 0;
    g_gone = 0;
}

int resp_body_wanted(void)
{
    return g_body_wanted;
}

static const struct {
    int status;
    const char *line;
} g_status_lines[] = {
    {400, "Status: 400 Bad Request"},
    {401, "Status: 401 Unauthorized"},
    {403, "Status: 403 Forbidden"},
    {404, "Status: 404 Not Found"},
    {405, "Status: 405 Method Not Allowed"},
    {413, "Status: 413 Payload Too Large"},
    {415, "Status: 415 Unsupported Media Type"},
    {422, "Status: 422 Unprocessable Content"},
    {206, "Status: 206 Partial Content"},
    {304, "Status: 304 Not Modified"},
    {412, "Status: 412 Precondition Failed"},
    {416, "Status: 416 Range Not Satisfiable"},
    {503, "Status: 503 Service Unavailable"},
};

/* The line for a status the program answers with; the 500 line for any
 * other. */
static const char *status_line(int status)
{
    for (size_t i = 0; i < sizeof g_status_lines / sizeof g_status_lines[0]; i++)
        if (g_status_lines[i].status == status)
            return g_status_lines[i].line;
    return "Status: 500 Internal Server Error";
}

/* The header lines kept once, each named where it is used below. */
static const char NO_STORE[] = "Cache-Control: no-store";
/* A file may stay in the browser's own cache, which asks again with the
 * validators it has and gets a 304 while the file is unchanged. */
static const char REVALIDATE[] = "Cache-Control: private, no-cache";
/* What a browser opens on its own (the page, a file, an archive) tells no
 * address it was opened from, nor its query with a password in it, to
 * whatever it loads or links to. */
static const char NO_REFERRER[] = "Referrer-Policy: no-referrer";
static const char NOSNIFF[] = "X-Content-Type-Options: nosniff";
static const char SAME_ORIGIN_FRAMES[] = "X-Frame-Options: SAMEORIGIN";
/* The page runs its own inline scripts, named by their hashes (the build
 * computes them, page_policy.inc), so that markup put into it could never
 * run one; it uses inline styles, shows pictures and media from the program
 * (drawings from their text, as blob: pictures, which run nothing), frames a
 * PDF from the program in the browser's viewer and calls nothing but the
 * program. */
static const char PAGE_POLICY[] = "Content-Security-Policy: default-src 'none'; script-src " PAGE_SCRIPT_SOURCES "; "
                                  "style-src 'unsafe-inline'; img-src 'self' data: blob:; media-src 'self'; "
                                  "frame-src 'self'; connect-src 'self'; form-action 'none'; base-uri 'none'";
/* A file opened on its own runs nothing; the browser shows sound and film
 * by a player that loads the same address again, which media-src lets it. */
static const char FILE_POLICY[] = "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; "
                                  "img-src data:; media-src 'self'";

enum { KIND_LINES_MAX = 5 };

/* Each kind's type when it has one of its own, and the lines that follow the
 * Content-Type in every answer of that kind, in their order. */
static const struct {
    const char *type;
    const char *lines[KIND_LINES_MAX];
} g_kinds[] = {
    /* RESP_JSON */ {"application/json; charset=utf-8", {NO_STORE, NOSNIFF}},
    /* RESP_PAGE */ {"text/html; charset=utf-8", {NO_STORE, NOSNIFF, SAME_ORIGIN_FRAMES, PAGE_POLICY, NO_REFERRER}},
    /* RESP_FILE */ {NULL, {REVALIDATE, NOSNIFF, FILE_POLICY, SAME_ORIGIN_FRAMES, NO_REFERRER}},
    /* RESP_ARCHIVE */ {"application/zip", {NO_STORE, NOSNIFF, NO_REFERRER}},
    /* RESP_NOT_MODIFIED */ {NULL, {REVALIDATE, NOSNIFF}},
    /* RESP_PICTURE */ {NULL, {NOSNIFF, FILE_POLICY, SAME_ORIGIN_FRAMES}},
    /* RESP_PICTURE_NOT_MODIFIED */ {NULL, {NOSNIFF}},
};

static void put_line(struct OutBuf *h, const char *line)
{
    buf_puts(h, line);
    buf_puts(h, "\r\n");
}

void resp_head(struct OutBuf *h, int status, enum RespKind kind, const char *type)
{
    if (status != 200)
        put_line(h, status_line(status));
    if (!type)
        type = g_kinds[kind].type;
    if (type) {
        buf_puts(h, "Content-Type: ");
        put_line(h, type);
    }
    for (int i = 0; i < KIND_LINES_MAX && g_kinds[kind].lines[i]; i++)
        put_line(h, g_kinds[kind].lines[i]);
}

void resp_line(struct OutBuf *h, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    buf_vprintf(h, fmt, ap);
    va_end(ap);
    buf_puts(h, "\r\n");
}

static int out(const void *p, size_t n)
{
    if (g_gone)
        return 0;
    if (n && fwrite(p, 1, n, stdout) != n)
        g_gone = 1;
    return !g_gone;
}

/* In place of a block that could not be built (a line too long to hold):
 * none of it is sent, and the client learns that the answer failed. */
static void send_failed(void)
{
    struct OutBuf h = {};
    resp_head(&h, 500, RESP_JSON, NULL);
    buf_puts(&h, "\r\n");
    if (g_body_wanted)
        buf_puts(&h, "{\"ok\":false,\"error\":\"out of memory\"}\n");
    out(buf_text(&h), h.len);
    buf_free(&h);
}

int resp_send_head(struct OutBuf *h)
{
    buf_puts(h, "\r\n");
    int built = !h->failed;
    if (built)
        out(h->data, h->len);
    else
        send_failed();
    buf_free(h);
    return built && g_body_wanted;
}

int resp_body(const void *p, size_t n)
{
    return g_body_wanted ? out(p, n) : 1;
}

int resp_body_buf(struct OutBuf *b)
{
    int sent = resp_body(buf_text(b), b->len);
    buf_clear(b);
    return sent;
}

int resp_flush(void)
{
    if (fflush(stdout) != 0 || ferror(stdout))
        g_gone = 1;
    return !g_gone;
}

int resp_end(void)
{
    return resp_flush();
}

void resp_print(const char *text)
{
    out(text, strlen(text));
}
