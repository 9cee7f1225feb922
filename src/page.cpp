#include "page.h"

#include "out.h"

void page_write(void)
{
    out_puts("Content-Type: text/html; charset=utf-8\r\n"
             "Cache-Control: no-store\r\n"
             "X-Content-Type-Options: nosniff\r\n"
             "X-Frame-Options: SAMEORIGIN\r\n"
             "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
             "style-src 'unsafe-inline'; img-src 'self' data:; media-src 'self'; connect-src 'self'; "
             "form-action 'none'; base-uri 'none'\r\n"
             "\r\n");
    /* Straight from the constants, each piece in one write: nothing is
     * assembled in memory. */
    size_t start = 0;
    for (size_t i = 0; i < page_template_len; i++) {
        char c = page_template[i];
        if (c != PAGE_MARK_BLOCK && c != PAGE_MARK_BRIDGE)
            continue;
        out_write(page_template + start, i - start);
        if (c == PAGE_MARK_BLOCK)
            out_write(page_theme_block, page_theme_block_len);
        else
            out_write(page_theme_bridge, page_theme_bridge_len);
        start = i + 1;
    }
    out_write(page_template + start, page_template_len - start);
}
