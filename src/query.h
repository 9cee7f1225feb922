/* The one way a request parameter enters the program. */
#ifndef PLUGIN_FILES_QUERY_H
#define PLUGIN_FILES_QUERY_H

#include <stddef.h>

/* What a lookup found. */
enum QueryFound {
    QUERY_ABSENT = 0,
    QUERY_FOUND = 1,    /* present, even with an empty value */
    QUERY_TOO_LONG = 2, /* present, but longer decoded than the buffer */
    QUERY_HELD_NUL = 3  /* present, and decoded it held a NUL byte (%00), where
                           out ends: a word may stop there, a path must not, since
                           its part before the NUL can name another file */
};

/* Looks up `name` in the raw query (names compared undecoded and exactly)
 * and leaves its value, percent-decoded, in out, which holds size - 1 bytes
 * and the NUL. A value that does not fit is never cut: a cut path can name
 * another file that exists. out is then "", as it is for an absent one; it
 * always ends up NUL-terminated. */
enum QueryFound get_query_val(const char *query, const char *name, char *out, size_t size);

/* The same for a parameter that may come more than once: the next one
 * called `name` from *at on (the query itself at first), with *at moved
 * past its value; QUERY_ABSENT once there is none left. */
enum QueryFound query_next_val(const char **at, const char *name, char *out, size_t size);

/* A flag parameter: present with exactly "1" or "true". */
int query_flag(const char *query, const char *name);

/* A parameter that names a place or a count: 1 with *value and *present
 * (0 and 0 when it is absent); 0 when it is present but not a decimal
 * number of one or more digits that a long long holds. */
int query_decimal(const char *query, const char *name, long long *value, int *present);

#endif
