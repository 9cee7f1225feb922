/* Traversal canary. Beside the roots lies a file holding a canary text (and a
 * link inside root 1 points at it); see tests/fuzz/harness.h for the tree.
 * Every `path` value built from the pieces of the alphabet below, up to
 * CANARY_DEPTH pieces, is asked of every action that takes a path (the
 * program's own action table: a new action is asked without a word here),
 * relative to root 1 and absolute under it, bare and followed by the
 * canary's own names; then the known bypass forms. No answer may carry the canary or name a path outside
 * the roots. With a program given as argument the bypass forms also go
 * through that program, one process each, as a web server would start it.
 *
 * Output: one summary line; the first broken rule aborts the run with the
 * request and the answer. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "actions.h"
#include "harness.h"

extern char **environ;

static const char *g_alphabet[] = {"%", "25", "2e", "2f", "5c", ".", "/", "\\", "a"};
enum { ALPHABET = sizeof g_alphabet / sizeof g_alphabet[0] };
static const char *g_suffixes[] = {"", "/a/a", "a/a"};
/* Each action is asked for hidden names too, and once per row below where
 * it needs more than a path to show what it finds: the row's text ends in
 * the parameter that takes the value asked ("@" stands for the fixture's
 * base). An action without a row is asked for its path. */
static const struct {
    const char *action;
    const char *params;
} g_params[] = {
    {"roots", NULL}, /* takes no path */
    /* Every name, and the canary's own text. */
    {"find", "q=*&path="},
    {"grep", "q=CANARY&path="},
    /* The folder, and the selection of root 1's entries by name, whose
     * links lead to the canary. */
    {"zip", "path="},
    {"zip", "path=@/r1&name="},
};
static std::vector<std::string> g_asked;

static std::string expand(const char *form);

static void list_actions(void)
{
    for (int i = 0; i < g_action_count; i++) {
        int rows = 0;
        for (const auto &p : g_params) {
            if (strcmp(p.action, g_actions[i].name) != 0)
                continue;
            rows++;
            if (p.params)
                g_asked.push_back(std::string("action=") + g_actions[i].name + "&hidden=1&" + expand(p.params));
        }
        if (rows == 0)
            g_asked.push_back(std::string("action=") + g_actions[i].name + "&hidden=1&path=");
    }
}
/* Over the bypass forms also the windows of read and a ranged raw. */
static const char *g_window_actions[] = {"action=read&tail=1&path=", "action=read&offset=1&path="};

/* Relative to root 1 unless absolute; "@" stands for the fixture's base. */
static const char *g_bypass[] = {
    "..", "../", "../a", "../a/a", "..%2fa%2fa", "%2e%2e/a/a", "%2e%2e%2fa%2fa", "%2E%2E%2Fa%2Fa",
    ".%2e/a/a", "%2e./a/a", "%252e%252e/a/a", "%252e%252e%252fa%252fa", "%25252e%25252e/a/a",
    "..%5ca%5ca", "..\\a\\a", "%5c..%5c..%5ca%5ca", "//..//a//a", "/./../a/a", ".//..//a/a",
    "../a/a.", "../a/a/", "../a/a/.", "../a/a//", "../a/./a", "../a/a%00.txt", "..%00/a/a",
    "....//a/a", "..../a/a", "...//a/a", "..;/a/a", "%c0%ae%c0%ae/a/a", "%e0%80%ae%e0%80%ae/a/a",
    "%uff0e%uff0e/a/a", "..%c0%afa%c0%afa", "a", "a/", "a/.", "a//", "./a", "d", "d/", "d/a",
    "d/./a", "d/../d/a", "in/../../a/a", "sub/../../a/a", "sub/../../r1x/secret", "../r1x/secret",
    "../r1/../a/a", "../r1x", "loop/../../a/a", "gone/../../a/a", "fifo/../../a/a", "+../a/a",
    "@/a/a", "@/a", "@/r1/a", "@/r1/d/a", "@/r1/../a/a", "@/r1/./../a/a", "@/r1x/secret",
    "@//r1//..//a//a", "@/r1/sub/../../a/a", "/proc/self/cwd/../a/a", "/proc/self/cwd/a",
    "/proc/self/root@/a/a", "/proc/self/cwd/d/a", "~/../a/a", "/", "/etc/passwd", "/etc",
    "%2fetc%2fpasswd", "file:///etc/passwd", "C:\\Windows", "\\\\server\\share",
};

struct Tally {
    long requests;
    long by_status[6]; /* 200 or 206, 400, 403, 404, 413, other */
};

static std::string g_base;

