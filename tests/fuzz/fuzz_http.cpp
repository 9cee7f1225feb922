/* The request-header parsers against their contracts. Input: a selector
 * byte, eight bytes of file size, then the header text. Whatever the text:
 *   - a range lies inside the file, a whole answer is the file, and an
 *     unsatisfiable one is never asked of a range that would fit;
 *   - a parsed date formats to a date that parses back to the same second;
 *   - the conditions answer without reading past the text (ASan sees it,
 *     the text being exactly its size on the heap). */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "harness.h"
#include "http.h"

static void check_range(const char *text, long long size)
{
    struct HttpRange r;
    int kind = http_range(text, size, &r);
    if (kind == RANGE_PART && (r.first < 0 || r.len < 1 || r.first >= size || r.len > size - r.first))
        fail("a range outside the file", text);
    if (kind == RANGE_WHOLE && (r.first != 0 || r.len != size))
        fail("a whole answer that is not the file", text);
}

static void check_date(const char *text, long long now)
{
    long long t, again;
    char formatted[HTTP_DATE_MAX];
    if (!http_parse_date(text, now, &t) || !http_date(t, formatted))
        return;
    if (!http_parse_date(formatted, now, &again) || again != t)
        fail("a date that does not come back from its own text", std::string(text) + "\n" + formatted);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t len)
{
    if (len < 9)
        return 0;
    uint64_t raw_size;
    memcpy(&raw_size, data + 1, 8);
    long long size = (long long)(raw_size >> (data[0] & 63) >> 1);
    std::string copy((const char *)data + 9, len - 9);
    char *text = (char *)malloc(strlen(copy.c_str()) + 1);
    memcpy(text, copy.c_str(), strlen(copy.c_str()) + 1);
    const long long now = 1709647629;
    struct HttpValidators v;
    http_validators(size, now - 3600, 5, now, &v);
    check_range(text, size);
    check_date(text, now);
    http_if_range(text, &v, now);
    http_not_modified(text, text, &v, now);
    http_not_modified(NULL, text, &v, now);
    http_precondition_failed(text, text, &v, now);
    http_precondition_failed(NULL, text, &v, now);
    free(text);
    return 0;
}
