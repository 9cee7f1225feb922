#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <set>
#include <unistd.h>
#include <zlib.h>

#include "actions.h"
#include "path.h"
#include "picture.h"
#include "query.h"

/* main.cpp is compiled with main renamed, so a request runs as a call. */
int plugin_main(int argc, char **argv);

const char FX_CANARY[] = "CANARY-7f3e1d-do-not-serve";

static Fixture g_fx;
static int g_fx_ready;

void fail(const char *what, const std::string &detail)
{
    fprintf(stderr, "\nFAILED: %s\n--- detail (%zu bytes) ---\n", what, detail.size());
    fwrite(detail.data(), 1, detail.size() < 4000 ? detail.size() : 4000, stderr);
    fprintf(stderr, "\n---\n");
    abort();
}

static void fx_file(const char *rel, const char *text, size_t len)
{
    char p[1024];
    snprintf(p, sizeof p, "%s/%s", g_fx.base, rel);
    int fd = open(p, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, text, len) != (ssize_t)len)
        fail("fixture: cannot write", p);
    close(fd);
}

static void fx_dir(const char *rel)
{
    char p[1024];
    snprintf(p, sizeof p, "%s/%s", g_fx.base, rel);
    if (mkdir(p, 0755) != 0)
        fail("fixture: cannot make directory", p);
}

static void fx_link(const char *target, const char *rel)
{
    char p[1024];
    snprintf(p, sizeof p, "%s/%s", g_fx.base, rel);
    if (symlink(target, p) != 0)
        fail("fixture: cannot link", p);
}

static int rm_one(const char *p, const struct stat *, int, struct FTW *)
{
    return remove(p);
}

static void fx_remove(void)
{
    nftw(g_fx.base, rm_one, 16, FTW_DEPTH | FTW_PHYS);
}

static void fx_make(void)
{
    char tmpl[] = "/tmp/pf-fx.XXXXXX";
    if (!mkdtemp(tmpl) || !realpath(tmpl, g_fx.base))
        fail("fixture: no temporary directory", tmpl);
    atexit(fx_remove);
    static const char *dirs[] = {"r1", "r1/sub", "r2", "a", "r1x"};
    for (const char *d : dirs)
        fx_dir(d);
    size_t canary_len = strlen(FX_CANARY);
    fx_file("a/a", FX_CANARY, canary_len);
    fx_file("r1x/secret", FX_CANARY, canary_len);
    fx_file("r1/note.txt", "inside note\n", 12);
    fx_file("r1/bin.dat", "\x89PNG\0\0\x01", 7);
    fx_file("r1/empty", "", 0);
    fx_file("r1/.hidden", "hidden\n", 7);
    fx_file("r1/sub/deep.md", "# deep\n", 7);
    fx_file("r1/we\"ird\\na\tme\n\xff", "odd\n", 4);
    fx_file("r2/two.txt", "two\n", 4);
    fx_link("../a/a", "r1/a");
    fx_link("../a", "r1/d");
    fx_link("sub", "r1/in");
    fx_link("nowhere", "r1/gone");
    fx_link("loop", "r1/loop");
    char fifo[600];
    snprintf(fifo, sizeof fifo, "%s/r1/fifo", g_fx.base);
    if (mkfifo(fifo, 0644) != 0)
        fail("fixture: cannot make FIFO", fifo);
    snprintf(g_fx.root1, sizeof g_fx.root1, "%s/r1", g_fx.base);
    snprintf(g_fx.root2, sizeof g_fx.root2, "%s/r2", g_fx.base);
    snprintf(g_fx.roots_env, sizeof g_fx.roots_env, "%s;%s", g_fx.root1, g_fx.root2);
}

const Fixture *fx_get(void)
{
    if (g_fx_ready)
        return &g_fx;
    fx_make();
    /* Only the fixture's roots: no profile directory, no metadata mode. */
    unsetenv("HOME");
    unsetenv("USERPROFILE");
    unsetenv("ZV_PLUGIN_META");
    setenv("FILES_ALLOWED_ROOT", g_fx.roots_env, 1);
    if (chdir(g_fx.root1) != 0)
        fail("fixture: cannot enter root 1", g_fx.root1);
    g_fx_ready = 1;
    return &g_fx;
}

