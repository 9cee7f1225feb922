#include "gate.h"

#include <stdlib.h>
#include <string.h>

#include "json.h"
#include "query.h"

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

int gate_admits(void)
{
    const char *want = getenv("KIV_PASSWORD");
    if (!want || !*want)
        return 1;
    const char *header = getenv("HTTP_X_KIV_PASSWORD");
    if (header && pwd_equal(header, want))
        return 1;
    const char *auth = getenv("HTTP_AUTHORIZATION");
    if (auth && pwd_equal(bearer_credential(auth), want))
        return 1;
    char pwd[PWD_PARAM_MAX];
    return get_query_val(getenv("QUERY_STRING"), "pwd", pwd, sizeof pwd) && pwd_equal(pwd, want);
}

void gate_refuse(void)
{
    json_err(401, "invalid node password");
}
