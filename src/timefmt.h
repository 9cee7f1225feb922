/* File times as the answers spell them, and the calendar beneath them. */
#ifndef PLUGIN_FILES_TIMEFMT_H
#define PLUGIN_FILES_TIMEFMT_H

enum { TIME_TEXT_MAX = 32 };

/* "%Y-%m-%dT%H:%M:%SZ" in UTC for 1970-01-01T00:00:01Z through
 * 9999-12-31T23:59:59Z; "" for any other time, 0 and negative included. */
void time_text(long long t, char out[TIME_TEXT_MAX]);

/* A moment in UTC on the proleptic Gregorian calendar. wday counts from
 * Sunday (0); month from 1. */
struct TimeParts {
    int year, month, day, hour, min, sec, wday;
};

/* The parts of t seconds since 1970: 1 for 0 <= t <= 9999-12-31T23:59:59Z,
 * else 0. */
int time_parts(long long t, struct TimeParts *p);
/* Seconds since 1970 of year, month, day, hour, min and sec (wday is not
 * looked at). The fields are taken as valid; sec may be 60. */
long long time_from_parts(const struct TimeParts *p);
/* Days in a month of a year, 0 for a month outside 1 to 12. */
int time_month_days(int year, int month);
/* The MS-DOS date (high 16 bits) and time (low 16 bits) of t in UTC, to two
 * seconds; times before 1980 give its first second and times after 2107 its
 * last. */
unsigned long time_dos(long long t);

#endif
