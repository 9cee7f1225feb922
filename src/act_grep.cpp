#include "actions.h"

#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "config.h"
#include "json.h"
#include "path.h"
#include "query.h"
#include "str.h"
#include "sweep.h"
#include "walk.h"

enum {
    CHUNK = 256 << 10,   /* read at once: with the scan, it stays in the processor's cache */
    CARRY_MAX = 4096,    /* kept from one read for the next: the query's length and a line's text */
    TEXT_MAX = 300,      /* bytes of a line sent */
    TEXT_BEFORE = 100,   /* of them at most this many before the match */
    FILE_HITS_MAX = 100,
    BINARY_PROBE = 8192  /* a NUL in this much of the head means binary, as for the preview */
};
static const long long DEFAULT_MAX_FILE = 64LL << 20;
static const long long DEFAULT_MAX_BYTES = 4LL << 30;
static const long long BYTES_CEILING = 1000000000000000LL;
static const size_t NONE = (size_t)-1;

struct Needle {
    char text[SWEEP_QUERY_MAX + 1];  /* lowered when the case of letters is ignored */
    size_t len;
    size_t pivot;  /* the byte looked for first: the one least common in text */
    int fold;      /* ASCII letters match in either case */
};

struct Grep {
    struct Needle q;
    long long max_results, max_file, max_bytes, bytes;
    struct OutBuf line;
};

/* One file's bytes from file offset `base` in buf, and how far its line
 * feeds are counted. */
struct Scan {
    const char *path;
    char *buf;
    size_t len;
    int eof;
    long long base;
    size_t counted;        /* line feeds before this index are counted */
    long long line;        /* the number of the line that holds buf[counted] */
    long long line_start;  /* the file offset where that line starts */
    int hits;
    int in_hit_line;       /* the scan goes on inside a line that matched */
};

enum ScanEnd { SCAN_MORE, SCAN_FILE_DONE, SCAN_STOP };

static char g_buf[CARRY_MAX + CHUNK];

/* Higher for a byte that is rarer in source and prose. */
static int rarity(unsigned char c)
{
    static const char common[] = " etaoinsrhldcumfpgwybvkxjqz";
    const char *at = c ? (const char *)memchr(common, str_lower(c), sizeof common - 1) : NULL;
    if (at)
        return (int)(at - common);
    if (c >= '0' && c <= '9')
        return 20;
    if (c >= 0x80)
        return c < 0xC0 ? 30 : 12;
    return strchr("\t._,;:()=\"'/*-{}[]<>", c) ? 12 : 40;
}

static void needle_make(struct Needle *q, const char *text, int fold)
{
    q->len = strlen(text);
    q->fold = fold;
    q->pivot = 0;
    for (size_t i = 0; i < q->len; i++) {
        q->text[i] = fold ? (char)str_lower((unsigned char)text[i]) : text[i];
        if (rarity((unsigned char)text[i]) > rarity((unsigned char)text[q->pivot]))
            q->pivot = i;
    }
    q->text[q->len] = '\0';
}

/* The first index in [from, to) that holds the letter `lower` in either
 * case, or `to`: setting bit 5 lowers exactly the two bytes of the letter
 * onto one, sixteen bytes at a time. */
static size_t find_letter(const char *s, size_t from, size_t to, unsigned char lower)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8((char)lower);
    const __m128i bit = _mm_set1_epi8(0x20);
    for (; i + 32 <= to; i += 32) {
        __m128i a = _mm_cmpeq_epi8(_mm_or_si128(_mm_loadu_si128((const __m128i *)(s + i)), bit), want);
        __m128i b = _mm_cmpeq_epi8(_mm_or_si128(_mm_loadu_si128((const __m128i *)(s + i + 16)), bit), want);
        unsigned m = (unsigned)_mm_movemask_epi8(a) | (unsigned)_mm_movemask_epi8(b) << 16;
        if (m)
            return i + (size_t)__builtin_ctz(m);
    }
#endif
    for (; i < to; i++)
        if (((unsigned char)s[i] | 0x20) == lower)
            return i;
    return to;
}

/* The first index in [from, to) that holds the pivot, or `to`. */
static size_t find_pivot(const struct Needle *q, const char *s, size_t from, size_t to)
{
    unsigned char c = (unsigned char)q->text[q->pivot];
    if (q->fold && c >= 'a' && c <= 'z')
        return find_letter(s, from, to, c);
    const char *at = (const char *)memchr(s + from, c, to - from);
    return at ? (size_t)(at - s) : to;
}

static int same(const struct Needle *q, const char *s)
{
    if (!q->fold)
        return memcmp(s, q->text, q->len) == 0;
    for (size_t i = 0; i < q->len; i++)
        if (str_lower((unsigned char)s[i]) != (unsigned char)q->text[i])
            return 0;
    return 1;
}

