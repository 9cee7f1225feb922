#include "json.h"

#include <stdint.h>
#include <string.h>

#include "response.h"

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
    json_strn(b, s ? s : "", s ? strlen(s) : 0);
}

void json_strn(struct OutBuf *b, const char *s, size_t len)
{
    if (len > BUF_MAX_CAP / 6) {
        buf_fail(b);
        return;
    }
    if (!buf_need(b, len * 6 + 2 + 7))
        return;
    char *start = b->data + b->len;
    char *out = start;
    *out++ = '"';
    out = json_copy(out, s, len);
    *out++ = '"';
    *out = '\0';
    b->len += (size_t)(out - start);
}

/* Encoded a page at a time through one static buffer, so a mebibyte of
 * preview is never copied into a growing body. */
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
            if (!resp_body(out, used))
                return;
            used = 0;
        }
        used = (size_t)(json_copy(out + used, s + i, piece) - out);
    }
    out[used++] = '"';
    resp_body(out, used);
}

int json_start(struct OutBuf *b)
{
    if (b->failed) {
        buf_clear(b);
        json_err(500, "out of memory");
        return 0;
    }
    struct OutBuf h = {};
    resp_head(&h, 200, RESP_JSON, NULL);
    return resp_send_head(&h) && resp_body_buf(b);
}

void json_send(struct OutBuf *b)
{
    json_start(b);
    buf_free(b);
}

void json_err_with(int status, const char *line, const char *message)
{
    struct OutBuf h = {};
    struct OutBuf b = {};
    resp_head(&h, status, RESP_JSON, NULL);
    if (line)
        resp_line(&h, "%s", line);
    buf_puts(&b, "{\"ok\":false,\"error\":");
    json_str(&b, message);
    buf_puts(&b, "}\n");
    if (resp_send_head(&h))
        resp_body_buf(&b);
    buf_free(&b);
}

void json_err(int status, const char *message)
{
    json_err_with(status, NULL, message);
}
