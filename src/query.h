/* The one way a request parameter enters the program. */
#ifndef PLUGIN_FILES_QUERY_H
#define PLUGIN_FILES_QUERY_H

#include <stddef.h>

/* Looks up `name` in the raw query (names compared undecoded and exactly)
 * and leaves its value, cut to size - 1 bytes and then percent-decoded, in
 * out. 1 when the parameter is present, even with an empty value; 0
 * otherwise. out always ends up NUL-terminated. */
int get_query_val(const char *query, const char *name, char *out, size_t size);

/* A flag parameter: present with exactly "1" or "true". */
int query_flag(const char *query, const char *name);

#endif
