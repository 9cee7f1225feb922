#include "zip.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "response.h"
#include "str.h"
#include "timefmt.h"

enum {
    CHUNK = 65536,
    HEADER_MAX = 128,
    METHOD_STORE = 0,
    METHOD_DEFLATE = 8,
    FLAG_DESCRIPTOR = 1 << 3,
    FLAG_UTF8 = 1 << 11,
    VERSION_PLAIN = 20,
    VERSION_ZIP64 = 45,
    MADE_ON_UNIX = 3 << 8,
    DEFLATE_LEVEL = 6
};

static const unsigned long long U32_MAX = 0xFFFFFFFFull;
/* A file this large may end up past 4 GiB once deflate has added its block
 * overhead, so its local header announces 8-byte sizes from the start. */
static const long long ZIP64_FILE_FROM = 0xFF000000LL;
/* Below this many bits per byte (order-0 entropy of the first chunk) even
 * plain Huffman coding saves a few per cent; above it the data is already
 * compressed and deflate would only cost time. */
static const double COMPRESSIBLE_BITS = 7.5;

/* What the central directory needs of an entry, kept for every entry until
 * the end: its fields ordered so that the record takes 56 bytes. */
struct ZipRecord {
    unsigned long long offset;
    unsigned long long csize;
    unsigned long long usize;
    long long mtime;
    size_t name_at;
    int parent;
    uint32_t crc;
    unsigned short name_len;
    unsigned short flags;
    unsigned char method;
    unsigned char version;
    unsigned char is_dir;
    unsigned char zip64_local;
};
static_assert(sizeof(struct ZipRecord) == 56, "README states the archive's memory by this size");

static struct {
    struct ZipRecord *records;
    char *names;
    long long capacity;
    long long count;
    size_t names_cap;
    size_t names_used;
    unsigned long long offset;
    int failed;
    int deflate_ready;
    z_stream z;
} g_zip;

/* Static so that an archive of any size moves through the same two blocks. */
static unsigned char g_in[CHUNK];
static unsigned char g_out[CHUNK];
/* The name of the entry being added, as the archive holds it. */
static char g_name[FS_PATH_MAX];

static void zip_out(const void *p, size_t n)
{
    if (g_zip.failed)
        return;
    if (!resp_body(p, n))
        g_zip.failed = 1;
    g_zip.offset += n;
}

static unsigned char *put16(unsigned char *w, unsigned long long v)
{
    w[0] = (unsigned char)v;
    w[1] = (unsigned char)(v >> 8);
    return w + 2;
}

static unsigned char *put32(unsigned char *w, unsigned long long v)
{
    return put16(put16(w, v), v >> 16);
}

static unsigned char *put64(unsigned char *w, unsigned long long v)
{
    return put32(put32(w, v), v >> 32);
}

/* The value, or the 32-bit mark that sends a reader to the ZIP64 field. */
static unsigned long long u32_or_mark(unsigned long long v)
{
    return v >= U32_MAX ? U32_MAX : v;
}

/* Length of the UTF-8 sequence that lead byte c starts, 0 for a byte that
 * starts none. */
static size_t utf8_len(unsigned c)
{
    return c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
}

static int utf8_valid(const unsigned char *s, size_t n)
{
    size_t i = 0;
    while (i < n) {
        unsigned c = s[i];
        size_t len = utf8_len(c);
        if (len == 0 || len > n - i)
            return 0;
        /* The second byte's range rules out overlong forms, surrogates and
         * code points past U+10FFFF; later bytes only need to continue. */
        unsigned lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        unsigned hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (len > 1 && (s[i + 1] < lo || s[i + 1] > hi))
            return 0;
        for (size_t k = 2; k < len; k++)
            if ((s[i + k] & 0xC0) != 0x80)
                return 0;
        i += len;
    }
    return 1;
}

/* The extended-timestamp field holds a signed 32-bit time, which readers
 * disagree about below zero: such times are left to the DOS field. */
static int has_unix_time(long long mtime)
{
    return mtime >= 0 && mtime <= 0x7FFFFFFFLL;
}

