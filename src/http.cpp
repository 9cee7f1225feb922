#include "http.h"

#include <stdio.h>
#include <string.h>

#include "str.h"
#include "timefmt.h"

static const char *const g_wday[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char *const g_wday_long[7] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                           "Thursday", "Friday", "Saturday"};
static const char *const g_month[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void http_validators(long long size, long long mtime, long nsec, long long now, struct HttpValidators *v)
{
    http_validators_of(size, mtime, nsec, now, "", v);
}

void http_validators_of(long long size, long long mtime, long nsec, long long now, const char *variant,
                        struct HttpValidators *v)
{
    snprintf(v->etag, sizeof v->etag, "\"%llx-%llx-%lx%s%s\"", (unsigned long long)size, (unsigned long long)mtime,
             (unsigned long)nsec, variant[0] ? "-" : "", variant);
    /* A time ahead of the clock is announced as now, so that a client never
     * holds a date that a later change could fall before. */
    v->modified = mtime < now ? mtime : now;
    http_date(v->modified, v->date);
}

int http_date(long long t, char out[HTTP_DATE_MAX])
{
    struct TimeParts p;
    out[0] = '\0';
    if (!time_parts(t, &p))
        return 0;
    snprintf(out, HTTP_DATE_MAX, "%s, %02d %s %04d %02d:%02d:%02d GMT", g_wday[p.wday], p.day,
             g_month[p.month - 1], p.year, p.hour, p.min, p.sec);
    return 1;
}

static int eat(const char **p, const char *lit)
{
    size_t n = strlen(lit);
    if (strncmp(*p, lit, n) != 0)
        return 0;
    *p += n;
    return 1;
}

/* The index of the name in `names` that the text starts with, or -1. */
static int eat_name(const char **p, const char *const *names, int count)
{
    for (int i = 0; i < count; i++)
        if (eat(p, names[i]))
            return i;
    return -1;
}

/* Exactly `width` digits; a leading space stands for a zero when `pad`. */
static int eat_digits(const char **p, int width, int pad, int *v)
{
    const char *s = *p;
    *v = 0;
    for (int i = 0; i < width; i++) {
        if (pad && i == 0 && s[i] == ' ')
            continue;
        if (s[i] < '0' || s[i] > '9')
            return 0;
        *v = *v * 10 + (s[i] - '0');
    }
    *p += width;
    return 1;
}

static int eat_time_of_day(const char **p, struct TimeParts *t)
{
    return eat_digits(p, 2, 0, &t->hour) && eat(p, ":") && eat_digits(p, 2, 0, &t->min) && eat(p, ":") &&
           eat_digits(p, 2, 0, &t->sec) && t->hour < 24 && t->min < 60 && t->sec <= 60;
}

static int eat_month(const char **p, struct TimeParts *t)
{
    t->month = eat_name(p, g_month, 12) + 1;
    return t->month > 0;
}

/* ", 06 Nov 1994 08:49:37 GMT" */
static int fixdate_rest(const char *p, struct TimeParts *t)
{
    return eat(&p, ", ") && eat_digits(&p, 2, 0, &t->day) && eat(&p, " ") && eat_month(&p, t) && eat(&p, " ") &&
           eat_digits(&p, 4, 0, &t->year) && eat(&p, " ") && eat_time_of_day(&p, t) && eat(&p, " GMT") && !*p;
}

/* ", 06-Nov-94 08:49:37 GMT": a two-digit year more than 50 years ahead of
 * now means the century before. */
static int rfc850_rest(const char *p, long long now, struct TimeParts *t)
{
    struct TimeParts today;
    int yy;
    if (!(eat(&p, ", ") && eat_digits(&p, 2, 0, &t->day) && eat(&p, "-") && eat_month(&p, t) && eat(&p, "-") &&
          eat_digits(&p, 2, 0, &yy) && eat(&p, " ") && eat_time_of_day(&p, t) && eat(&p, " GMT") && !*p))
        return 0;
    int this_year = time_parts(now, &today) ? today.year : 1970;
    t->year = this_year - this_year % 100 + yy;
    if (t->year > this_year + 50)
        t->year -= 100;
    return 1;
}

/* " Nov  6 08:49:37 1994" */
static int asctime_rest(const char *p, struct TimeParts *t)
{
    return eat(&p, " ") && eat_month(&p, t) && eat(&p, " ") && eat_digits(&p, 2, 1, &t->day) && eat(&p, " ") &&
           eat_time_of_day(&p, t) && eat(&p, " ") && eat_digits(&p, 4, 0, &t->year) && !*p;
}

int http_parse_date(const char *s, long long now, long long *t)
{
    struct TimeParts parts;
    const char *p = s;
    int ok;
    if (eat_name(&p, g_wday_long, 7) >= 0)
        ok = rfc850_rest(p, now, &parts);
    else if (eat_name(&p, g_wday, 7) >= 0)
        ok = *p == ',' ? fixdate_rest(p, &parts) : asctime_rest(p, &parts);
    else
        ok = 0;
    if (!ok || parts.day < 1 || parts.day > time_month_days(parts.year, parts.month))
        return 0;
    *t = time_from_parts(&parts);
    return 1;
}

static const char *skip_ows(const char *p)
{
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

/* first-pos "-" [last-pos], or "-" suffix-length (first then -1); last is -1
 * when open. Numbers too large to hold count as the largest. */
static int range_spec(const char **p, long long *first, long long *last)
{
    const char *s = *p;
    *first = *last = -1;
    if (*s != '-' && !str_decimal(s, &s, first))
        return 0;
    s = skip_ows(s);
    if (*s++ != '-')
        return 0;
    s = skip_ows(s);
    if (*s >= '0' && *s <= '9')
        str_decimal(s, &s, last);
    else if (*first < 0)
        return 0;
    *p = s;
    return *first < 0 || *last < 0 || *last >= *first;
}

static int range_of(long long first, long long last, long long size, struct HttpRange *r)
{
    if (first < 0) {
        if (last == 0 || size == 0)
            return RANGE_UNSATISFIABLE;
        first = last >= size ? 0 : size - last;
        last = size - 1;
    }
    if (first >= size)
        return RANGE_UNSATISFIABLE;
    if (last < 0 || last >= size)
        last = size - 1;
    r->first = first;
    r->len = last - first + 1;
    return RANGE_PART;
}

int http_range(const char *spec, long long size, struct HttpRange *r)
{
    long long first = -1, last = -1;
    int specs = 0;
    r->first = 0;
    r->len = size;
    if (!spec)
        return RANGE_WHOLE;
    const char *p = skip_ows(spec);
    for (const char *unit = "bytes"; *unit; unit++, p++)
        if (str_lower((unsigned char)*p) != (unsigned char)*unit)
            return RANGE_WHOLE;
    p = skip_ows(p);
    if (*p++ != '=')
        return RANGE_WHOLE;
    /* A list may hold empty elements; they are passed over. */
    for (;;) {
        p = skip_ows(p);
        if (*p == ',') {
            p++;
            continue;
        }
        if (!*p)
            break;
        if (++specs > 1 || !range_spec(&p, &first, &last))
            return RANGE_WHOLE;
        p = skip_ows(p);
        if (*p && *p != ',')
            return RANGE_WHOLE;
    }
    if (specs == 0)
        return RANGE_WHOLE;
    return range_of(first, last, size, r);
}

/* One entity tag at *p ([W/]"opaque"): 1 with its quoted part in tag and len
 * and whether it is weak; 0 when the text is not one. */
static int eat_tag(const char **p, const char **tag, size_t *len, int *weak)
{
    const char *s = *p;
    *weak = eat(&s, "W/");
    if (*s != '"')
        return 0;
    const char *close = strchr(s + 1, '"');
    if (!close)
        return 0;
    *tag = s;
    *len = (size_t)(close + 1 - s);
    *p = close + 1;
    return 1;
}

static int same_tag(const char *tag, size_t len, const char *etag)
{
    return len == strlen(etag) && memcmp(tag, etag, len) == 0;
}

int http_if_range(const char *value, const struct HttpValidators *v, long long now)
{
    const char *tag;
    size_t len;
    int weak;
    long long t;
    if (!value)
        return 1;
    const char *p = skip_ows(value);
    if (*p == '"' || (p[0] == 'W' && p[1] == '/'))
        return eat_tag(&p, &tag, &len, &weak) && !weak && !*skip_ows(p) && same_tag(tag, len, v->etag);
    return v->date[0] && http_parse_date(p, now, &t) && t == v->modified;
}

/* "*" or a list of tags, one of which is the current one; by strong
 * comparison a weak tag matches nothing. A list that stops making sense
 * matches nothing further. */
static int list_matches(const char *value, const char *etag, int strong)
{
    const char *tag;
    size_t len;
    int weak;
    const char *p = skip_ows(value);
    if (*p == '*')
        return !*skip_ows(p + 1);
    for (;;) {
        while (*p == ',' || *p == ' ' || *p == '\t')
            p++;
        if (!*p || !eat_tag(&p, &tag, &len, &weak))
            return 0;
        if (!(strong && weak) && same_tag(tag, len, etag))
            return 1;
        p = skip_ows(p);
        if (*p && *p != ',')
            return 0;
    }
}

/* 1 when the header holds a valid date and the file has one, with *later
 * set when the modification came after it. */
static int compare_date(const char *value, const struct HttpValidators *v, long long now, int *later)
{
    long long t;
    if (!value || !v->date[0] || !http_parse_date(value, now, &t))
        return 0;
    *later = v->modified > t;
    return 1;
}

int http_precondition_failed(const char *match, const char *unmodified_since, const struct HttpValidators *v,
                             long long now)
{
    int later;
    if (match)
        return !list_matches(match, v->etag, 1);
    return compare_date(unmodified_since, v, now, &later) && later;
}

int http_not_modified(const char *none_match_value, const char *modified_since, const struct HttpValidators *v,
                      long long now)
{
    int later;
    if (none_match_value)
        return list_matches(none_match_value, v->etag, 0);
    return compare_date(modified_since, v, now, &later) && !later;
}
