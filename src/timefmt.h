/* File times as the answers spell them. */
#ifndef PLUGIN_FILES_TIMEFMT_H
#define PLUGIN_FILES_TIMEFMT_H

enum { TIME_TEXT_MAX = 32 };

/* "%Y-%m-%dT%H:%M:%SZ" in UTC for 1970-01-01T00:00:01Z through
 * 9999-12-31T23:59:59Z; "" for any other time, 0 and negative included. */
void time_text(long long t, char out[TIME_TEXT_MAX]);

/* The MS-DOS date (high 16 bits) and time (low 16 bits) of t in UTC, to two
 * seconds; times before 1980 give its first second and times after 2107 its
 * last. */
unsigned long time_dos(long long t);

#endif