/* The first match that starts in [from, last]: its index, or NONE. */
static size_t next_match(const struct Needle *q, const char *s, size_t from, size_t last)
{
    while (from <= last) {
        size_t at = find_pivot(q, s, from + q->pivot, last + q->pivot + 1);
        if (at > last + q->pivot)
            return NONE;
        if (same(q, s + at - q->pivot))
            return at - q->pivot;
        from = at - q->pivot + 1;
    }
    return NONE;
}

/* The line feeds in s[from, to), with *after the index after the last of
 * them (left as it was when there is none). */
static long long count_lines(const char *s, size_t from, size_t to, size_t *after)
{
    long long n = 0;
    size_t i = from;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= to; i += 16) {
        unsigned m = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i *)(s + i)), lf));
        if (m) {
            n += __builtin_popcount(m);
            *after = i + 32 - (size_t)__builtin_clz(m);
        }
    }
#endif
    for (; i < to; i++)
        if (s[i] == '\n') {
            n++;
            *after = i + 1;
        }
    return n;
}

static void count_to(struct Scan *sc, size_t to)
{
    if (to <= sc->counted)
        return;
    size_t after = NONE;
    sc->line += count_lines(sc->buf, sc->counted, to, &after);
    if (after != NONE)
        sc->line_start = sc->base + (long long)after;
    sc->counted = to;
}

static int is_cont(char c)
{
    return ((unsigned char)c & 0xC0) == 0x80;
}

/* The line of a match at `at`, its text buf[ws, we): sent, unless the
 * search has all the matches it may send. */
static int send_hit(struct Sweep *s, struct Grep *g, const struct Scan *sc, size_t at, size_t ws, size_t we)
{
    if (s->matched == g->max_results) {
        s->end = SWEEP_LIMIT;
        return 0;
    }
    s->matched++;
    struct OutBuf *b = &g->line;
    buf_puts(b, "{\"path\":");
    json_str(b, sc->path);
    buf_printf(b, ",\"line\":%lld,\"col\":%lld,\"text_col\":%lld,\"text\":", sc->line,
               sc->base + (long long)at - sc->line_start + 1, sc->base + (long long)ws - sc->line_start + 1);
    json_strn(b, sc->buf + ws, we - ws);
    buf_puts(b, "}\n");
    if (sweep_send(b))
        return 1;
    s->end = SWEEP_GONE;
    return 0;
}

/* The match at `at`: at most TEXT_BEFORE bytes of its line before it and
 * TEXT_MAX in all, cut at whole UTF-8 characters, a final CR left out.
 * SCAN_MORE with *from = at when the text reaches past what is read. */
static enum ScanEnd hit(struct Sweep *s, struct Grep *g, struct Scan *sc, size_t at, size_t *from)
{
    count_to(sc, at);
    long long line_at = sc->line_start - sc->base;
    size_t ws = at > TEXT_BEFORE ? at - TEXT_BEFORE : 0;
    if ((long long)ws < line_at)
        ws = (size_t)line_at;
    const char *lf = (const char *)memchr(sc->buf + at, '\n', sc->len - at);
    size_t line_end = lf ? (size_t)(lf - sc->buf) : sc->eof ? sc->len : NONE;
    if (line_end == NONE && ws + TEXT_MAX >= sc->len) {
        *from = at;
        return SCAN_MORE;
    }
    size_t we = line_end != NONE && line_end < ws + TEXT_MAX ? line_end : ws + TEXT_MAX;
    if ((long long)ws > line_at)
        while (ws < at && is_cont(sc->buf[ws]))
            ws++;
    if (we < sc->len && we != line_end)
        while (we > at && is_cont(sc->buf[we]))
            we--;
    if (we == line_end && we > ws && sc->buf[we - 1] == '\r')
        we--;
    if (!send_hit(s, g, sc, at, ws, we))
        return SCAN_STOP;
    if (++sc->hits == FILE_HITS_MAX || (!lf && sc->eof))
        return SCAN_FILE_DONE;
    sc->in_hit_line = !lf;
    *from = lf ? line_end + 1 : we;
    return SCAN_MORE;
}

/* Every match in what is read, from *from on; SCAN_MORE with *from where
 * the scan goes on once more is read. */
static enum ScanEnd scan_buffer(struct Sweep *s, struct Grep *g, struct Scan *sc, size_t *from)
{
    const struct Needle *q = &g->q;
    enum ScanEnd rest = sc->eof ? SCAN_FILE_DONE : SCAN_MORE;
    for (;;) {
        if (sc->in_hit_line) {
            const char *lf = (const char *)memchr(sc->buf + *from, '\n', sc->len - *from);
            *from = lf ? (size_t)(lf - sc->buf) + 1 : sc->len;
            sc->in_hit_line = !lf;
            if (!lf)
                return rest;
        }
        if (sc->len < q->len || *from > sc->len - q->len)
            return rest;
        size_t at = next_match(q, sc->buf, *from, sc->len - q->len);
        if (at == NONE) {
            *from = sc->len - q->len + 1;
            return rest;
        }
        enum ScanEnd end = hit(s, g, sc, at, from);
        if (end != SCAN_MORE || *from == at)
            return end;
    }
}