static void env_put(const char *name, const char *value)
{
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

/* The descriptors open in this process. */
static std::set<int> open_fds(void)
{
    std::set<int> fds;
    DIR *d = opendir("/proc/self/fd");
    for (struct dirent *e; d && (e = readdir(d));)
        if (e->d_name[0] != '.')
            fds.insert(atoi(e->d_name));
    if (d)
        fds.erase(dirfd(d));
    if (d)
        closedir(d);
    return fds;
}

std::string fx_run(const Request *req)
{
    fx_get();
    env_put("QUERY_STRING", req->query);
    env_put("KIV_PASSWORD", req->password);
    env_put("HTTP_X_KIV_PASSWORD", req->header);
    env_put("HTTP_AUTHORIZATION", req->auth);
    env_put("REQUEST_METHOD", req->method);
    env_put("HTTP_RANGE", req->range);
    env_put("HTTP_IF_RANGE", req->if_range);
    env_put("HTTP_IF_NONE_MATCH", req->none_match);
    env_put("HTTP_IF_MODIFIED_SINCE", req->modified_since);
    /* The process-wide allowlist is filled by each request when empty. */
    g_root_count = 0;
    char *data = NULL;
    size_t len = 0;
    FILE *mem = open_memstream(&data, &len);
    FILE *saved = stdout;
    stdout = mem;
    char arg0[] = "plugin_files";
    char *argv[] = {arg0, NULL};
    std::set<int> before = open_fds();
    plugin_main(1, argv);
    /* What a request keeps until its process ends, the socket of its slot
     * of heavy work, is given back as that end would give it back; any
     * other descriptor left open is a leak. */
    for (int fd : open_fds()) {
        struct stat sb;
        if (before.count(fd))
            continue;
        if (fstat(fd, &sb) != 0 || !S_ISSOCK(sb.st_mode))
            fail("a request left a descriptor open", req->query ? req->query : "");
        close(fd);
    }
    fflush(mem);
    stdout = saved;
    fclose(mem);
    std::string out(data, len);
    free(data);
    return out;
}

int fx_under_roots(const char *path)
{
    const char *roots[] = {g_fx.root1, g_fx.root2};
    for (const char *r : roots) {
        size_t n = strlen(r);
        if (strncmp(path, r, n) == 0 && (path[n] == '\0' || path[n] == '/'))
            return 1;
    }
    return 0;
}

/* ---- JSON ---------------------------------------------------------------- */

struct Json {
    const char *p;
    const char *end;
    int depth;
    void (*on_path)(const std::string &, void *);
    void *ctx;
};

static void json_ws(Json *j)
{
    while (j->p < j->end && (*j->p == ' ' || *j->p == '\n' || *j->p == '\r' || *j->p == '\t'))
        j->p++;
}

static int hex4(const char *p, unsigned *v)
{
    *v = 0;
    for (int i = 0; i < 4; i++) {
        char c = p[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            return 0;
        *v = *v << 4 | (unsigned)d;
    }
    return 1;
}

static void put_utf8(std::string *out, unsigned cp)
{
    if (cp < 0x80) {
        out->push_back((char)cp);
    } else if (cp < 0x800) {
        out->push_back((char)(0xc0 | cp >> 6));
        out->push_back((char)(0x80 | (cp & 0x3f)));
    } else {
        out->push_back((char)(0xe0 | cp >> 12));
        out->push_back((char)(0x80 | (cp >> 6 & 0x3f)));
        out->push_back((char)(0x80 | (cp & 0x3f)));
    }
}

static int json_string(Json *j, std::string *out)
{
    static const char simple[] = "\"\\/bfnrt";
    static const char value[] = "\"\\/\b\f\n\r\t";
    if (j->p >= j->end || *j->p != '"')
        return 0;
    j->p++;
    while (j->p < j->end) {
        unsigned char c = (unsigned char)*j->p++;
        if (c == '"')
            return 1;
        if (c < 0x20)
            return 0;
        if (c != '\\') {
            out->push_back((char)c);
            continue;
        }
        if (j->p >= j->end)
            return 0;
        char e = *j->p++;
        const char *s = e ? strchr(simple, e) : NULL;
        unsigned cp;
        if (s) {
            out->push_back(value[s - simple]);
        } else if (e == 'u' && j->end - j->p >= 4 && hex4(j->p, &cp)) {
            j->p += 4;
            put_utf8(out, cp);
        } else {
            return 0;
        }
    }
    return 0;
}

static int json_value(Json *j, const char *key);

static int json_number(Json *j)
{
    const char *start = j->p;
    if (j->p < j->end && *j->p == '-')
        j->p++;
    const char *digits = j->p;
    while (j->p < j->end && *j->p >= '0' && *j->p <= '9')
        j->p++;
    size_t n = (size_t)(j->p - digits);
    return n > 0 && !(n > 1 && *digits == '0') && j->p > start;
}

static int json_literal(Json *j, const char *word)
{
    size_t n = strlen(word);
    if ((size_t)(j->end - j->p) < n || memcmp(j->p, word, n) != 0)
        return 0;
    j->p += n;
    return 1;
}

static int json_container(Json *j, char close, int keyed)
{
    j->p++;
    json_ws(j);
    if (j->p < j->end && *j->p == close) {
        j->p++;
        return 1;
    }
    for (;;) {
        std::string key;
        json_ws(j);
        if (keyed) {
            if (!json_string(j, &key))
                return 0;
            json_ws(j);
            if (j->p >= j->end || *j->p++ != ':')
                return 0;
        }
        if (!json_value(j, keyed ? key.c_str() : NULL))
            return 0;
        json_ws(j);
        if (j->p >= j->end)
            return 0;
        char c = *j->p++;
        if (c == close)
            return 1;
        if (c != ',')
            return 0;
    }
}

static int json_value(Json *j, const char *key)
{
    json_ws(j);
    if (j->p >= j->end || ++j->depth > 64)
        return 0;
    int ok;
    char c = *j->p;
    if (c == '{' || c == '[') {
        ok = json_container(j, c == '{' ? '}' : ']', c == '{');
    } else if (c == '"') {
        std::string s;
        ok = json_string(j, &s);
        if (ok && key && j->on_path &&
            (strcmp(key, "path") == 0 || strcmp(key, "parent") == 0 || strcmp(key, "root") == 0))
            j->on_path(s, j->ctx);
    } else if (c == 't' || c == 'f' || c == 'n') {
        ok = json_literal(j, c == 't' ? "true" : c == 'f' ? "false" : "null");
    } else {
        ok = json_number(j);
    }
    j->depth--;
    return ok;
}

int json_valid(const char *text, size_t len, void (*on_path)(const std::string &, void *), void *ctx)
{
    Json j = {text, text + len, 0, on_path, ctx};
    if (!json_value(&j, NULL))
        return 0;
    json_ws(&j);
    return j.p == j.end;
}

int json_unquote(const char *text, size_t len, std::string *out)
{
    Json j = {text, text + len, 0, NULL, NULL};
    return json_string(&j, out) && j.p == j.end;
}

/* ---- CGI response -------------------------------------------------------- */

/* "Name: value" with a token name; the value may hold any byte but CR and LF. */
static int header_line(const std::string &line, std::string *name)
{
    size_t colon = line.find(": ");
    if (colon == std::string::npos || colon == 0)
        return 0;
    for (size_t i = 0; i < colon; i++) {
        char c = line[i];
        if (!(c == '-' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return 0;
    }
    *name = line.substr(0, colon);
    return line.find_first_of("\r\n") == std::string::npos;
}

/* The status a "Status:" value announces, or 0 when it is not one the
 * program may send, with its own reason phrase. */
static int status_line(const std::string &value)
{
    static const char *known[] = {"400 Bad Request", "401 Unauthorized", "403 Forbidden", "404 Not Found",
                                  "405 Method Not Allowed", "413 Payload Too Large", "415 Unsupported Media Type",
                                  "422 Unprocessable Content", "500 Internal Server Error", "503 Service Unavailable",
                                  "206 Partial Content", "304 Not Modified", "412 Precondition Failed",
                                  "416 Range Not Satisfiable"};
    for (const char *k : known)
        if (value == k)
            return atoi(k);
    return 0;
}

static void path_outside(const std::string &p, void *bad)
{
    if (!fx_under_roots(p.c_str()))
        *(std::string *)bad = p;
}

/* ---- ZIP archives ------------------------------------------------------- */

static unsigned long long le(const std::string &s, size_t at, int bytes)
{
    unsigned long long v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | (unsigned char)s[at + (size_t)i];
    return v;
}

/* The ZIP64 field of a central header's extra block, read for the values
 * that the header marks; 0 when the block is malformed. */
static int zip64_values(const std::string &z, size_t extra, size_t len, unsigned long long *vals[3])
{
    for (size_t at = extra; at + 4 <= extra + len;) {
        size_t size = (size_t)le(z, at + 2, 2);
        if (le(z, at, 2) == 1) {
            size_t v = at + 4;
            for (int i = 0; i < 3; i++)
                if (*vals[i] == 0xFFFFFFFFull) {
                    if (v + 8 > at + 4 + size)
                        return 0;
                    *vals[i] = le(z, v, 8);
                    v += 8;
                }
        }
        at += 4 + size;
    }
    return 1;
}

/* An entry's bytes as a reader would get them; 0 when they cannot be had. */
static int entry_bytes(const std::string &z, size_t cd, std::string *out)
{
    unsigned long long method = le(z, cd + 10, 2), csize = le(z, cd + 20, 4), usize = le(z, cd + 24, 4);
    unsigned long long local = le(z, cd + 42, 4);
    size_t name = (size_t)le(z, cd + 28, 2), extra = (size_t)le(z, cd + 30, 2);
    unsigned long long *vals[3] = {&usize, &csize, &local};
    if (!zip64_values(z, cd + 46 + name, extra, vals) || local + 30 > z.size())
        return 0;
    size_t data = (size_t)(local + 30 + le(z, (size_t)local + 26, 2) + le(z, (size_t)local + 28, 2));
    if (data + csize > z.size() || usize > (64u << 20))
        return 0;
    if (method == 0) {
        *out = z.substr(data, (size_t)csize);
        return 1;
    }
    z_stream s;
    memset(&s, 0, sizeof s);
    out->assign((size_t)usize, '\0');
    s.next_in = (Bytef *)z.data() + data;
    s.avail_in = (uInt)csize;
    s.next_out = (Bytef *)out->data();
    s.avail_out = (uInt)usize;
    int ok = method == 8 && inflateInit2(&s, -MAX_WBITS) == Z_OK && inflate(&s, Z_FINISH) == Z_STREAM_END;
    inflateEnd(&s);
    return ok && s.total_out == usize;
}

/* The names and bytes of every entry of an archive, found through its
 * central directory, into *all; 0 when the archive cannot be read. */
static int archive_text(const std::string &z, std::string *all)
{
    size_t end = z.size() >= 22 ? z.size() - 22 : 0;
    if (z.size() < 22 || le(z, end, 4) != 0x06054b50)
        return 0;
    unsigned long long count = le(z, end + 10, 2), cd = le(z, end + 16, 4);
    if ((count == 0xFFFF || cd == 0xFFFFFFFFull) && end >= 20 + 56) {
        size_t end64 = (size_t)le(z, end - 20 + 8, 8);
        if (end64 + 56 > z.size() || le(z, end64, 4) != 0x06064b50)
            return 0;
        count = le(z, end64 + 32, 8);
        cd = le(z, end64 + 48, 8);
    }
    for (unsigned long long i = 0; i < count; i++) {
        std::string bytes;
        if (cd + 46 > z.size() || le(z, (size_t)cd, 4) != 0x02014b50 || !entry_bytes(z, (size_t)cd, &bytes))
            return 0;
        size_t name = (size_t)le(z, (size_t)cd + 28, 2);
        *all += z.substr((size_t)cd + 46, name) + "\n" + bytes;
        cd += 46 + name + le(z, (size_t)cd + 30, 2) + le(z, (size_t)cd + 32, 2);
    }
    return 1;
}

/* A stream of JSON lines: each line one object that parses, every path it
 * names under a root, and the last one the end of the walk. */
static const char *check_stream(Answer *ans)
{
    const std::string &b = ans->body;
    std::string outside;
    if (ans->status != 200)
        return "a stream with an error status";
    if (b.empty() || b.back() != '\n')
        return "a stream that does not end with a whole line";
    size_t last = 0;
    for (size_t at = 0; at < b.size(); at = b.find('\n', at) + 1) {
        size_t end = b.find('\n', at);
        if (b[at] != '{' || !json_valid(b.data() + at, end - at, path_outside, &outside))
            return "a stream line that is not a JSON object";
        last = at;
    }
    if (!outside.empty())
        return "an answer names a path outside the roots";
    if (b.compare(last, 13, "{\"done\":true,") != 0)
        return "a stream whose last line is not its end";
    ans->json = 1;
    ans->ok = 1;
    return NULL;
}

static const char *check_body(const std::string &type, const std::string &disposition, Answer *ans)
{
    if (type == "application/x-ndjson; charset=utf-8")
        return check_stream(ans);
    if (type == "application/json; charset=utf-8") {
        ans->json = 1;
        std::string outside;
        const std::string &b = ans->body;
        if (b.empty() || b.back() != '\n' || !json_valid(b.data(), b.size(), path_outside, &outside))
            return "JSON body does not parse";
        if (!outside.empty())
            return "an answer names a path outside the roots";
        ans->ok = b.compare(0, 11, "{\"ok\":true,") == 0;
        if (!ans->ok && b.compare(0, 20, "{\"ok\":false,\"error\":") != 0)
            return "JSON body starts with neither ok true nor an error";
        if (ans->ok != (ans->status == 200))
            return "\"ok\" disagrees with the status";
        return NULL;
    }
    if (ans->status != 200 && ans->status != 206)
        return "an error answer that is not JSON";
    if (type == "text/html; charset=utf-8")
        return ans->body.empty() ? "an empty page" : NULL;
    /* A picture made from a file (a thumbnail) is one of the two formats
     * the program writes. */
    if (disposition.empty() && (type == "image/jpeg" || type == "image/png")) {
        const unsigned char *p = (const unsigned char *)ans->body.data();
        enum PicFormat f = pic_format(p, ans->body.size());
        return f == (type == "image/png" ? PIC_PNG : PIC_JPEG) ? NULL : "a made picture that is not of its type";
    }
    std::string inside;
    if (type == "application/zip" && !archive_text(ans->body, &inside))
        return "an archive that cannot be read";
    if (inside.find(FX_CANARY) != std::string::npos)
        return "canary text in an archive";
    return disposition.empty() ? "a file answer without Content-Disposition" : NULL;
}

/* Content-Length against the body, Content-Range against Content-Length,
 * and a 304 with nothing to say. */
static const char *check_framing(int head, const std::string &length, const std::string &range, Answer *ans)
{
    long long first = 0, last = 0, size = 0;
    if (ans->status == 304)
        return ans->body.empty() ? NULL : "a 304 with a body";
    if (head && !ans->body.empty())
        return "a body in the answer to HEAD";
    if (!length.empty() && !head && std::to_string(ans->body.size()) != length)
        return "a body that is not its Content-Length";
    if ((ans->status == 206) != !range.empty())
        return "Content-Range and 206 do not go together";
    if (range.empty())
        return NULL;
    if (sscanf(range.c_str(), "bytes %lld-%lld/%lld", &first, &last, &size) != 3 || first > last || last >= size ||
        std::to_string(last - first + 1) != length)
        return "a Content-Range that does not fit its length";
    ans->first = first;
    return NULL;
}

const char *check_response(const std::string &out, Answer *ans)
{
    *ans = Answer{200, 0, 0, std::string(), 0};
    if (out.find(FX_CANARY) != std::string::npos)
        return "canary text in the output";
    size_t end = out.find("\r\n\r\n");
    if (end == std::string::npos)
        return "no end of the header block";
    std::string type, disposition, length, range, seen = "|";
    for (size_t at = 0; at < end + 2;) {
        size_t eol = out.find("\r\n", at);
        std::string line = out.substr(at, eol - at), name;
        if (!header_line(line, &name))
            return "malformed header line";
        if (seen.find("|" + name + "|") != std::string::npos)
            return "a header given twice";
        seen += name + "|";
        std::string value = line.substr(name.size() + 2);
        if (name == "Status" && (at != 0 || !(ans->status = status_line(value))))
            return "bad or misplaced Status line";
        if (name == "Content-Type")
            type = value;
        if (name == "Content-Disposition")
            disposition = value;
        if (name == "Content-Length")
            length = value;
        if (name == "Content-Range" && ans->status == 206)
            range = value;
        at = eol + 2;
    }
    ans->body = out.substr(end + 4);
    /* A HEAD answer is the header block alone; its body is the GET's. */
    int head = getenv("REQUEST_METHOD") && strcmp(getenv("REQUEST_METHOD"), "HEAD") == 0;
    if (const char *broken = check_framing(head, length, range, ans))
        return broken;
    if (ans->status == 304)
        return NULL;
    if (type.empty())
        return "no Content-Type";
    return head ? NULL : check_body(type, disposition, ans);
}

static std::string file_bytes(const char *path)
{
    std::string s;
    FILE *f = fopen(path, "rb");
    char buf[4096];
    size_t n;
    while (f && (n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    if (f)
        fclose(f);
    return s;
}

const char *check_served(const char *query, const Answer &ans)
{
    char action[64], path[FS_PATH_MAX];
    get_query_val(query, "action", action, sizeof action);
    if ((ans.status != 200 && ans.status != 206) || !get_query_val(query, "path", path, sizeof path) || !path[0])
        return NULL;
    /* Every action but roots answers about the path it is given. */
    int raw = strcmp(action, "raw") == 0;
    if (!action_named(action) || strcmp(action, "roots") == 0)
        return NULL;
    char *real = realpath(path, NULL);
    const char *broken = !real || !fx_under_roots(real) ? "a path outside the roots was served"
                       : raw && ans.body != file_bytes(real).substr(ans.first, ans.body.size())
                           ? "raw body differs from the file"
                           : NULL;
    free(real);
    return broken;
}
