#include "config.h"

#include <stdlib.h>

#include "str.h"

long long config_limit(const char *name, long long fallback, long long ceiling)
{
    const char *text = getenv(name);
    const char *end;
    long long v;
    if (!text || str_decimal(text, &end, &v) != 1 || *end || v > ceiling)
        return fallback;
    return v;
}
