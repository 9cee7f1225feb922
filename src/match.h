/* Names as the folder search matches them: case folded (ASCII, and the
 * letters of the Latin, Greek and Cyrillic scripts by Unicode simple case
 * folding, on UTF-8), then either a part of the name or, when the query
 * holds "*" or "?", a pattern over the whole name. */
#ifndef PLUGIN_FILES_MATCH_H
#define PLUGIN_FILES_MATCH_H

#include <stddef.h>

/* Folding never makes a text more than half as long again (a two-byte
 * letter can fold to a three-byte one): room for the folded form of n
 * bytes. */
#define FOLD_ROOM(n) ((n) * 3 / 2 + 4)

/* The folded form of s[0..n) into out (FOLD_ROOM(n) bytes, NUL added): its
 * length. Bytes that are not UTF-8 pass unchanged. */
size_t fold_text(const char *s, size_t n, char *out);

enum { PATTERN_MAX = 1000 };

struct NamePattern {
    char text[FOLD_ROOM(PATTERN_MAX)];  /* the query, folded */
    size_t len;
    int glob;       /* "*" is any run of characters, "?" one character */
};

/* The pattern of a query of at most PATTERN_MAX bytes. */
void pattern_make(struct NamePattern *p, const char *query);
/* 1 when the name matches. */
int pattern_matches(const struct NamePattern *p, const char *name);

#endif
