#include "buf.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The text is released: it is incomplete, and nothing may be added to it. */
int buf_fail(struct OutBuf *b)
{
    free(b->data);
    b->data = NULL;
    b->len = b->cap = 0;
    b->failed = 1;
    return 0;
}

int buf_grow(struct OutBuf *b, size_t add)
{
    if (b->failed || add > BUF_MAX_CAP - b->len - 1)
        return buf_fail(b);
    size_t need = b->len + add + 1;
    if (b->cap >= need)
        return 1;
    size_t cap = b->cap ? b->cap : (size_t)BUF_FIRST_CAP;
    while (cap < need)
        cap *= 2;
    char *data = (char *)realloc(b->data, cap);
    if (!data)
        return buf_fail(b);
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

void buf_vprintf(struct OutBuf *b, const char *fmt, va_list ap)
{
    char scratch[1024];
    va_list again;
    va_copy(again, ap);
    int n = vsnprintf(scratch, sizeof scratch, fmt, ap);
    if (n < 0)
        buf_fail(b);
    else if ((size_t)n < sizeof scratch)
        buf_putn(b, scratch, (size_t)n);
    else if (buf_need(b, (size_t)n)) {
        /* Longer than the scratch area: format again straight into the buffer. */
        vsnprintf(b->data + b->len, (size_t)n + 1, fmt, again);
        b->len += (size_t)n;
    }
    va_end(again);
}

void buf_printf(struct OutBuf *b, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    buf_vprintf(b, fmt, ap);
    va_end(ap);
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

void buf_clear(struct OutBuf *b)
{
    if (b->data)
        b->data[0] = '\0';
    b->len = 0;
}

void buf_free(struct OutBuf *b)
{
    free(b->data);
    b->data = NULL;
    b->len = b->cap = 0;
    b->failed = 0;
}
