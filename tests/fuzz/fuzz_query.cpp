/* The query reader against a model written from its contract: split the query
 * at "&", take the first piece that starts with "name=", percent-decode its
 * value; a decoded value longer than the buffer holds is reported and left
 * empty, never cut. The buffer is exactly `size` bytes on the heap, so any
 * write or read beyond it is caught. */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "harness.h"
#include "query.h"

static const char *g_names[] = {"action", "path", "pwd", "format", "hidden", "download", "a", "p"};

static std::string model_decode(const std::string &raw)
{
    std::string out;
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '%' && i + 2 < raw.size() && isxdigit((unsigned char)raw[i + 1]) &&
            isxdigit((unsigned char)raw[i + 2])) {
            out.push_back((char)strtol(raw.substr(i + 1, 2).c_str(), NULL, 16));
            i += 2;
        } else {
            out.push_back(raw[i] == '+' ? ' ' : raw[i]);
        }
    }
    return out;
}

static int model_get(const std::string &query, const std::string &name, size_t size, std::string *out)
{
    out->clear();
    std::string want = name + "=";
    size_t start = 0;
    while (start <= query.size() && !query.empty()) {
        size_t amp = query.find('&', start);
        std::string piece = query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        if (piece.compare(0, want.size(), want) == 0) {
            *out = model_decode(piece.substr(want.size()));
            if (out->size() > size - 1) {
                out->clear();
                return QUERY_TOO_LONG;
            }
            /* A decoded NUL ends the value for every caller. */
            out->resize(strlen(out->c_str()));
            return QUERY_FOUND;
        }
        if (amp == std::string::npos)
            break;
        start = amp + 1;
    }
    return QUERY_ABSENT;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t len)
{
    if (len < 3)
        return 0;
    size_t size = 1 + ((size_t)data[0] << 8 | data[1]) % 4200;
    const char *name = g_names[data[2] % (sizeof g_names / sizeof g_names[0])];
    std::string query((const char *)data + 3, len - 3);
    query.resize(strlen(query.c_str()));
    char *q = (char *)malloc(query.size() + 1);
    memcpy(q, query.c_str(), query.size() + 1);
    char *out = (char *)malloc(size);
    memset(out, 'X', size);
    int got = get_query_val(q, name, out, size);
    std::string want;
    int want_got = model_get(query, name, size, &want);
    if (got != want_got || strlen(out) >= size || want != out)
        fail("get_query_val differs from the model", query + "\nname " + name + "\ngot " + out + "\nwant " + want);
    free(out);
    free(q);
    return 0;
}
