/* One whole request. Input: a flags byte, then QUERY_STRING, the
 * X-Kiv-Password header, the Authorization header, Range, If-Range,
 * If-None-Match and If-Modified-Since, separated by NUL bytes. Flags: 1
 * query present, 2 node password set, 4 header present, 8 Authorization
 * present, 16 a HEAD request (else GET), 32 Range present, 64 If-Range
 * present, 128 the other two conditions present. Besides the rules of
 * check_response:
 *   - the password is never written back, and a refusal is the fixed 401;
 *   - without a node password, or with the right header, nothing is refused;
 *   - a successful ls, read or raw names a path that really resolves under a
 *     root, and raw sends exactly that file's bytes. */
#include <stdint.h>
#include <string.h>

#include <string>

#include "harness.h"

static const char PASSWORD[] = "pw-Z9q";
static const char REFUSAL[] =
    "Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n"
    "{\"ok\":false,\"error\":\"invalid node password\"}\n";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t len)
{
    if (len < 1)
        return 0;
    unsigned flags = data[0];
    std::string rest((const char *)data + 1, len - 1);
    std::string parts[7];
    for (size_t i = 0, at = 0; i < 7 && at <= rest.size(); i++) {
        size_t nul = rest.find('\0', at);
        parts[i] = rest.substr(at, nul == std::string::npos ? std::string::npos : nul - at);
        at = nul == std::string::npos ? rest.size() + 1 : nul + 1;
    }
    Request req = {flags & 1 ? parts[0].c_str() : NULL, flags & 2 ? PASSWORD : NULL,
                   flags & 4 ? parts[1].c_str() : NULL, flags & 8 ? parts[2].c_str() : NULL,
                   flags & 16 ? "HEAD" : "GET", flags & 32 ? parts[3].c_str() : NULL,
                   flags & 64 ? parts[4].c_str() : NULL, flags & 128 ? parts[5].c_str() : NULL,
                   flags & 128 ? parts[6].c_str() : NULL};
    std::string out = fx_run(&req);
    Answer ans;
    if (const char *broken = check_response(out, &ans))
        fail(broken, out);
    if (out.find(PASSWORD) != std::string::npos)
        fail("the password was written back", out);
    if (ans.status == 401 && out != (flags & 16 ? std::string(REFUSAL, strstr(REFUSAL, "\r\n\r\n") + 4) : REFUSAL))
        fail("a refusal that is not the fixed 401", out);
    int must_admit = !req.password || (req.header && strcmp(req.header, PASSWORD) == 0);
    if (must_admit && ans.status == 401)
        fail("refused a request that presented the password or needed none", out);
    if (req.query)
        if (const char *broken = check_served(req.query, ans))
            fail(broken, out);
    return 0;
}
