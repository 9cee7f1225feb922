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
 * not looked at again); 0 when they need more than size - 1 bytes, else 1,
 * or 2 when a NUL byte was among them. An escape is decoded only when both
 * its digits lie inside the value. */
static int url_decode(const char *val, size_t n, char *out, size_t size)
{
    int nul = 0;
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
        nul |= c == '\0';
        out[w++] = c;
    }
    out[w] = '\0';
    return 1 + nul;
}

/* The raw value of the first parameter called `name` that starts at p or
 * after it, or NULL; p is the query or the "&" that ends a value. */
static const char *find_param(const char *p, const char *name)
{
    size_t name_len = strlen(name);
    for (;;) {
        if (strncmp(p, name, name_len) == 0 && p[name_len] == '=')
            return p + name_len + 1;
        p = strchr(p, '&');
        if (!p || p[1] == '\0')
            return NULL;
        p++;
    }
}

enum QueryFound query_next_val(const char **at, const char *name, char *out, size_t size)
{
    out[0] = '\0';
    if (!*at || !**at)
        return QUERY_ABSENT;
    const char *val = find_param(*at, name);
    if (!val)
        return QUERY_ABSENT;
    size_t raw_len = strcspn(val, "&");
    *at = val + raw_len;
    int decoded = url_decode(val, raw_len, out, size);
    if (decoded)
        return decoded == 2 ? QUERY_HELD_NUL : QUERY_FOUND;
    out[0] = '\0';
    return QUERY_TOO_LONG;
}

enum QueryFound get_query_val(const char *query, const char *name, char *out, size_t size)
{
    return query_next_val(&query, name, out, size);
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
