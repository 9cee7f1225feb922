/* The browser page: the same bytes for every request. */
#ifndef PLUGIN_FILES_PAGE_H
#define PLUGIN_FILES_PAGE_H

#include <stddef.h>

/* The three constant texts, generated at build time from src/page/. The
 * template holds the byte 0x01 where the theme block goes and 0x02 where the
 * theme bridge goes, each exactly once. */
extern const char page_template[];
extern const size_t page_template_len;
extern const char page_theme_block[];
extern const size_t page_theme_block_len;
extern const char page_theme_bridge[];
extern const size_t page_theme_bridge_len;

enum { PAGE_MARK_BLOCK = 0x01, PAGE_MARK_BRIDGE = 0x02 };

void page_write(void);

#endif
