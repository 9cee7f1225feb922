/* The response buffer and the JSON string encoder. The input is a run of
 * NUL-separated pieces, each appended by the operation its first byte picks;
 * after each one the buffer must hold exactly what went before plus the new
 * text, and a JSON string must decode back to the bytes it was made from. */
#include <stdint.h>
#include <string.h>

#include <string>

#include "harness.h"
#include "buf.h"
#include "json.h"

/* Decoding back is exact for any bytes; JSON validity in the strict sense
 * also needs UTF-8, which the encoder keeps exactly when it was given it. */
static int utf8_valid(const std::string &s)
{
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = (unsigned char)s[i];
        size_t n = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : 4;
        if (n == 4 || i + n >= s.size())
            return 0;
        for (size_t k = 1; k <= n; k++)
            if (((unsigned char)s[i + k] & 0xc0) != 0x80)
                return 0;
        i += n + 1;
    }
    return 1;
}

static void check_json(const std::string &piece, const std::string &added)
{
    std::string back;
    if (!json_unquote(added.data(), added.size(), &back) || back != piece)
        fail("json_str does not decode back to its input", piece + "\n=> " + added);
    if (utf8_valid(piece) != utf8_valid(added))
        fail("json_str changed whether the text is UTF-8", piece);
}

static void append(struct OutBuf *b, int op, const std::string &piece, std::string *model)
{
    size_t before = b->len;
    if (op == 0) {
        json_str(b, piece.c_str());
        check_json(piece, std::string(b->data + before, b->len - before));
        model->append(b->data + before, b->len - before);
        return;
    }
    std::string want;
    if (op == 1) {
        buf_puts(b, piece.c_str());
        want = piece;
    } else if (op == 2) {
        buf_printf(b, "<%s|%d>", piece.c_str(), (int)piece.size());
        want = "<" + piece + "|" + std::to_string(piece.size()) + ">";
    } else {
        for (char c : piece)
            buf_putc(b, c);
        want = piece;
    }
    model->append(want);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t len)
{
    struct OutBuf b = {};
    std::string model;
    const char *p = (const char *)data, *end = p + len;
    while (p < end) {
        int op = (unsigned char)*p++ % 4;
        const char *stop = (const char *)memchr(p, 0, (size_t)(end - p));
        std::string piece(p, stop ? stop : end);
        append(&b, op, piece, &model);
        if (b.len != model.size() || (b.data && (b.len >= b.cap || b.data[b.len] != '\0')) ||
            model != std::string(buf_text(&b), b.len))
            fail("buffer differs from what was appended", model);
        p = stop ? stop + 1 : end;
    }
    buf_free(&b);
    return 0;
}
