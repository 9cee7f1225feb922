#include "query.h"

#include <string.h>


static int hex_val(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* In place, left to right: the write position never passes the read one, and
 * decoded bytes are not looked at again. */
static void url_decode(char *s)
{
    char *w = s;
    for (const char *r = s; *r; r++) {
        int hi, lo;
        if (*r == '%' && (hi = hex_val(r[1])) >= 0 && (lo = hex_val(r[2])) >= 0) {
            *w++ = (char)(hi << 4 | lo);
            r += 2;
        } else {
            *w++ = *r == '+' ? ' ' : *r;
        }
    }
    *w = '\0';
}

/* The raw value of the first parameter called `name`, or NULL. */
static const char *find_param(const char *query, const char *name)
{
    size_t name_len = strlen(name);
    const char *p = query;
    for (;;) {
        if (strncmp(p, name, name_len) == 0 && p[name_len] == '=')
            return p + name_len + 1;
        p = strchr(p, '&');
        if (!p || p[1] == '\0')
            return NULL;
        p++;
    }
}

int get_query_val(const char *query, const char *name, char *out, size_t size)
{
    out[0] = '\0';
    if (!query || !*query)
        return 0;
    const char *val = find_param(query, name);
    if (!val)
        return 0;
    size_t n = strcspn(val, "&");
    if (n > size - 1)
        n = size - 1;
    memcpy(out, val, n);
    out[n] = '\0';
    url_decode(out);
    return 1;
}

int query_flag(const char *query, const char *name)
{
    char val[8];
    if (!get_query_val(query, name, val, sizeof val))
        return 0;
    return strcmp(val, "1") == 0 || strcmp(val, "true") == 0;
}