static unsigned char *put_unix_time(unsigned char *w, long long mtime)
{
    if (!has_unix_time(mtime))
        return w;
    w = put16(w, 0x5455);
    w = put16(w, 5);
    *w++ = 1;
    return put32(w, (unsigned long long)mtime);
}

/* The header fields that the local and the central header share, from
 * "version needed" to the name's length. */
static unsigned char *put_common(unsigned char *w, const struct ZipRecord *r, unsigned long long crc,
                                 unsigned long long csize, unsigned long long usize, size_t name_len)
{
    unsigned long dos = time_dos(r->mtime);
    w = put16(w, r->version);
    w = put16(w, r->flags);
    w = put16(w, r->method);
    w = put32(w, dos);
    w = put32(w, crc);
    w = put32(w, csize);
    w = put32(w, usize);
    return put16(w, name_len);
}

/* The name an entry goes under: its path with every backslash made "_", and
 * the colon of a first name that reads as a drive ("C:") too, so that no
 * extractor takes a name for a path that leads out of the folder it
 * extracts to; the entry's bytes and all else stay as they are. The rest
 * of what could make a name such a path cannot occur: names are joined by
 * "/" from directory entries, which hold no "/" and are never "." or "..". */
static const char *archive_name(const char *path)
{
    str_copy(g_name, sizeof g_name, path);
    for (char *p = g_name; *p; p++)
        if (*p == '\\')
            *p = '_';
    char c = (char)str_lower((unsigned char)g_name[0]);
    if (c >= 'a' && c <= 'z' && g_name[1] == ':')
        g_name[1] = '_';
    return g_name;
}

static struct ZipRecord *new_record(const char *path, int parent, long long mtime, int is_dir)
{
    const char *slash = strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    size_t len = strlen(name);
    size_t path_len = strlen(path);
    if (g_zip.count == g_zip.capacity || len > g_zip.names_cap - g_zip.names_used)
        return NULL;
    struct ZipRecord *r = &g_zip.records[g_zip.count++];
    memset(r, 0, sizeof *r);
    memcpy(g_zip.names + g_zip.names_used, name, len);
    r->name_at = g_zip.names_used;
    r->name_len = (unsigned short)len;
    g_zip.names_used += len;
    r->parent = parent;
    r->mtime = mtime;
    r->is_dir = (unsigned char)is_dir;
    r->offset = g_zip.offset;
    r->version = VERSION_PLAIN;
    r->flags = (unsigned short)(utf8_valid((const unsigned char *)path, path_len) ? FLAG_UTF8 : 0);
    return r;
}

/* The local header; a file's CRC and sizes follow its data. */
static void write_local(const struct ZipRecord *r, const char *path)
{
    unsigned char head[HEADER_MAX];
    size_t path_len = strlen(path);
    unsigned long long size_mark = r->zip64_local ? U32_MAX : 0;
    unsigned char *w = put32(head, 0x04034b50);
    w = put_common(w, r, 0, size_mark, size_mark, path_len + r->is_dir);
    unsigned char *extra_len = w;
    w += 2;
    unsigned char *extra = w;
    w = put_unix_time(w, r->mtime);
    if (r->zip64_local) {
        w = put16(w, 0x0001);
        w = put16(w, 16);
        w = put64(w, 0);
        w = put64(w, 0);
    }
    put16(extra_len, (unsigned long long)(w - extra));
    zip_out(head, (size_t)(extra - head));
    zip_out(path, path_len);
    if (r->is_dir)
        zip_out("/", 1);
    zip_out(extra, (size_t)(w - extra));
}

int zip_add_dir(const char *path, int parent, long long mtime)
{
    path = archive_name(path);
    struct ZipRecord *r = new_record(path, parent, mtime, 1);
    if (!r)
        return ZIP_FULL;
    write_local(r, path);
    return g_zip.failed ? ZIP_FAILED : (int)(r - g_zip.records);
}

static int looks_compressible(const unsigned char *p, size_t n)
{
    size_t counts[256] = {0};
    for (size_t i = 0; i < n; i++)
        counts[p[i]]++;
    double sum = 0;
    for (int c = 0; c < 256; c++)
        if (counts[c])
            sum += (double)counts[c] * log2((double)counts[c]);
    return n > 0 && log2((double)n) - sum / (double)n < COMPRESSIBLE_BITS;
}

