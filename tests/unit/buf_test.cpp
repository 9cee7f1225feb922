// The response buffer keeps its invariants through every append, its error
// is sticky, answers leave whole or not at all, and the JSON encoder escapes
// exactly what it must.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "buf.h"
#include "json.h"
#include "response.h"
#include "str.h"

namespace {

void expect_invariants(const OutBuf &b)
{
    if (!b.data) {
        EXPECT_EQ(b.len, 0u);
        EXPECT_EQ(b.cap, 0u);
        return;
    }
    EXPECT_LT(b.len, b.cap);
    EXPECT_EQ(b.data[b.len], '\0');
    EXPECT_EQ(b.cap % BUF_FIRST_CAP, 0u);
}

std::string encoded(const char *s)
{
    OutBuf b = {};
    json_str(&b, s);
    std::string r(buf_text(&b), b.len);
    buf_free(&b);
    return r;
}

TEST(OutBuf, ZeroBufferIsEmptyText)
{
    OutBuf b = {};
    EXPECT_STREQ(buf_text(&b), "");
    expect_invariants(b);
}

TEST(OutBuf, FirstAppendAllocatesOneKibibyte)
{
    OutBuf b = {};
    buf_putc(&b, 'x');
    EXPECT_EQ(b.cap, 1024u);
    EXPECT_STREQ(buf_text(&b), "x");
    expect_invariants(b);
    buf_free(&b);
}

TEST(OutBuf, NulNeedsTheByteAfterAFullKibibyte)
{
    OutBuf b = {};
    std::string k(1023, 'a');
    buf_puts(&b, k.c_str());
    EXPECT_EQ(b.cap, 1024u);
    buf_putc(&b, 'b');
    EXPECT_EQ(b.cap, 2048u);
    EXPECT_EQ(b.len, 1024u);
    expect_invariants(b);
    buf_free(&b);
}

TEST(OutBuf, GrowsByDoublingAndKeepsEveryByte)
{
    OutBuf b = {};
    std::string want;
    for (int i = 0; i < 5000; i++) {
        buf_printf(&b, "%d,", i);
        want += std::to_string(i) + ",";
        expect_invariants(b);
    }
    EXPECT_EQ(std::string(b.data, b.len), want);
    EXPECT_EQ(b.cap, 32768u);
    buf_free(&b);
}

TEST(OutBuf, LongFormattedTextIsAppendedWhole)
{
    OutBuf b = {};
    std::string s(5000, 'z');
    buf_puts(&b, "<");
    buf_printf(&b, "%s>", s.c_str());
    EXPECT_EQ(std::string(b.data, b.len), "<" + s + ">");
    expect_invariants(b);
    buf_free(&b);
}

TEST(OutBuf, IntegersAsPrintfWritesThem)
{
    const long long cases[] = {0, 7, 10, -1, 1048576, 67108865, 9223372036854775807LL,
                               -9223372036854775807LL - 1};
    for (long long v : cases) {
        OutBuf b = {};
        buf_puts(&b, "n=");
        buf_put_int(&b, v);
        EXPECT_EQ(std::string(b.data, b.len), "n=" + std::to_string(v)) << v;
        expect_invariants(b);
        buf_free(&b);
    }
}

TEST(OutBuf, RefusedGrowthReleasesTheIncompleteTextAndMarksIt)
{
    for (size_t refused : {BUF_MAX_CAP, (size_t)-1}) {
        OutBuf b = {};
        buf_puts(&b, "kept");
        EXPECT_EQ(b.failed, 0);
        EXPECT_EQ(buf_need(&b, refused), 0);
        EXPECT_EQ(b.failed, 1);
        EXPECT_STREQ(buf_text(&b), "");
        expect_invariants(b);
        buf_free(&b);
        EXPECT_EQ(b.failed, 0);
    }
}

// After one refused growth no later append, however small, may land: the
// text would miss a piece in its middle.
TEST(OutBuf, ErrorIsStickyForEveryAppend)
{
    OutBuf b = {};
    buf_puts(&b, "[1,");
    std::string huge(BUF_MAX_CAP / 6 + 1, 'x');
    json_str(&b, huge.c_str());
    ASSERT_EQ(b.failed, 1);
    buf_puts(&b, "2");
    buf_putc(&b, ',');
    buf_printf(&b, "%d", 3);
    buf_put_int(&b, 4);
    json_str(&b, "5");
    EXPECT_EQ(buf_need(&b, 1), 0);
    EXPECT_STREQ(buf_text(&b), "");
    EXPECT_EQ(b.len, 0u);
    expect_invariants(b);
    buf_free(&b);
    EXPECT_EQ(b.failed, 0);
}

TEST(Json, StringEscapes)
{
    static const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"", "\"\""},
        {"plain/ok", "\"plain/ok\""},
        {"a\tb\"c\x01", "\"a\\tb\\\"c\\u0001\""},
        {"\n\r\\", "\"\\n\\r\\\\\""},
        {"\x1b\x1f", "\"\\u001b\\u001f\""},
        {"\x7f\xc3\xa9\xff", "\"\x7f\xc3\xa9\xff\""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(encoded(c.in), c.out) << c.in;
    EXPECT_EQ(encoded(nullptr), "\"\"");
}

TEST(Json, EncodingAppendsAfterExistingText)
{
    OutBuf b = {};
    buf_puts(&b, "{\"k\":");
    json_str(&b, "v\n");
    buf_putc(&b, '}');
    EXPECT_STREQ(buf_text(&b), "{\"k\":\"v\\n\"}");
    expect_invariants(b);
    buf_free(&b);
}

// Everything standard output received while fn ran.
template <class Fn> std::string captured(Fn fn)
{
    fflush(stdout);
    FILE *tmp = tmpfile();
    int saved = dup(fileno(stdout));
    dup2(fileno(tmp), fileno(stdout));
    fn();
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    std::string r;
    rewind(tmp);
    for (int c; (c = fgetc(tmp)) != EOF;)
        r += (char)c;
    fclose(tmp);
    return r;
}

TEST(Json, StreamedLiteralEqualsTheBuiltOne)
{
    std::string text;
    for (int i = 0; i < 300000; i++)
        text += (char)(i % 7 == 0 ? 1 + i % 255 : 'a' + i % 26);
    for (size_t len : {0, 1, 7, 8, 9, 4095, 4096, 4097, 65536, 300000}) {
        std::string s = text.substr(0, len);
        EXPECT_EQ(captured([&] { json_write_str(s.c_str()); }), encoded(s.c_str())) << len;
    }
}

TEST(OutBuf, WrittenOutInPiecesThroughOneBuffer)
{
    OutBuf b = {};
    std::string sent = captured([&] {
        for (int i = 0; i < 3; i++) {
            buf_puts(&b, std::string(1500, (char)('a' + i)).c_str());
            EXPECT_EQ(resp_body_buf(&b), 1);
            EXPECT_EQ(b.len, 0u);
            EXPECT_EQ(b.cap, 2048u);
            expect_invariants(b);
        }
    });
    EXPECT_EQ(sent, std::string(1500, 'a') + std::string(1500, 'b') + std::string(1500, 'c'));
    buf_free(&b);
}

// A body that failed while it was built is never sent half: the answer is
// a 500 of its own, and a HEAD gets the same header lines and no body.
TEST(Answer, FailedBodyAnswers500AndHeadDropsTheBody)
{
    static const char HEAD[] = "Content-Type: application/json; charset=utf-8\r\n"
                               "Cache-Control: no-store\r\n"
                               "X-Content-Type-Options: nosniff\r\n\r\n";
    // putenv keeps the text itself, and is there on every platform.
    static char get[] = "REQUEST_METHOD=GET", head[] = "REQUEST_METHOD=HEAD";
    static const struct {
        char *method;
        bool fail;
        const char *answer;
    } cases[] = {
        {get, false, "{\"ok\":true}\n"},
        {head, false, ""},
        {get, true, "{\"ok\":false,\"error\":\"out of memory\"}\n"},
        {head, true, ""},
    };
    for (const auto &c : cases) {
        putenv(c.method);
        resp_init();
        std::string sent = captured([&] {
            OutBuf b = {};
            buf_puts(&b, "{\"ok\":true}\n");
            if (c.fail)
                buf_need(&b, BUF_MAX_CAP);
            json_send(&b);
            EXPECT_EQ(b.data, nullptr);
        });
        std::string status = c.fail ? "Status: 500 Internal Server Error\r\n" : "";
        EXPECT_EQ(sent, status + HEAD + c.answer) << c.method << c.fail;
    }
    putenv(get);
    resp_init();
}

TEST(StrCopy, BoundedAndTerminated)
{
    char four[4] = {'x', 'x', 'x', 'x'};
    str_copy(four, sizeof four, "sixsix");
    EXPECT_STREQ(four, "six");
    str_copy(four, sizeof four, nullptr);
    EXPECT_STREQ(four, "");
    char one[1] = {'x'};
    str_copy(one, sizeof one, "abc");
    EXPECT_EQ(one[0], '\0');
    str_copy(one, 0, "abc");
    str_copy(nullptr, 4, "abc");
}

} // namespace
