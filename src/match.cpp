#include "match.h"

#include <string.h>

#include "listing.h"
#include "str.h"

struct FoldPair {
    unsigned short from, to;
};

/* Sorted by `from`. */
static const struct FoldPair g_folds[] = {
#include "casefold.inc"
};

static unsigned fold_point(unsigned cp)
{
    size_t lo = 0, hi = sizeof g_folds / sizeof g_folds[0];
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (g_folds[mid].from == cp)
            return g_folds[mid].to;
        if (g_folds[mid].from < cp)
            lo = mid + 1;
        else
            hi = mid;
    }
    return cp;
}

static int is_cont(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

/* The code point of the two- or three-byte sequence at s (n bytes left),
 * with *len its length; 0 when the bytes there are no such sequence. */
static unsigned decode(const unsigned char *s, size_t n, size_t *len)
{
    if (s[0] >= 0xC2 && s[0] <= 0xDF && n >= 2 && is_cont(s[1])) {
        *len = 2;
        return (unsigned)(s[0] & 0x1F) << 6 | (s[1] & 0x3F);
    }
    if (s[0] >= 0xE0 && s[0] <= 0xEF && n >= 3 && is_cont(s[1]) && is_cont(s[2])) {
        unsigned cp = (unsigned)(s[0] & 0x0F) << 12 | (unsigned)(s[1] & 0x3F) << 6 | (s[2] & 0x3F);
        *len = 3;
        return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? cp : 0;
    }
    return 0;
}

static size_t encode(unsigned cp, char *out)
{
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | cp >> 6);
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    out[0] = (char)(0xE0 | cp >> 12);
    out[1] = (char)(0x80 | (cp >> 6 & 0x3F));
    out[2] = (char)(0x80 | (cp & 0x3F));
    return 3;
}

size_t fold_text(const char *s, size_t n, char *out)
{
    const unsigned char *u = (const unsigned char *)s;
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        size_t len;
        unsigned cp = u[i] < 0x80 ? 0 : decode(u + i, n - i, &len);
        if (cp) {
            o += encode(fold_point(cp), out + o);
            i += len;
        } else {
            out[o++] = (char)str_lower(u[i++]);
        }
    }
    out[o] = '\0';
    return o;
}

void pattern_make(struct NamePattern *p, const char *query)
{
    size_t n = strnlen(query, PATTERN_MAX);
    p->len = fold_text(query, n, p->text);
    p->glob = strpbrk(p->text, "*?") != NULL;
}

/* One character: a lead byte and the continuation bytes after it. */
static size_t char_len(const char *s, size_t n)
{
    size_t i = 1;
    while (i < n && is_cont((unsigned char)s[i]))
        i++;
    return i;
}

/* The whole of s against the pattern; a star that fails to match is
 * retried one character further on, the last star only, which suffices
 * for patterns of stars, question marks and plain text. */
static int glob_matches(const char *p, size_t pn, const char *s, size_t sn)
{
    size_t pi = 0, si = 0, star = (size_t)-1, star_s = 0;
    while (si < sn) {
        if (pi < pn && p[pi] == '*') {
            star = ++pi;
            star_s = si;
        } else if (pi < pn && p[pi] == '?') {
            pi++;
            si += char_len(s + si, sn - si);
        } else if (pi < pn && p[pi] == s[si]) {
            pi++;
            si++;
        } else if (star == (size_t)-1) {
            return 0;
        } else {
            pi = star;
            star_s += char_len(s + star_s, sn - star_s);
            si = star_s;
        }
    }
    while (pi < pn && p[pi] == '*')
        pi++;
    return pi == pn;
}

static int part_of(const char *p, size_t pn, const char *s, size_t sn)
{
    for (const char *at = s; sn - (size_t)(at - s) >= pn;) {
        at = (const char *)memchr(at, p[0], sn - (size_t)(at - s) - pn + 1);
        if (!at)
            return 0;
        if (memcmp(at, p, pn) == 0)
            return 1;
        at++;
    }
    return 0;
}

int pattern_matches(const struct NamePattern *p, const char *name)
{
    char folded[FOLD_ROOM(ENT_NAME_MAX)];
    size_t n = fold_text(name, strnlen(name, ENT_NAME_MAX - 1), folded);
    return p->glob ? glob_matches(p->text, p->len, folded, n) : part_of(p->text, p->len, folded, n);
}