static int deflate_ready(void)
{
    if (g_zip.deflate_ready)
        return deflateReset(&g_zip.z) == Z_OK;
    memset(&g_zip.z, 0, sizeof g_zip.z);
    g_zip.deflate_ready = deflateInit2(&g_zip.z, DEFLATE_LEVEL, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return g_zip.deflate_ready;
}

/* One piece of a file's data into the archive, deflated or as it is. */
static void put_data(struct ZipRecord *r, const unsigned char *p, size_t n, int last)
{
    r->crc = (uint32_t)crc32(r->crc, p, (uInt)n);
    r->usize += n;
    if (r->method == METHOD_STORE) {
        zip_out(p, n);
        r->csize += n;
        return;
    }
    z_stream *z = &g_zip.z;
    z->next_in = (Bytef *)p;
    z->avail_in = (uInt)n;
    do {
        z->next_out = g_out;
        z->avail_out = CHUNK;
        deflate(z, last ? Z_FINISH : Z_NO_FLUSH);
        size_t have = CHUNK - z->avail_out;
        zip_out(g_out, have);
        r->csize += have;
    } while (z->avail_out == 0);
}

static void write_descriptor(const struct ZipRecord *r)
{
    unsigned char desc[24];
    unsigned char *w = put32(desc, 0x08074b50);
    w = put32(w, r->crc);
    if (r->zip64_local) {
        w = put64(w, r->csize);
        w = put64(w, r->usize);
    } else {
        w = put32(w, r->csize);
        w = put32(w, r->usize);
    }
    zip_out(desc, (size_t)(w - desc));
}

static size_t next_piece(long long limit, unsigned long long done)
{
    unsigned long long left = (unsigned long long)limit - done;
    return left < CHUNK ? (size_t)left : (size_t)CHUNK;
}

/* Reads until the file ends, a read fails or the limit is reached: the
 * entry holds exactly the bytes read, however the file changes meanwhile. */
int zip_add_file(const char *path, int parent, long long mtime, struct FsFile *f, long long limit)
{
    path = archive_name(path);
    struct ZipRecord *r = new_record(path, parent, mtime, 0);
    if (!r)
        return ZIP_FULL;
    size_t want = next_piece(limit, 0);
    long long n = want ? fs_read(f, (char *)g_in, want) : 0;
    n = n < 0 ? 0 : n;
    int deflated = looks_compressible(g_in, (size_t)n) && deflate_ready();
    r->method = deflated ? METHOD_DEFLATE : METHOD_STORE;
    r->flags |= FLAG_DESCRIPTOR;
    r->zip64_local = limit >= ZIP64_FILE_FROM;
    r->version = r->zip64_local ? VERSION_ZIP64 : VERSION_PLAIN;
    write_local(r, path);
    for (;;) {
        int last = (size_t)n < want || r->usize + (unsigned long long)n == (unsigned long long)limit;
        put_data(r, g_in, (size_t)n, last);
        if (last || g_zip.failed)
            break;
        want = next_piece(limit, r->usize);
        n = fs_read(f, (char *)g_in, want);
        n = n < 0 ? 0 : n;
    }
    write_descriptor(r);
    return g_zip.failed ? ZIP_FAILED : (int)(r - g_zip.records);
}

/* The entry's whole name, rebuilt from the last names of its parents. */
static size_t full_name(const struct ZipRecord *r, char *out)
{
    size_t len = r->is_dir;
    for (const struct ZipRecord *p = r; p; p = p->parent >= 0 ? &g_zip.records[p->parent] : NULL)
        len += p->name_len + (p != r);
    size_t end = len - r->is_dir;
    if (r->is_dir)
        out[end] = '/';
    for (const struct ZipRecord *p = r; p; p = p->parent >= 0 ? &g_zip.records[p->parent] : NULL) {
        end -= p->name_len;
        memcpy(out + end, g_zip.names + p->name_at, p->name_len);
        if (end > 0)
            out[--end] = '/';
    }
    return len;
}

static void write_central(const struct ZipRecord *r)
{
    unsigned char head[HEADER_MAX];
    char name[FS_PATH_MAX + 1];
    size_t name_len = full_name(r, name);
    unsigned char *w = put32(head, 0x02014b50);
    w = put16(w, MADE_ON_UNIX | VERSION_ZIP64);
    w = put_common(w, r, r->crc, u32_or_mark(r->csize), u32_or_mark(r->usize), name_len);
    unsigned char *extra_len = w;
    w = put16(w, 0);                                     /* extra length, filled below */
    w = put16(w, 0);                                     /* comment length */
    w = put16(w, 0);                                     /* disk */
    w = put16(w, 0);                                     /* internal attributes */
    w = put32(w, r->is_dir ? 040755u << 16 | 0x10 : 0100644u << 16);
    w = put32(w, u32_or_mark(r->offset));
    unsigned char *extra = w;
    w = put_unix_time(w, r->mtime);
    unsigned char *zip64 = w;
    w += 4;
    if (r->usize >= U32_MAX)
        w = put64(w, r->usize);
    if (r->csize >= U32_MAX)
        w = put64(w, r->csize);
    if (r->offset >= U32_MAX)
        w = put64(w, r->offset);
    if (w - zip64 == 4)
        w = zip64;
    else
        put16(put16(zip64, 0x0001), (unsigned long long)(w - zip64 - 4));
    put16(extra_len, (unsigned long long)(w - extra));
    zip_out(head, (size_t)(extra - head));
    zip_out(name, name_len);
    zip_out(extra, (size_t)(w - extra));
}

/* The ZIP64 end record and its locator, for a reader that finds a mark in
 * the classic end record. */
static void write_end64(unsigned long long count, unsigned long long cd_start, unsigned long long cd_size)
{
    unsigned char end[76];
    unsigned long long at = g_zip.offset;
    unsigned char *w = put32(end, 0x06064b50);
    w = put64(w, 44);
    w = put16(w, MADE_ON_UNIX | VERSION_ZIP64);
    w = put16(w, VERSION_ZIP64);
    w = put32(w, 0);
    w = put32(w, 0);
    w = put64(w, count);
    w = put64(w, count);
    w = put64(w, cd_size);
    w = put64(w, cd_start);
    w = put32(w, 0x07064b50);
    w = put32(w, 0);
    w = put64(w, at);
    w = put32(w, 1);
    zip_out(end, (size_t)(w - end));
}

static void write_end(unsigned long long count, unsigned long long cd_start, unsigned long long cd_size)
{
    unsigned char end[22];
    unsigned long long count_mark = count >= 0xFFFF ? 0xFFFF : count;
    if (count_mark == 0xFFFF || cd_start >= U32_MAX || cd_size >= U32_MAX)
        write_end64(count, cd_start, cd_size);
    unsigned char *w = put32(end, 0x06054b50);
    w = put16(w, 0);
    w = put16(w, 0);
    w = put16(w, count_mark);
    w = put16(w, count_mark);
    w = put32(w, u32_or_mark(cd_size));
    w = put32(w, u32_or_mark(cd_start));
    w = put16(w, 0);
    zip_out(end, (size_t)(w - end));
}

int zip_begin(long long entries, long long name_bytes)
{
    memset(&g_zip, 0, sizeof g_zip);
    size_t table = (size_t)entries * sizeof(struct ZipRecord);
    g_zip.records = (struct ZipRecord *)malloc(table + (size_t)name_bytes + 1);
    if (!g_zip.records)
        return 0;
    g_zip.names = (char *)g_zip.records + table;
    g_zip.capacity = entries;
    g_zip.names_cap = (size_t)name_bytes;
    return 1;
}

int zip_end(void)
{
    unsigned long long cd_start = g_zip.offset;
    for (long long i = 0; i < g_zip.count && !g_zip.failed; i++)
        write_central(&g_zip.records[i]);
    write_end((unsigned long long)g_zip.count, cd_start, g_zip.offset - cd_start);
    if (!resp_end())
        g_zip.failed = 1;
    if (g_zip.deflate_ready)
        deflateEnd(&g_zip.z);
    free(g_zip.records);
    g_zip.records = NULL;
    return !g_zip.failed;
}
