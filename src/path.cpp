#include "path.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "json.h"
#include "str.h"

char g_roots[MAX_ROOTS][FS_PATH_MAX];
int g_root_count;

/* Length of `path` without trailing separators, keeping its root prefix. */
static size_t trimmed_len(const char *path)
{
    size_t n = strlen(path);
    size_t keep = fs_root_len(path);
    if (keep < 1)
        keep = 1;
    while (n > keep && fs_is_sep(path[n - 1]))
        n--;
    return n;
}

int path_under(const char *path, const char *root)
{
    size_t n = trimmed_len(root);
    if (n == 0)
        return 0;
    for (size_t i = 0; i < n; i++)
        if (path[i] == '\0' || fs_fold(path[i]) != fs_fold(root[i]))
            return 0;
    return path[n] == '\0' || fs_is_sep(path[n]) || fs_is_sep(root[n - 1]);
}

int path_same(const char *a, const char *b)
{
    return path_under(a, b) && path_under(b, a);
}

const char *path_root_of(const char *path)
{
    for (int i = 0; i < g_root_count; i++)
        if (path_under(path, g_roots[i]))
            return g_roots[i];
    return NULL;
}

/* A relative root (on Windows also "C:x" and "\x", which depend on the
 * drive and directory the server happens to start in) is left out as a
 * missing one is: what it names would change with the working directory. */
void add_root(const char *path)
{
    char canon[FS_PATH_MAX];
    int status = 0;
    if (g_root_count >= MAX_ROOTS || !path || fs_root_len(path) == 0)
        return;
    if (!canon_path(path, canon, &status))
        return;
    for (int i = 0; i < g_root_count; i++)
        if (path_same(canon, g_roots[i]))
            return;
    str_copy(g_roots[g_root_count++], FS_PATH_MAX, canon);
}

/* Each piece of a ";"-separated list; a piece too long to be a path is
 * skipped, the next one is still taken. */
static void add_root_list(const char *list)
{
    char piece[FS_PATH_MAX];
    while (*list) {
        size_t n = strcspn(list, ";");
        if (n < FS_PATH_MAX) {
            memcpy(piece, list, n);
            piece[n] = '\0';
            add_root(piece);
        }
        list += n;
        if (*list == ';')
            list++;
    }
}

void path_setup_roots(void)
{
    add_root(fs_default_root());
    add_root(fs_profile_dir());
    const char *list = getenv("FILES_ALLOWED_ROOT");
    if (list)
        add_root_list(list);
}

int resolve_allowed(const char *requested, char *out, int *status)
{
    *status = 0;
    if (!*requested) {
        *status = 400;
        return 0;
    }
    if (!canon_path(requested, out, status))
        return 0;
    if (path_root_of(out))
        return 1;
    *status = 403;
    return 0;
}

void path_err(int status)
{
    json_err(status, status == 403   ? "path not allowed"
                     : status == 404 ? "path not found"
                                     : "bad path");
}

int path_existing(const char *requested, char *canon, struct FsStat *st)
{
    int status;
    if (!resolve_allowed(requested, canon, &status)) {
        path_err(status);
        return 0;
    }
    if (!fs_stat(canon, st)) {
        json_err(404, "path not found");
        return 0;
    }
    return 1;
}

int path_directory(const char *requested, char *canon)
{
    struct FsStat st;
    if (!path_existing(requested, canon, &st))
        return 0;
    if (!st.is_dir) {
        json_err(400, "not a directory");
        return 0;
    }
    return 1;
}

int path_regular_file(const char *requested, char *canon, struct FsStat *st)
{
    if (!path_existing(requested, canon, st))
        return 0;
    if (!st->is_reg) {
        json_err(400, "not a regular file");
        return 0;
    }
    return 1;
}

int path_too_large(long long size, long long limit)
{
    static const long long MiB = 1048576;
    char message[64];
    if (limit <= 0 || size <= limit)
        return 0;
    if (limit % MiB == 0)
        snprintf(message, sizeof message, "file larger than %lld MiB", limit / MiB);
    else
        snprintf(message, sizeof message, "file larger than %lld bytes", limit);
    json_err(413, message);
    return 1;
}

int path_open_file(const char *canon, struct FsFile *f, const char *open_msg)
{
    int status;
    if (fs_open(canon, f, &status))
        return 1;
    json_err(status, status == 400 ? "not a regular file" : open_msg);
    return 0;
}

const char *path_name(const char *path)
{
    const char *last = NULL;
    for (const char *p = path; *p; p++)
        if (fs_is_sep(*p))
            last = p;
    return last && last[1] ? last + 1 : path;
}

int path_parent(const char *dir, const char *root, char *out)
{
    /* The root itself, in whatever spelling the platform counts as the same,
     * has no parent: a step up from it would leave the allowlist. */
    if (!root || path_same(dir, root))
        return 0;
    size_t n = trimmed_len(dir);
    /* Step back to the last separator, but never into the root prefix: the
     * parent of a first-level directory is the drive root or "/". */
    size_t keep = fs_root_len(dir);
    while (n > keep) {
        n--;
        if (fs_is_sep(dir[n]))
            break;
    }
    if (n < keep)
        n = keep;
    memcpy(out, dir, n);
    out[n] = '\0';
    return 1;
}
