/* Small string helpers over fixed buffers, shared by every module. */
#ifndef PLUGIN_FILES_STR_H
#define PLUGIN_FILES_STR_H

#include <stddef.h>

/* Bounded copy: at most size - 1 bytes and a NUL; nothing when dst is NULL
 * or size is 0. */
void str_copy(char *dst, size_t size, const char *src);

/* The decimal number of one or more digits at s, with *end after them: 1,
 * 2 when it is too large for a long long (*v then holds the largest), 0
 * with *end = s when s starts with no digit. */
int str_decimal(const char *s, const char **end, long long *v);

/* c with A-Z lowered and every other byte kept, as tolower does in the C
 * locale. A table the compiler fills: the listing folds every byte of every
 * name it sorts. */
struct AsciiLower {
    unsigned char of[256];
    constexpr AsciiLower() : of()
    {
        for (int c = 0; c < 256; c++)
            of[c] = (unsigned char)(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
};
inline constexpr AsciiLower g_ascii_lower;

static inline unsigned char str_lower(unsigned char c)
{
    return g_ascii_lower.of[c];
}

#endif