static int status_slot(int status)
{
    return status == 200 || status == 206 ? 0 : status == 400 ? 1 : status == 403 ? 2 : status == 404 ? 3 : status == 413 ? 4 : 5;
}

static void ask(const std::string &query, Tally *t, const char *range = NULL)
{
    Request req = {query.c_str(), NULL, NULL, NULL, NULL, range};
    std::string out = fx_run(&req);
    Answer ans;
    const char *broken = check_response(out, &ans);
    if (!broken)
        broken = check_served(query.c_str(), ans);
    if (broken)
        fail(broken, query + "\n" + out);
    t->requests++;
    t->by_status[status_slot(ans.status)]++;
}

static void ask_all_actions(const std::string &path, Tally *t)
{
    for (const std::string &a : g_asked)
        ask(a + path, t);
}

/* Every sequence of exactly `len` pieces, as an odometer over the alphabet. */
static long enumerate(int len, const std::string &prefix, Tally *t)
{
    std::vector<int> digit((size_t)len, 0);
    long paths = 0;
    for (;;) {
        std::string seq;
        for (int d : digit)
            seq += g_alphabet[d];
        for (const char *s : g_suffixes) {
            ask_all_actions(prefix + seq + s, t);
            paths++;
        }
        int i = len - 1;
        while (i >= 0 && ++digit[(size_t)i] == ALPHABET)
            digit[(size_t)i--] = 0;
        if (i < 0)
            return paths;
    }
}

static std::string expand(const char *form)
{
    std::string s = form;
    size_t at = s.find('@');
    return at == std::string::npos ? s : s.replace(at, 1, g_base);
}

/* One request through the real program; its whole output. */
static std::string run_program(const char *program, const std::string &query)
{
    int fds[2];
    if (pipe(fds) != 0)
        fail("cannot make a pipe", query);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    setenv("QUERY_STRING", query.c_str(), 1);
    char *argv[] = {(char *)program, NULL};
    pid_t pid;
    if (posix_spawn(&pid, program, &fa, NULL, argv, environ) != 0)
        fail("cannot start the program", program);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, (size_t)n);
    close(fds[0]);
    int st;
    waitpid(pid, &st, 0);
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
        fail("the program did not exit with 0", query);
    return out;
}

static void ask_program(const char *program, const std::string &path, Tally *t)
{
    for (const std::string &a : g_asked) {
        std::string query = a + path;
        std::string out = run_program(program, query);
        Answer ans;
        const char *broken = check_response(out, &ans);
        if (broken || (broken = check_served(query.c_str(), ans)))
            fail(broken, query + "\n" + out);
        t->requests++;
        t->by_status[status_slot(ans.status)]++;
    }
}

static long bypass_forms(const char *program, Tally *t)
{
    std::vector<std::string> forms;
    for (const char *f : g_bypass)
        forms.push_back(expand(f));
    /* Runs of "../" long enough to reach, pass and be cut at the path limit. */
    std::string up;
    for (int i = 0; i < 1400; i++)
        up += "../";
    forms.push_back(up.substr(0, 4089) + "a/a");
    forms.push_back(up + "a/a");
    forms.push_back(std::string(5000, '/') + "a/a");
    forms.push_back(std::string(6000, '.'));
    size_t relative = forms.size();
    for (size_t i = 0; i < relative; i++)
        forms.push_back(std::string(fx_get()->root1) + "/" + forms[i]);
    for (const std::string &form : forms) {
        ask_all_actions(form, t);
        for (const char *a : g_window_actions)
            ask(a + form, t);
        ask("action=raw&path=" + form, t, "bytes=1-");
        if (program)
            ask_program(program, form, t);
    }
    return (long)forms.size();
}

int main(int argc, char **argv)
{
    const Fixture *fx = fx_get();
    g_base = fx->base;
    list_actions();
    const char *depth_env = getenv("CANARY_DEPTH");
    int depth = depth_env ? atoi(depth_env) : 5;
    Tally t = {0, {0}};
    long paths = 0;
    const std::string prefixes[] = {"", std::string(fx->root1) + "/"};
    for (const std::string &prefix : prefixes)
        for (int len = 0; len <= depth; len++)
            paths += enumerate(len, prefix, &t);
    long bypass = bypass_forms(argc > 1 ? argv[1] : NULL, &t);
    ask("action=roots", &t);
    printf("canary: %ld alphabet paths (up to %d pieces) and %ld bypass forms, %ld requests; "
           "status 200: %ld, 400: %ld, 403: %ld, 404: %ld, other: %ld; canary never served\n",
           paths, depth, bypass, t.requests, t.by_status[0], t.by_status[1], t.by_status[2],
           t.by_status[3], t.by_status[4] + t.by_status[5]);
    return 0;
}
