#include "out.h"

#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
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

void buf_putn_grow(struct OutBuf *b, const char *s, size_t n)
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

void buf_put_int(struct OutBuf *b, long long v)
{
    char digits[24];
    char *w = digits + sizeof digits;
    unsigned long long u = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
    do
        *--w = (char)('0' + u % 10);
    while (u /= 10);
    if (v < 0)
        *--w = '-';
    buf_putn(b, w, (size_t)(digits + sizeof digits - w));
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

/* What each byte becomes inside a JSON string: itself, a backslash pair, or
 * \u00XX; padded to eight bytes so that it is copied in one move. Built by
 * the compiler, so the program does no work for it at start-up. */
struct JsonCodes {
    char text[256][8];
    unsigned char len[256];
};

static constexpr JsonCodes json_codes(void)
{
    const char *hex = "0123456789abcdef";
    JsonCodes t = {};
    for (int c = 0; c < 256; c++) {
        char e = c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : c == '"' ? '"' : c == '\\' ? '\\' : 0;
        if (e) {
            t.text[c][0] = '\\';
            t.text[c][1] = e;
            t.len[c] = 2;
        } else if (c < 0x20) {
            const char u[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            for (int i = 0; i < 6; i++)
                t.text[c][i] = u[i];
            t.len[c] = 6;
        } else {
            t.text[c][0] = (char)c;
            t.len[c] = 1;
        }
    }
    return t;
}

static constexpr JsonCodes g_json = json_codes();

/* 1 when none of eight bytes needs an escape: no control byte, quote or
 * backslash, i.e. no zero byte in w & 0xE0.., w ^ '"'.. or w ^ '\\'.. */
static int json_word_plain(uint64_t w)
{
    const uint64_t ones = 0x0101010101010101ull;
    const uint64_t highs = 0x8080808080808080ull;
    uint64_t c = w & (ones * 0xE0);
    uint64_t q = w ^ (ones * '"');
    uint64_t k = w ^ (ones * '\\');
    return ((((c - ones) & ~c) | ((q - ones) & ~q) | ((k - ones) & ~k)) & highs) == 0;
}

/* Writes eight bytes per input byte and steps by its length, so the caller
 * leaves seven bytes of room beyond the text. */
static char *json_copy(char *out, const char *s, size_t len)
{
    size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        uint64_t w;
        memcpy(&w, s + i, 8);
        if (json_word_plain(w)) {
            memcpy(out, &w, 8);
            out += 8;
            continue;
        }
        for (size_t j = i; j < i + 8; j++) {
            unsigned char c = (unsigned char)s[j];
            memcpy(out, g_json.text[c], 8);
            out += g_json.len[c];
        }
    }
    for (; i < len; i++) {
        unsigned char c = (unsigned char)s[i];
        memcpy(out, g_json.text[c], 8);
        out += g_json.len[c];
    }
    return out;
}

/* Room for the worst case (every byte six, the quotes and the copy's
 * overhang) is asked for once: names and paths are short, and the long
 * preview text goes out through json_write_str instead. */
void json_str(struct OutBuf *b, const char *s)
{
    if (!s)
        s = "";
    size_t len = strlen(s);
    if (len > BUF_MAX_CAP / 6 || !buf_need(b, len * 6 + 2 + 7))
        return;
    char *start = b->data + b->len;
    char *out = start;
    *out++ = '"';
    out = json_copy(out, s, len);
    *out++ = '"';
    *out = '\0';
    b->len += (size_t)(out - start);
}

/* The text as a JSON string literal straight to standard output, encoded a
 * page at a time through one static buffer, so a mebibyte of preview is never
 * copied into a growing body. */
void json_write_str(const char *s)
{
    enum { PIECE = 4096 };
    static char out[65536];
    size_t len = strlen(s);
    size_t used = 0;
    out[used++] = '"';
    for (size_t i = 0; i < len; i += PIECE) {
        size_t piece = len - i < (size_t)PIECE ? len - i : (size_t)PIECE;
        /* Room for every byte escaped to six, the overhang and the quote. */
        if (used + piece * 6 + 8 > sizeof out) {
            out_write(out, used);
            used = 0;
        }
        used = (size_t)(json_copy(out + used, s + i, piece) - out);
    }
    out[used++] = '"';
    out_write(out, used);
}

static int g_body_wanted = 1;
/* How much of the CR LF CR LF that ends the header block has gone out; 4
 * once the body has begun. */
static int g_head_end;

void out_init(void)
{
    const char *method = getenv("REQUEST_METHOD");
    g_body_wanted = !method || strcmp(method, "HEAD") != 0;
    g_head_end = 0;
}

int out_body_wanted(void)
{
    return g_body_wanted;
}

/* The leading part of s that still belongs to the header block. */
static size_t head_part(const char *s, size_t n)
{
    static const char END[] = "\r\n\r\n";
    size_t i = 0;
    for (; i < n && g_head_end < 4; i++)
        g_head_end = s[i] == END[g_head_end] ? g_head_end + 1 : s[i] == '\r';
    return i;
}

void out_write(const char *s, size_t n)
{
    if (!g_body_wanted)
        n = head_part(s, n);
    fwrite(s, 1, n, stdout);
}

void out_puts(const char *s)
{
    out_write(s, strlen(s));
}

static const char JSON_LINES[] = "Content-Type: application/json; charset=utf-8\r\n"
                                 "Cache-Control: no-store\r\n"
                                 "X-Content-Type-Options: nosniff\r\n";

void json_header(void)
{
    out_puts(JSON_LINES);
    out_puts("\r\n");
}

void buf_write_out(struct OutBuf *b)
{
    out_write(buf_text(b), b->len);
    if (b->data)
        b->data[0] = '\0';
    b->len = 0;
}

void json_send(struct OutBuf *b)
{
    json_header();
    buf_write_out(b);
    buf_free(b);
}

static const struct {
    int status;
    const char *line;
} g_status_lines[] = {
    {400, "Status: 400 Bad Request\r\n"},
    {401, "Status: 401 Unauthorized\r\n"},
    {403, "Status: 403 Forbidden\r\n"},
    {404, "Status: 404 Not Found\r\n"},
    {405, "Status: 405 Method Not Allowed\r\n"},
    {413, "Status: 413 Payload Too Large\r\n"},
    {206, "Status: 206 Partial Content\r\n"},
    {304, "Status: 304 Not Modified\r\n"},
    {412, "Status: 412 Precondition Failed\r\n"},
    {416, "Status: 416 Range Not Satisfiable\r\n"},
};

const char *status_line(int status)
{
    for (size_t i = 0; i < sizeof g_status_lines / sizeof g_status_lines[0]; i++)
        if (g_status_lines[i].status == status)
            return g_status_lines[i].line;
    return "Status: 500 Internal Server Error\r\n";
}

void json_err_with(int status, const char *extra, const char *message)
{
    struct OutBuf b = {0, 0, 0};
    buf_puts(&b, status_line(status));
    buf_puts(&b, JSON_LINES);
    buf_puts(&b, extra);
    buf_puts(&b, "\r\n{\"ok\":false,\"error\":");
    json_str(&b, message);
    buf_puts(&b, "}\n");
    out_write(buf_text(&b), b.len);
    buf_free(&b);
}

void json_err(int status, const char *message)
{
    json_err_with(status, "", message);
}

int str_decimal(const char *s, const char **end, long long *v)
{
    int fits = 1;
    *v = 0;
    *end = s;
    if (*s < '0' || *s > '9')
        return 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        int d = *s - '0';
        if (*v > (LLONG_MAX - d) / 10) {
            *v = LLONG_MAX;
            fits = 2;
        } else if (fits == 1) {
            *v = *v * 10 + d;
        }
    }
    *end = s;
    return fits;
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
