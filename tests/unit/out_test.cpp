// The response buffer keeps its invariants through every append, and the
// JSON encoder escapes exactly what it must.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <string>

#include "out.h"

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
    OutBuf b = {nullptr, 0, 0};
    json_str(&b, s);
    std::string r(buf_text(&b), b.len);
    buf_free(&b);
    return r;
}

TEST(OutBuf, ZeroBufferIsEmptyText)
{
    OutBuf b = {nullptr, 0, 0};
    EXPECT_STREQ(buf_text(&b), "");
    expect_invariants(b);
}

TEST(OutBuf, FirstAppendAllocatesOneKibibyte)
{
    OutBuf b = {nullptr, 0, 0};
    buf_putc(&b, 'x');
    EXPECT_EQ(b.cap, 1024u);
    EXPECT_STREQ(buf_text(&b), "x");
    expect_invariants(b);
    buf_free(&b);
}

TEST(OutBuf, NulNeedsTheByteAfterAFullKibibyte)
{
    OutBuf b = {nullptr, 0, 0};
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
    OutBuf b = {nullptr, 0, 0};
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
    OutBuf b = {nullptr, 0, 0};
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
        OutBuf b = {nullptr, 0, 0};
        buf_puts(&b, "n=");
        buf_put_int(&b, v);
        EXPECT_EQ(std::string(b.data, b.len), "n=" + std::to_string(v)) << v;
        expect_invariants(b);
        buf_free(&b);
    }
}

TEST(OutBuf, RefusedGrowthLeavesTheBufferAsItWas)
{
    OutBuf b = {nullptr, 0, 0};
    buf_puts(&b, "kept");
    char *data = b.data;
    EXPECT_EQ(buf_need(&b, BUF_MAX_CAP), 0);
    EXPECT_EQ(buf_need(&b, (size_t)-1), 0);
    EXPECT_EQ(b.data, data);
    EXPECT_EQ(b.cap, 1024u);
    EXPECT_STREQ(buf_text(&b), "kept");
    buf_free(&b);
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
    OutBuf b = {nullptr, 0, 0};
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
    OutBuf b = {nullptr, 0, 0};
    std::string sent = captured([&] {
        for (int i = 0; i < 3; i++) {
            buf_puts(&b, std::string(1500, (char)('a' + i)).c_str());
            buf_write_out(&b);
            EXPECT_EQ(b.len, 0u);
            EXPECT_EQ(b.cap, 2048u);
            expect_invariants(b);
        }
    });
    EXPECT_EQ(sent, std::string(1500, 'a') + std::string(1500, 'b') + std::string(1500, 'c'));
    buf_free(&b);
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
