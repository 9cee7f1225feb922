#include "timefmt.h"

#include <string.h>

static const long long LAST_SECOND = 253402300799LL; /* 9999-12-31T23:59:59Z */

/* Days since 1970-01-01 to a proleptic Gregorian date, by whole 400-year
 * eras, so no library time zone or range enters the answer. */
static void civil_from_days(long long days, int *y, int *m, int *d)
{
    days += 719468;
    long long era = days / 146097;
    long long doe = days - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    *d = (int)(doy - (153 * mp + 2) / 5 + 1);
    *m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *y = (int)(yoe + era * 400 + (*m <= 2));
}

/* The inverse, for years 0 and later. */
static long long days_from_civil(int y, int m, int d)
{
    y -= m <= 2;
    long long era = y / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int time_parts(long long t, struct TimeParts *p)
{
    if (t < 0 || t > LAST_SECOND)
        return 0;
    int secs = (int)(t % 86400);
    civil_from_days(t / 86400, &p->year, &p->month, &p->day);
    p->hour = secs / 3600;
    p->min = secs / 60 % 60;
    p->sec = secs % 60;
    p->wday = (int)((t / 86400 + 4) % 7); /* 1970-01-01 was a Thursday */
    return 1;
}

long long time_from_parts(const struct TimeParts *p)
{
    return days_from_civil(p->year, p->month, p->day) * 86400 + p->hour * 3600 + p->min * 60 + p->sec;
}

int time_month_days(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    int leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return days[month - 1] + (month == 2 && leap);
}

/* `width` decimal digits of v, then `sep`. */
static char *put_field(char *w, int v, int width, char sep)
{
    for (int i = width - 1; i >= 0; i--, v /= 10)
        w[i] = (char)('0' + v % 10);
    w[width] = sep;
    return w + width + 1;
}

void time_text(long long t, char out[TIME_TEXT_MAX])
{
    /* A listing asks for thousands of times that mostly fall on a few
     * days: the date part of the last day asked for is kept. */
    static long long last_day = -1;
    static char date[11];
    out[0] = '\0';
    if (t <= 0 || t > LAST_SECOND)
        return;
    if (t / 86400 != last_day) {
        int y, m, d;
        last_day = t / 86400;
        civil_from_days(last_day, &y, &m, &d);
        char *w = put_field(date, y, 4, '-');
        w = put_field(w, m, 2, '-');
        put_field(w, d, 2, 'T');
    }
    int secs = (int)(t % 86400);
    memcpy(out, date, sizeof date);
    char *w = put_field(out + sizeof date, secs / 3600, 2, ':');
    w = put_field(w, secs / 60 % 60, 2, ':');
    w = put_field(w, secs % 60, 2, 'Z');
    *w = '\0';
}

unsigned long time_dos(long long t)
{
    const long long first = 315532800LL;  /* 1980-01-01T00:00:00Z */
    const long long last = 4354819198LL;  /* 2107-12-31T23:59:58Z */
    t = t < first ? first : t > last ? last : t;
    int y, m, d;
    int secs = (int)(t % 86400);
    civil_from_days(t / 86400, &y, &m, &d);
    unsigned long date = (unsigned long)((y - 1980) << 9 | m << 5 | d);
    unsigned long time = (unsigned long)(secs / 3600 << 11 | secs / 60 % 60 << 5 | secs % 60 / 2);
    return date << 16 | time;
}
