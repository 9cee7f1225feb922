/* File kinds as the server sees them: the media type raw announces for a
 * name, and whether the browser is to show it or save it. The rows come from
 * src/kinds.table, which also makes the page's table of previews. */
#ifndef PLUGIN_FILES_KINDS_H
#define PLUGIN_FILES_KINDS_H

#include <stddef.h>

/* The content type for a file name, by its extension in any case. */
const char *kind_type(const char *name);
/* 1 when the browser shows such a file (pictures, sound, film); 0 when it is
 * to be saved. */
int kind_inline(const char *name);
/* A file name as a quoted header value: bytes that could end the quotes or
 * the header line become "_". */
void disposition_name(const char *name, char *out, size_t size);

#endif