/* Keeps the bytes from TEXT_BEFORE before *from on at the start of the
 * buffer: the count of the lines before them is taken first. */
static size_t carry(struct Scan *sc, size_t *from)
{
    size_t k = *from > TEXT_BEFORE ? *from - TEXT_BEFORE : 0;
    count_to(sc, k);
    size_t keep = sc->len - k;
    memmove(sc->buf, sc->buf + k, keep);
    sc->base += (long long)k;
    sc->counted -= k;
    *from -= k;
    return keep;
}

/* At most `size` bytes of an open file, read CHUNK bytes at a time: 0 when
 * the walk is to end. */
static int grep_bytes(struct Sweep *s, struct Grep *g, const char *path, struct FsFile *f, long long size)
{
    struct Scan sc = {path, g_buf, 0, 0, 0, 0, 1, 0, 0, 0};
    size_t keep = 0, from = 0;
    for (int first = 1;; first = 0) {
        size_t want = size < CHUNK ? (size_t)size : (size_t)CHUNK;
        long long got = fs_read(f, g_buf + keep, want);
        if (got < 0) {
            s->skipped++;
            return 1;
        }
        size -= got;
        sc.len = keep + (size_t)got;
        sc.eof = size == 0 || (size_t)got < want;
        if (first && memchr(g_buf, 0, sc.len < BINARY_PROBE ? sc.len : (size_t)BINARY_PROBE))
            return 1;
        enum ScanEnd end = scan_buffer(s, g, &sc, &from);
        if (end == SCAN_STOP)
            return 0;
        if (end == SCAN_FILE_DONE || sc.eof)
            return 1;
        if (!sweep_tick(s))
            return 0;
        keep = carry(&sc, &from);
    }
}

/* A file over FILES_GREP_MAX_FILE is passed over and counted; one that
 * would take the request past FILES_GREP_MAX_BYTES ends it. */
static int grep_file(struct Sweep *s, struct Grep *g, const char *path, struct FsFile *f)
{
    if (f->size > g->max_file) {
        s->skipped++;
        return 1;
    }
    if (f->size > g->max_bytes - g->bytes) {
        s->end = SWEEP_LIMIT;
        return 0;
    }
    g->bytes += f->size;
    return f->size == 0 || grep_bytes(s, g, path, f, f->size);
}

static int grep_visit(struct Sweep *s, const struct SweepItem *it)
{
    struct FsFile f;
    if (it->is_dir)
        return 1;
    if (!walk_open(it->in, it->name, it->canon, &f)) {
        s->skipped++;
        return 1;
    }
    int go = grep_file(s, (struct Grep *)s->ctx, it->path, &f);
    fs_close(&f);
    return go;
}

/* One file named by the request: it counts as the one entry visited. */
static void grep_one(struct Sweep *s, const char *canon)
{
    struct FsFile f;
    if (!path_open_file(canon, &f, "cannot read file"))
        return;
    if (sweep_stream_start()) {
        s->visited = 1;
        grep_file(s, (struct Grep *)s->ctx, canon, &f);
        sweep_stream_end(s);
    }
    fs_close(&f);
}

static void grep_tree(struct Sweep *s, const char *dir)
{
    if (!sweep_open(dir))
        return;
    if (!sweep_stream_start()) {
        sweep_cancel();
        return;
    }
    sweep_run(s);
    sweep_stream_end(s);
}

void act_grep(const char *query, const char *path)
{
    char q[SWEEP_QUERY_ROOM];
    char canon[FS_PATH_MAX];
    struct FsStat st;
    struct Grep g = {};
    struct Sweep s = {};
    if (!sweep_query(query, q) || !path_existing(path, canon, &st))
        return;
    if (!st.is_dir && !st.is_reg) {
        json_err(400, "not a regular file");
        return;
    }
    needle_make(&g.q, q, !query_flag(query, "case"));
    g.max_results = sweep_results_limit();
    g.max_file = config_limit("FILES_GREP_MAX_FILE", DEFAULT_MAX_FILE, BYTES_CEILING);
    g.max_bytes = config_limit("FILES_GREP_MAX_BYTES", DEFAULT_MAX_BYTES, BYTES_CEILING);
    sweep_prepare(query, SWEEP_SECONDS, &s);
    s.links = 1;
    s.progress = 1;
    s.visit = grep_visit;
    s.ctx = &g;
    if (st.is_dir)
        grep_tree(&s, canon);
    else
        grep_one(&s, canon);
    buf_free(&g.line);
}
