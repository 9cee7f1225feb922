/* In-process driving of plugin_files for the fuzzers and the traversal canary:
 * a fixture tree, one request run with its output captured, and the checks
 * that every answer must pass whatever the input. */
#ifndef PLUGIN_FILES_HARNESS_H
#define PLUGIN_FILES_HARNESS_H

#include <stddef.h>

#include <string>

/* Every file outside the roots holds this text, so a leak shows in any
 * output that carries file bytes. */
extern const char FX_CANARY[];

/* The tree, made once per process under a fresh temporary directory:
 *   r1/          root 1 and the current directory (relative paths start here)
 *   r1/a         link to ../a/a, the canary file
 *   r1/d         link to ../a, the canary directory
 *   r1/in        link to sub, staying inside
 *   r1/gone      dangling link; r1/loop: link to itself; r1/fifo: a FIFO
 *   r1/sub/..., note.txt, bin.dat, empty, .hidden, and a name with a quote,
 *               a backslash, a tab, a line feed and a byte 0xff
 *   r2/          root 2
 *   a/a          the canary file, beside the roots
 *   r1x/secret   canary again, in a sibling whose name starts with root 1's */
struct Fixture {
    char base[256];
    char root1[512];
    char root2[512];
    char roots_env[1100];  /* FILES_ALLOWED_ROOT for both roots */
};
const Fixture *fx_get(void);

struct Request {
    const char *query;     /* NULL: QUERY_STRING unset */
    const char *password;  /* KIV_PASSWORD; NULL: unset */
    const char *header;    /* HTTP_X_KIV_PASSWORD; NULL: unset */
    const char *auth;      /* HTTP_AUTHORIZATION; NULL: unset */
    const char *method;    /* REQUEST_METHOD; NULL: unset */
    const char *range;     /* HTTP_RANGE, and the conditions; NULL: unset */
    const char *if_range;
    const char *none_match;
    const char *modified_since;
};

/* Runs one request in this process and returns everything it wrote. */
std::string fx_run(const Request *req);

/* What check_response learnt of an answer. */
struct Answer {
    int status;            /* from the "Status:" line; 200 when absent */
    int json;              /* Content-Type was JSON */
    int ok;                /* the JSON "ok" field */
    std::string body;
    long long first;       /* where a 206's Content-Range starts, else 0 */
};

/* The rules every response keeps: one header block of well-formed lines, a
 * JSON body that parses and agrees with the status (or a 200 stream of JSON
 * lines, each an object, the last the end of the walk), every path it names
 * under a root, and no canary anywhere; a body of its Content-Length (or
 * none, for HEAD), a 206 with a Content-Range of its length, a 304 without
 * a body. NULL when they hold, else what broke. */
const char *check_response(const std::string &out, Answer *ans);

/* For a successful answer of any action that takes a path (every one in the
 * action table but roots): the path resolves, on its own, to a place under a
 * root, and raw sent exactly that file's bytes, or those of its range. NULL
 * when so, else what broke. */
const char *check_served(const char *query, const Answer &ans);

/* 1 when `path` lies under one of the fixture's roots (byte-exact). */
int fx_under_roots(const char *path);

/* Strict JSON: 1 when text[0..len) is exactly one value, whitespace around
 * it allowed. Raw bytes >= 0x80 pass inside strings, as the program writes
 * file names and text unchanged. Every string value of a "path", "parent"
 * or "root" key goes through `on_path`. */
int json_valid(const char *text, size_t len, void (*on_path)(const std::string &, void *), void *ctx);
/* Decodes one JSON string literal (quotes included) exactly; 0 if malformed. */
int json_unquote(const char *text, size_t len, std::string *out);

/* Aborts with the message and the input that caused it. */
[[noreturn]] void fail(const char *what, const std::string &detail);

#endif
