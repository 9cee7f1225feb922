#include "str.h"

#include <limits.h>
#include <string.h>

int str_decimal(const char *s, const char **end, long long *v)
{
    int fits = 1;
    *v = 0;
    *end = s;
    if (*s < '0' || *s > '9')
        return 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        int d = *s - '0';
        if (*v > (LLONG_MAX - d) / 10) {
            *v = LLONG_MAX;
            fits = 2;
        } else if (fits == 1) {
            *v = *v * 10 + d;
        }
    }
    *end = s;
    return fits;
}

void str_copy(char *dst, size_t size, const char *src)
{
    if (!dst || size == 0)
        return;
    if (!src)
        src = "";
    size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}
