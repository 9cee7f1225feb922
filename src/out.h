/* Response output: the growable buffer in which JSON bodies are built, the
 * JSON string encoder, the fixed header block and the error response.
 *
 * OutBuf invariants:
 *  - a zero OutBuf ({0, 0, 0}) is a valid, empty buffer that owns nothing;
 *  - whenever data is set, data[len] is NUL and len < cap;
 *  - cap is 0 or a power-of-two multiple of 1024, never above 256 MiB;
 *  - an append that cannot grow the buffer appends nothing and leaves
 *    data, len and cap as they were: a body may come out shorter, never
 *    corrupt;
 *  - the function that builds a response owns its OutBuf and releases it
 *    with buf_free after writing it. */
#ifndef PLUGIN_FILES_OUT_H
#define PLUGIN_FILES_OUT_H

#include <stddef.h>

struct OutBuf {
    char *data;
    size_t len;
    size_t cap;
};

enum { BUF_FIRST_CAP = 1024 };
#define BUF_MAX_CAP ((size_t)256 * 1024 * 1024)

/* Room for `add` more bytes and the NUL: 1, or 0 with the buffer unchanged. */
int buf_need(struct OutBuf *b, size_t add);
void buf_putc(struct OutBuf *b, char c);
/* The append of buf_putn when the buffer must grow first. */
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
/* v in decimal, without the cost of a format string: the listing writes
 * one per entry. */
void buf_put_int(struct OutBuf *b, long long v);
/* The text, "" when nothing was ever appended. */
const char *buf_text(const struct OutBuf *b);
void buf_free(struct OutBuf *b);

/* `s` as a JSON string literal, quotes included; NULL gives "". */
void json_str(struct OutBuf *b, const char *s);
/* The same literal written to standard output; for a value that ends a body. */
void json_write_str(const char *s);

/* Reads REQUEST_METHOD; called once, before anything is written. */
void out_init(void);
/* 0 for a HEAD request, 1 otherwise. A HEAD answer carries the same status
 * and header lines as the GET and no body: out_write drops every byte after
 * the header block's empty line, and a response whose body costs work asks
 * here before doing it. */
int out_body_wanted(void);

/* Standard output, bytes unchanged. Results are not checked: the response
 * is all the program has to tell anyone. */
void out_write(const char *s, size_t n);
void out_puts(const char *s);

void json_header(void);
/* Writes the text to standard output and empties b, which keeps its room:
 * a long body goes out in pieces through one buffer. */
void buf_write_out(struct OutBuf *b);
/* Writes header block and body of a successful JSON answer, frees b. */
void json_send(struct OutBuf *b);
void json_err(int status, const char *message);
/* The same with header lines of its own (each ending in CR LF) after the
 * fixed ones. */
void json_err_with(int status, const char *extra, const char *message);
/* "Status: N Reason" and CR LF for a status the program answers with; the
 * 500 line for any other. */
const char *status_line(int status);

/* Bounded copy: at most size - 1 bytes and a NUL; nothing when dst is NULL
 * or size is 0. */
void str_copy(char *dst, size_t size, const char *src);

/* The decimal number of one or more digits at s, with *end after them: 1,
 * 2 when it is too large for a long long (*v then holds the largest), 0
 * with *end = s when s starts with no digit. */
int str_decimal(const char *s, const char **end, long long *v);

/* c with A-Z lowered and every other byte kept, as tolower does in the C
 * locale. A table the compiler fills: the listing folds every byte of every
 * name it sorts. */
struct AsciiLower {
    unsigned char of[256];
    constexpr AsciiLower() : of()
    {
        for (int c = 0; c < 256; c++)
            of[c] = (unsigned char)(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
};
inline constexpr AsciiLower g_ascii_lower;

static inline unsigned char str_lower(unsigned char c)
{
    return g_ascii_lower.of[c];
}

#endif
