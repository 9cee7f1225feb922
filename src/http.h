/* The request-header rules of file delivery: validators, the byte range a
 * request asks for, and the conditions under which the client's copy is
 * current. Pure functions of header values (NULL: the header is absent) and
 * of the file's facts; `now` is the current time in seconds since 1970. */
#ifndef PLUGIN_FILES_HTTP_H
#define PLUGIN_FILES_HTTP_H

enum { HTTP_DATE_MAX = 32, HTTP_ETAG_MAX = 64 };

struct HttpValidators {
    char etag[HTTP_ETAG_MAX]; /* strong entity tag, quotes included */
    char date[HTTP_DATE_MAX]; /* Last-Modified; "" when the time has no date */
    long long modified;       /* the second that date names */
};

/* A strong tag that changes with the size or the modification time (seconds
 * and nanoseconds); a Last-Modified that never lies in the future. */
void http_validators(long long size, long long mtime, long nsec, long long now, struct HttpValidators *v);
/* The same for something made from the file (a thumbnail of one size):
 * `variant` (a few letters and digits) joins the tag, so that no two things
 * made from one version of a file share one. */
void http_validators_of(long long size, long long mtime, long nsec, long long now, const char *variant,
                        struct HttpValidators *v);

/* t as an IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"): 1, or 0 with ""
 * for a time before 1970 or after 9999. */
int http_date(long long t, char out[HTTP_DATE_MAX]);
/* An HTTP-date in any of its three forms: 1 with the time, 0 when the text
 * is not exactly one. */
int http_parse_date(const char *s, long long now, long long *t);

enum { RANGE_WHOLE, RANGE_PART, RANGE_UNSATISFIABLE };
/* The bytes to send: from first, len of them. */
struct HttpRange {
    long long first;
    long long len;
};
/* What a Range value asks of a file of `size` bytes: RANGE_PART with the
 * clipped range, RANGE_UNSATISFIABLE, or RANGE_WHOLE (absent, malformed,
 * another unit, several ranges) with the whole file in r. */
int http_range(const char *spec, long long size, struct HttpRange *r);
/* 1 when an If-Range value lets a range stand: absent, the current tag by
 * strong comparison, or exactly the Last-Modified date. */
int http_if_range(const char *value, const struct HttpValidators *v, long long now);
/* 1 when If-Match (strong comparison, or "*") names no current tag, or,
 * without it, If-Unmodified-Since is a valid date before the modification. */
int http_precondition_failed(const char *match, const char *unmodified_since, const struct HttpValidators *v,
                             long long now);
/* 1 when If-None-Match matches (weak comparison, or "*"), or, without it,
 * If-Modified-Since is a valid date at or after the modification. */
int http_not_modified(const char *none_match, const char *modified_since, const struct HttpValidators *v,
                      long long now);

#endif
