#include "gate.h"

#include <stdlib.h>
#include <string.h>

#include "json.h"
#include "query.h"
#include "str.h"

enum { PWD_PARAM_MAX = 256 };

int pwd_equal(const char *given, const char *want)
{
    size_t given_len = strlen(given);
    size_t want_len = strlen(want);
    unsigned char diff = given_len != want_len;
    for (size_t i = 0; i < given_len; i++) {
        size_t j = i < want_len ? i : 0;
        diff |= (unsigned char)(given[i] ^ want[j]);
    }
    return diff == 0;
}

/* "Bearer " (this exact case) and the spaces around it are not part of the
 * credential. */
static const char *bearer_credential(const char *auth)
{
    while (*auth == ' ')
        auth++;
    if (strncmp(auth, "Bearer ", 7) == 0) {
        auth += 7;
        while (*auth == ' ')
            auth++;
    }
    return auth;
}

/* 1 when one of the request's credentials is the password. */
static int presents(const char *want)
{
    const char *header = getenv("HTTP_X_KIV_PASSWORD");
    if (header && pwd_equal(header, want))
        return 1;
    const char *auth = getenv("HTTP_AUTHORIZATION");
    if (auth && pwd_equal(bearer_credential(auth), want))
        return 1;
    char pwd[PWD_PARAM_MAX];
    return get_query_val(getenv("QUERY_STRING"), "pwd", pwd, sizeof pwd) == QUERY_FOUND && pwd_equal(pwd, want);
}

static int is_digit(char c)
{
    return c >= '0' && c <= '9';
}

/* Nothing, or ":" and the digits of a port. */
static int port_or_nothing(const char *s)
{
    if (*s == '\0')
        return 1;
    if (*s++ != ':')
        return 0;
    while (is_digit(*s))
        s++;
    return *s == '\0';
}

/* Four decimal numbers of at most 255, of one to three digits each. */
static int is_ipv4(const char *s, size_t n)
{
    size_t i = 0;
    for (int part = 0; part < 4; part++) {
        int digits = 0, value = 0;
        if (part > 0 && (i == n || s[i++] != '.'))
            return 0;
        while (i < n && is_digit(s[i]) && digits < 3) {
            value = value * 10 + (s[i++] - '0');
            digits++;
        }
        if (digits == 0 || value > 255)
            return 0;
    }
    return i == n;
}

/* "[" hex digits, ":" and "." (an IPv4 tail) "]", with at least one ":". */
static int is_ipv6(const char *s, size_t n)
{
    int colons = 0;
    if (n < 4 || s[0] != '[' || s[n - 1] != ']')
        return 0;
    for (size_t i = 1; i + 1 < n; i++) {
        char c = (char)str_lower((unsigned char)s[i]);
        if (!(is_digit(c) || (c >= 'a' && c <= 'f') || c == ':' || c == '.'))
            return 0;
        colons += c == ':';
    }
    return colons > 0;
}

/* The n bytes at s equal `name` but for the case of ASCII letters. */
static int same_name(const char *s, size_t n, const char *name, size_t name_len)
{
    if (n != name_len)
        return 0;
    for (size_t i = 0; i < n; i++)
        if (str_lower((unsigned char)s[i]) != str_lower((unsigned char)name[i]))
            return 0;
    return 1;
}

/* One of the ","-separated names of the list, spaces around it ignored. */
static int listed(const char *s, size_t n, const char *list)
{
    while (list && *list) {
        size_t len = strcspn(list, ",");
        const char *name = list;
        size_t name_len = len;
        while (name_len > 0 && *name == ' ') {
            name++;
            name_len--;
        }
        while (name_len > 0 && name[name_len - 1] == ' ')
            name_len--;
        if (name_len > 0 && same_name(s, n, name, name_len))
            return 1;
        list += len;
        if (*list == ',')
            list++;
    }
    return 0;
}

int gate_host_allowed(const char *host, const char *allowed)
{
    if (!host || !*host)
        return 1;
    const char *end = host[0] == '[' ? strchr(host, ']') : strchr(host, ':');
    if (host[0] == '[' && end)
        end++;
    if (!end)
        end = host + strlen(host);
    size_t n = (size_t)(end - host);
    if (n == 0 || !port_or_nothing(end))
        return 0;
    return is_ipv4(host, n) || is_ipv6(host, n) || same_name(host, n, "localhost", 9) || listed(host, n, allowed);
}

int gate_admits(int page)
{
    const char *want = getenv("KIV_PASSWORD");
    if (want && *want) {
        if (page || presents(want))
            return 1;
        json_err(401, "invalid node password");
        return 0;
    }
    if (gate_host_allowed(getenv("HTTP_HOST"), getenv("FILES_ALLOWED_HOSTS")))
        return 1;
    json_err(403, "host not allowed");
    return 0;
}
