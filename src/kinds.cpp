#include "kinds.h"

#include <string.h>

#include "str.h"

static const struct {
    const char *ext; /* lower case, without the dot */
    const char *type;
    int shown_inline;
} g_kinds[] = {
#include "kinds_table.inc"
};

static const char TEXT_PLAIN[] = "text/plain; charset=utf-8";
static const char OCTETS[] = "application/octet-stream";

static int ext_matches(const char *ext, size_t len, const char *row)
{
    if (strlen(row) != len)
        return 0;
    for (size_t i = 0; i < len; i++)
        if (str_lower((unsigned char)ext[i]) != (unsigned char)row[i])
            return 0;
    return 1;
}

/* The row for the name's extension, or -1. */
static int kind_row(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (!dot || !dot[1])
        return -1;
    size_t len = strlen(dot + 1);
    for (size_t i = 0; i < sizeof g_kinds / sizeof g_kinds[0]; i++)
        if (ext_matches(dot + 1, len, g_kinds[i].ext))
            return (int)i;
    return -1;
}

/* A page of markup without a row of its own still goes out as text, so that
 * no script in it runs. */
const char *kind_type(const char *name)
{
    int row = kind_row(name);
    if (row >= 0)
        return g_kinds[row].type;
    const char *dot = strrchr(name, '.');
    return dot && strstr(dot + 1, "htm") ? TEXT_PLAIN : OCTETS;
}

int kind_inline(const char *name)
{
    int row = kind_row(name);
    return row >= 0 && g_kinds[row].shown_inline;
}

void disposition_name(const char *name, char *out, size_t size)
{
    str_copy(out, size, name);
    for (char *p = out; *p; p++)
        if (*p == '\\' || *p == '\n' || *p == '\r' || *p == '"')
            *p = '_';
}
