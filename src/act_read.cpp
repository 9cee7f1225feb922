#include "actions.h"

#include <string.h>

#include "out.h"
#include "path.h"
#include "timefmt.h"

enum {
    PREVIEW_MAX = 1048576, /* the preview shows at most the first mebibyte */
    BINARY_PROBE = 8192    /* a NUL in this much of the head means binary */
};

/* Where the text is read when the platform gives no large-page block: static,
 * so a preview never fails for want of memory. */
static char g_text[PREVIEW_MAX + 1];

static char *text_buffer(void)
{
    char *block = (char *)fs_large_block(PREVIEW_MAX + 1);
    return block ? block : g_text;
}

void act_read(const char *, const char *path)
{
    char canon[FS_PATH_MAX];
    struct FsStat st;
    struct FsFile f;
    if (!path_regular_file(path, canon, &st) || !path_open_file(canon, &f, "cannot read file"))
        return;
    char *text = text_buffer();
    long long n = fs_read(&f, text, PREVIEW_MAX);
    fs_close(&f);
    if (n < 0) {
        json_err(403, "cannot read file");
        return;
    }
    int binary = memchr(text, 0, n < BINARY_PROBE ? (size_t)n : (size_t)BINARY_PROBE) != NULL;
    int truncated = !binary && st.size > PREVIEW_MAX;
    text[n] = '\0';

    char when[TIME_TEXT_MAX];
    time_text(st.mtime, when);
    struct OutBuf b = {0, 0, 0};
    buf_puts(&b, "{\"ok\":true,\"path\":");
    json_str(&b, canon);
    buf_puts(&b, ",\"name\":");
    json_str(&b, path_name(canon));
    buf_printf(&b, ",\"size\":%lld,\"mtime\":\"%s\",\"mode\":\"0644\"", st.size, when);
    buf_printf(&b, ",\"binary\":%s,\"truncated\":%s,\"bytes_read\":%lu", binary ? "true" : "false",
               truncated ? "true" : "false", (unsigned long)n);
    if (binary) {
        buf_puts(&b, "}\n");
        json_send(&b);
        return;
    }
    /* Every failure is settled by now, so the text can go out as it is
     * encoded: a mebibyte is never copied into a growing body, and no
     * allocation can fail half-way and leave the answer without its text. */
    buf_puts(&b, ",\"text\":");
    json_send(&b);
    json_write_str(text);
    out_puts("}\n");
}
