#include "actions.h"

#include <stdio.h>
#include <string.h>

#include "out.h"
#include "path.h"
#include "query.h"

enum {
    CHUNK = 65536,
    FILE_NAME_MAX = 512
};
/* Larger files are refused; and however a file grows while it is streamed,
 * no more than this is ever sent, so a growing log cannot hold a request. */
static const long long RAW_MAX = 67108864;

/* Static so that delivery allocates nothing however large the file. */
static char g_chunk[CHUNK];

static const char TEXT_PLAIN[] = "text/plain; charset=utf-8";
static const char OCTETS[] = "application/octet-stream";

static const struct {
    const char *ext; /* lower case, without the dot */
    const char *type;
} g_mime[] = {
    {"png", "image/png"},   {"jpg", "image/jpeg"},    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},   {"webp", "image/webp"},   {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},
    /* Drawings go out as text: a script inside one must never run here. */
    {"svg", TEXT_PLAIN},
    {"pdf", "application/pdf"},
    {"txt", TEXT_PLAIN},    {"md", TEXT_PLAIN},       {"json", TEXT_PLAIN},
    {"c", TEXT_PLAIN},      {"h", TEXT_PLAIN},        {"log", TEXT_PLAIN},
};

static int ext_matches(const char *ext, size_t len, const char *row)
{
    if (strlen(row) != len)
        return 0;
    for (size_t i = 0; i < len; i++)
        if (str_lower((unsigned char)ext[i]) != (unsigned char)row[i])
            return 0;
    return 1;
}

const char *mime_type(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (!dot || !dot[1])
        return OCTETS;
    const char *ext = dot + 1;
    size_t len = strlen(ext);
    for (size_t i = 0; i < sizeof g_mime / sizeof g_mime[0]; i++)
        if (ext_matches(ext, len, g_mime[i].ext))
            return g_mime[i].type;
    return strstr(ext, "htm") ? TEXT_PLAIN : OCTETS;
}

void disposition_name(const char *name, char *out, size_t size)
{
    str_copy(out, size, name);
    for (char *p = out; *p; p++)
        if (*p == '\\' || *p == '\n' || *p == '\r' || *p == '"')
            *p = '_';
}

static void send_headers(const char *type, int attach, const char *name)
{
    struct OutBuf b = {0, 0, 0};
    buf_printf(&b,
               "Content-Type: %s\r\n"
               "Cache-Control: no-store\r\n"
               "X-Content-Type-Options: nosniff\r\n"
               "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; img-src data:\r\n"
               "X-Frame-Options: SAMEORIGIN\r\n"
               "Content-Disposition: %s; filename=\"%s\"\r\n"
               "\r\n",
               type, attach ? "attachment" : "inline", name);
    out_write(buf_text(&b), b.len);
    buf_free(&b);
}

/* Stops at the end of the file, at the limit, or when the client has gone. */
static void stream(struct FsFile *f)
{
    long long sent = 0;
    while (sent < RAW_MAX) {
        long long n = fs_read(f, g_chunk, CHUNK);
        if (n <= 0 || fwrite(g_chunk, 1, (size_t)n, stdout) != (size_t)n)
            return;
        sent += n;
        if (n < CHUNK)
            return;
    }
}

void act_raw(const char *query, const char *path)
{
    char canon[FS_PATH_MAX];
    struct FsStat st;
    struct FsFile f;
    if (!path_regular_file(path, canon, &st))
        return;
    if (st.size > RAW_MAX) {
        json_err(413, "file larger than 64 MiB");
        return;
    }
    char name[FILE_NAME_MAX];
    char shown[FILE_NAME_MAX];
    str_copy(name, sizeof name, path_name(canon));
    disposition_name(name, shown, sizeof shown);
    const char *type = mime_type(name);
    int attach = query_flag(query, "download") || strncmp(type, "image/", 6) != 0;
    if (!path_open_file(canon, &f, "cannot open file"))
        return;
    send_headers(type, attach, shown);
    stream(&f);
    fs_close(&f);
    fflush(stdout);
}
