#include "page.h"

#include "response.h"

void page_write(void)
{
    struct OutBuf h = {};
    resp_head(&h, 200, RESP_PAGE, NULL);
    if (!resp_send_head(&h))
        return;
    /* Straight from the constants, each piece in one write: nothing is
     * assembled in memory. */
    size_t start = 0;
    for (size_t i = 0; i < page_template_len; i++) {
        char c = page_template[i];
        if (c != PAGE_MARK_BLOCK && c != PAGE_MARK_BRIDGE)
            continue;
        resp_body(page_template + start, i - start);
        if (c == PAGE_MARK_BLOCK)
            resp_body(page_theme_block, page_theme_block_len);
        else
            resp_body(page_theme_bridge, page_theme_bridge_len);
        start = i + 1;
    }
    resp_body(page_template + start, page_template_len - start);
}
