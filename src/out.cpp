#include "out.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int buf_need(struct OutBuf *b, size_t add)
{
    if (add > BUF_MAX_CAP - b->len - 1)
        return 0;
    size_t need = b->len + add + 1;
    if (b->cap >= need)
        return 1;
    size_t cap = b->cap ? b->cap : (size_t)BUF_FIRST_CAP;
    while (cap < need)
        cap *= 2;
    char *data = (char *)realloc(b->data, cap);
    if (!data)
        return 0;
    b->data = data;
    b->cap = cap;
    return 1;
}

void buf_putn(struct OutBuf *b, const char *s, size_t n)
{
    if (!buf_need(b, n))
        return;
    memcpy(b->data + b->len, s, n);
    b->len += n;
    b->data[b->len] = '\0';
}

void buf_putc(struct OutBuf *b, char c)
{
    buf_putn(b, &c, 1);
}

void buf_puts(struct OutBuf *b, const char *s)
{
    buf_putn(b, s, strlen(s));
}

void buf_printf(struct OutBuf *b, const char *fmt, ...)
{
    char scratch[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(scratch, sizeof scratch, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if ((size_t)n < sizeof scratch) {
        buf_putn(b, scratch, (size_t)n);
        return;
    }
    /* Longer than the scratch area: format again straight into the buffer. */
    if (!buf_need(b, (size_t)n))
        return;
    va_start(ap, fmt);
    vsnprintf(b->data + b->len, (size_t)n + 1, fmt, ap);
    va_end(ap);
    b->len += (size_t)n;
}

const char *buf_text(const struct OutBuf *b)
{
    return b->data ? b->data : "";
}

void buf_free(struct OutBuf *b)
{
    free(b->data);
    b->data = NULL;
    b->len = b->cap = 0;
}

/* What each byte becomes inside a JSON string: 0 passes unchanged, 'u' is
 * written as \u00XX, anything else follows a backslash. */
static const char g_json_esc[256] = {
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 't', 'n', 'u', 'u', 'r', 'u', 'u',
    'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u', 'u',
    0, 0, '"', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\\', 0, 0, 0,
};

/* Two passes, one to size and one to copy, so a mebibyte of text costs one
 * growth check instead of one per byte. */
void json_str(struct OutBuf *b, const char *s)
{
    static const char hex[] = "0123456789abcdef";
    if (!s)
        s = "";
    size_t n = 2;
    const unsigned char *p;
    for (p = (const unsigned char *)s; *p; p++)
        n += g_json_esc[*p] == 0 ? 1 : g_json_esc[*p] == 'u' ? 6 : 2;
    if (!buf_need(b, n))
        return;
    char *w = b->data + b->len;
    *w++ = '"';
    for (p = (const unsigned char *)s; *p; p++) {
        char e = g_json_esc[*p];
        if (e == 0) {
            *w++ = (char)*p;
        } else if (e == 'u') {
            memcpy(w, "\\u00", 4);
            w[4] = hex[*p >> 4];
            w[5] = hex[*p & 15];
            w += 6;
        } else {
            w[0] = '\\';
            w[1] = e;
            w += 2;
        }
    }
    *w++ = '"';
    *w = '\0';
    b->len += n;
}

void out_write(const char *s, size_t n)
{
    fwrite(s, 1, n, stdout);
}

void out_puts(const char *s)
{
    out_write(s, strlen(s));
}

void json_header(void)
{
    out_puts("Content-Type: application/json; charset=utf-8\r\n"
             "Cache-Control: no-store\r\n"
             "X-Content-Type-Options: nosniff\r\n"
             "\r\n");
}

void json_send(struct OutBuf *b)
{
    json_header();
    out_write(buf_text(b), b->len);
    buf_free(b);
}

static const struct {
    int status;
    const char *line;
} g_status_lines[] = {
    {400, "Status: 400 Bad Request\r\n"},
    {403, "Status: 403 Forbidden\r\n"},
    {404, "Status: 404 Not Found\r\n"},
    {405, "Status: 405 Method Not Allowed\r\n"},
    {413, "Status: 413 Payload Too Large\r\n"},
};

static const char *status_line(int status)
{
    for (size_t i = 0; i < sizeof g_status_lines / sizeof g_status_lines[0]; i++)
        if (g_status_lines[i].status == status)
            return g_status_lines[i].line;
    return "Status: 500 Internal Server Error\r\n";
}

void json_err(int status, const char *message)
{
    struct OutBuf b = {0, 0, 0};
    buf_puts(&b, "{\"ok\":false,\"error\":");
    json_str(&b, message);
    buf_puts(&b, "}\n");
    out_puts(status_line(status));
    json_send(&b);
}

void str_copy(char *dst, size_t size, const char *src)
{
    if (!dst || size == 0)
        return;
    if (!src)
        src = "";
    size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}
