/* The growable buffer in which answers are built.
 *
 * Invariants:
 *  - a zero OutBuf ({0, 0, 0, 0}, or {} ) is a valid, empty buffer that owns
 *    nothing;
 *  - whenever data is set, data[len] is NUL and len < cap;
 *  - cap is 0 or a power-of-two multiple of 1024, never above 256 MiB;
 *  - the error is sticky: an append that cannot grow the buffer sets
 *    `failed` and releases the text (data NULL, len and cap 0), which is
 *    known to be incomplete, and from then on every append does nothing. A
 *    text built in it is thus either whole or marked failed, never missing
 *    a piece in its middle; whoever sends it checks `failed` once, at the
 *    end (json_send answers 500 instead of a body that lost a piece). With
 *    data NULL the appends' fast path never runs, so it needs no check of
 *    its own;
 *  - the function that builds an answer owns its OutBuf and releases it
 *    with buf_free after writing it. */
#ifndef PLUGIN_FILES_BUF_H
#define PLUGIN_FILES_BUF_H

#include <stdarg.h>
#include <stddef.h>

struct OutBuf {
    char *data;
    size_t len;
    size_t cap;
    int failed;
};

enum { BUF_FIRST_CAP = 1024 };
#define BUF_MAX_CAP ((size_t)256 * 1024 * 1024)

/* Marks the buffer failed, as a refused growth does, for a text that
 * cannot be made whole: 0. */
int buf_fail(struct OutBuf *b);
/* The growth behind buf_need. */
int buf_grow(struct OutBuf *b, size_t add);
/* Room for `add` more bytes and the NUL: 1, or 0 with the buffer failed
 * (also when it already was). Inline for the room that is already there:
 * the JSON encoder asks before every name. */
static inline int buf_need(struct OutBuf *b, size_t add)
{
    if (b->data && b->cap - b->len > add)
        return 1;
    return buf_grow(b, add);
}
void buf_putc(struct OutBuf *b, char c);
/* The append of buf_putn when the buffer must grow first, or has failed. */
void buf_putn_grow(struct OutBuf *b, const char *s, size_t n);
/* Inline, so that the listing's many short appends of known length become
 * plain moves. */
static inline void buf_putn(struct OutBuf *b, const char *s, size_t n)
{
    if (!b->data || b->cap - b->len <= n) {
        buf_putn_grow(b, s, n);
        return;
    }
    __builtin_memcpy(b->data + b->len, s, n);
    b->len += n;
    b->data[b->len] = '\0';
}
/* Inline so that a literal's length is known where it is written. */
static inline void buf_puts(struct OutBuf *b, const char *s)
{
    buf_putn(b, s, __builtin_strlen(s));
}
void buf_printf(struct OutBuf *b, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
void buf_vprintf(struct OutBuf *b, const char *fmt, va_list ap)
    __attribute__((format(printf, 2, 0)));
/* v in decimal, without the cost of a format string: the listing writes
 * one per entry. */
void buf_put_int(struct OutBuf *b, long long v);
/* The text, "" when nothing was ever appended. */
const char *buf_text(const struct OutBuf *b);
/* Empties the text and keeps the room: a long body goes out in pieces
 * through one buffer. */
void buf_clear(struct OutBuf *b);
void buf_free(struct OutBuf *b);

#endif
