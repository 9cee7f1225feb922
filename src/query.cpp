#include "query.h"

#include <string.h>

#include "str.h"

/* A decimal value that does not fit this is too large anyway. */
enum { DECIMAL_TEXT_MAX = 64 };

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

/* The n raw bytes at val, decoded left to right into out (decoded bytes are
 * not looked at again); 0 when they need more than size - 1 bytes. An escape
 * is decoded only when both its digits lie inside the value. */
static int url_decode(const char *val, size_t n, char *out, size_t size)
{
    size_t w = 0;
    for (size_t r = 0; r < n; r++) {
        int hi, lo;
        char c = val[r] == '+' ? ' ' : val[r];
        if (val[r] == '%' && r + 2 < n && (hi = hex_val(val[r + 1])) >= 0 && (lo = hex_val(val[r + 2])) >= 0) {
            c = (char)(hi << 4 | lo);
            r += 2;
        }
        if (w == size - 1)
            return 0;
        out[w++] = c;
    }
    out[w] = '\0';
    return 1;
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

enum QueryFound get_query_val(const char *query, const char *name, char *out, size_t size)
{
    out[0] = '\0';
    if (!query || !*query)
        return QUERY_ABSENT;
    const char *val = find_param(query, name);
    if (!val)
        return QUERY_ABSENT;
    if (url_decode(val, strcspn(val, "&"), out, size))
        return QUERY_FOUND;
    out[0] = '\0';
    return QUERY_TOO_LONG;
}

int query_flag(const char *query, const char *name)
{
    char val[8];
    if (get_query_val(query, name, val, sizeof val) != QUERY_FOUND)
        return 0;
    return strcmp(val, "1") == 0 || strcmp(val, "true") == 0;
}

int query_decimal(const char *query, const char *name, long long *value, int *present)
{
    char text[DECIMAL_TEXT_MAX];
    const char *end;
    enum QueryFound found = get_query_val(query, name, text, sizeof text);
    *value = 0;
    *present = found != QUERY_ABSENT;
    if (found == QUERY_ABSENT)
        return 1;
    return found == QUERY_FOUND && str_decimal(text, &end, value) == 1 && !*end;
}
