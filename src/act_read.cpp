#include "actions.h"

#include <string.h>

#include "json.h"
#include "path.h"
#include "query.h"
#include "response.h"
#include "timefmt.h"

enum {
    PREVIEW_MAX = 1048576, /* a preview shows at most a mebibyte */
    BINARY_PROBE = 8192    /* a NUL in this much of the head means binary */
};

/* Where the text is read when the platform gives no large-page block: static,
 * so a preview never fails for want of memory. A tail reads one byte more,
 * the one before it, and the NUL ends the text. */
static char g_text[PREVIEW_MAX + 2];

static char *text_buffer(void)
{
    char *block = (char *)fs_large_block(PREVIEW_MAX + 2);
    return block ? block : g_text;
}

/* `want` bytes at `at` into text: the count, or -1 on a read error.
 * *binary comes from the file's head wherever the window lies. A window
 * at or past the end of the file's `size` bytes is empty without a seek,
 * which the system refuses for offsets beyond what a file can reach. */
static long long read_window(struct FsFile *f, char *text, long long at, long long size, size_t want, int *binary)
{
    long long head = fs_read(f, text, at == 0 ? want : (size_t)BINARY_PROBE);
    if (head < 0)
        return -1;
    *binary = memchr(text, 0, head < BINARY_PROBE ? (size_t)head : (size_t)BINARY_PROBE) != NULL;
    if (at == 0)
        return head;
    if (at >= size)
        return 0;
    return fs_seek(f, at) ? fs_read(f, text, want) : -1;
}

/* A tail read from the byte before the last mebibyte begins after the first
 * line feed, so that its first line is whole; with none, the mebibyte. */
static long long whole_lines(char **text, long long n, long long *at)
{
    const char *lf = (const char *)memchr(*text, '\n', (size_t)n);
    long long skip = lf ? lf + 1 - *text : n > 0;
    *text += skip;
    *at += skip;
    return n - skip;
}

void act_read(const char *query, const char *path)
{
    char canon[FS_PATH_MAX];
    struct FsStat st;
    struct FsFile f;
    long long start;
    int windowed, binary;
    if (!query_decimal(query, "offset", &start, &windowed)) {
        json_err(400, "bad offset");
        return;
    }
    int tail = query_flag(query, "tail");
    if (!path_regular_file(path, canon, &st) || !path_open_file(canon, &f, "cannot read file"))
        return;
    int lead = tail && st.size > PREVIEW_MAX;
    if (tail)
        start = lead ? st.size - PREVIEW_MAX - 1 : 0;
    char *text = text_buffer();
    long long n = read_window(&f, text, start, st.size, (size_t)(PREVIEW_MAX + lead), &binary);
    fs_close(&f);
    if (n < 0) {
        json_err(403, "cannot read file");
        return;
    }
    if (lead)
        n = whole_lines(&text, n, &start);
    int truncated = !binary && st.size - start > PREVIEW_MAX;
    text[n] = '\0';

    char when[TIME_TEXT_MAX];
    time_text(st.mtime, when);
    struct OutBuf b = {};
    buf_puts(&b, "{\"ok\":true,\"path\":");
    json_str(&b, canon);
    buf_puts(&b, ",\"name\":");
    json_str(&b, path_name(canon));
    buf_printf(&b, ",\"size\":%lld,\"mtime\":\"%s\",\"mode\":\"0644\"", st.size, when);
    buf_printf(&b, ",\"binary\":%s,\"truncated\":%s,\"bytes_read\":%lu", binary ? "true" : "false",
               truncated ? "true" : "false", (unsigned long)n);
    if (windowed || tail)
        buf_printf(&b, ",\"offset\":%lld", start);
    if (binary) {
        buf_puts(&b, "}\n");
        json_send(&b);
        return;
    }
    /* Every failure is settled by now, so the text can go out as it is
     * encoded: a mebibyte is never copied into a growing body, and no
     * allocation can fail half-way and leave the answer without its text. */
    buf_puts(&b, ",\"text\":");
    if (json_start(&b)) {
        json_write_str(text);
        resp_body("}\n", 2);
    }
    buf_free(&b);
}
