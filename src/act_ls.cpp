#include "actions.h"

#include <stdlib.h>
#include <string.h>

#include "out.h"
#include "path.h"
#include "query.h"
#include "timefmt.h"

/* The enumeration stops here, so a huge directory costs no more than this. */
enum { LS_MAX_ENTRIES = 5000 };

struct Listing {
    struct DirEntry *entries;
    int count;
    int truncated;
};

static int lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

int ent_cmp(const void *a, const void *b)
{
    const struct DirEntry *x = (const struct DirEntry *)a;
    const struct DirEntry *y = (const struct DirEntry *)b;
    if (x->is_dir != y->is_dir)
        return x->is_dir ? -1 : 1;
    const unsigned char *p = (const unsigned char *)x->name;
    const unsigned char *q = (const unsigned char *)y->name;
    for (; *p || *q; p++, q++)
        if (lower(*p) != lower(*q))
            return lower(*p) < lower(*q) ? -1 : 1;
    return strcmp(x->name, y->name);
}

static int is_dot_name(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

/* An entry whose attributes cannot be read, or whose full path would be too
 * long to name, keeps size 0, time 0 and mode 0. */
static void stat_entry(const char *dir, struct DirEntry *e)
{
    char full[FS_PATH_MAX];
    struct FsStat st;
    if (!path_join(full, dir, e->name) || !fs_stat(full, &st))
        return;
    e->size = st.is_dir ? 0 : st.size;
    e->mtime = st.mtime;
    e->mode = st.is_dir ? 0755 : 0644;
}

static int enumerate(const char *dir, int hidden, struct Listing *ls)
{
    struct FsDir d;
    struct FsEntry fe;
    if (!fs_dir_open(&d, dir))
        return 0;
    while (fs_dir_next(&d, &fe)) {
        if (is_dot_name(fe.name) || (!hidden && fe.name[0] == '.'))
            continue;
        if (ls->count == LS_MAX_ENTRIES) {
            ls->truncated = 1;
            break;
        }
        struct DirEntry *e = &ls->entries[ls->count++];
        str_copy(e->name, sizeof e->name, fe.name);
        e->is_dir = fe.is_dir;
        e->is_link = fe.is_link;
        stat_entry(dir, e);
    }
    fs_dir_close(&d);
    return 1;
}

static void json_str_or_null(struct OutBuf *b, const char *s)
{
    if (s)
        json_str(b, s);
    else
        buf_puts(b, "null");
}

static void put_entry(struct OutBuf *b, const struct DirEntry *e, int first)
{
    char when[TIME_TEXT_MAX];
    time_text(e->mtime, when);
    buf_puts(b, first ? "\n  {\"name\":" : ",\n  {\"name\":");
    json_str(b, e->name);
    buf_printf(b, ",\"type\":\"%s\",\"link\":%s,\"size\":%lld,\"mtime\":\"%s\",\"mode\":\"%04o\"}",
               e->is_dir ? "dir" : "file", e->is_link ? "true" : "false", e->size, when,
               e->mode & 07777);
}

static void send_listing(const char *dir, int hidden, const struct Listing *ls)
{
    struct OutBuf b = {0, 0, 0};
    char parent[FS_PATH_MAX];
    const char *root = path_root_of(dir);
    int has_parent = path_parent(dir, root, parent);
    buf_puts(&b, "{\"ok\":true,\"path\":");
    json_str(&b, dir);
    buf_puts(&b, ",\"parent\":");
    json_str_or_null(&b, has_parent ? parent : NULL);
    buf_puts(&b, ",\"root\":");
    json_str_or_null(&b, root);
    buf_printf(&b, ",\"hidden\":%d,\"count\":%d,\"truncated\":%s,\"entries\":[", hidden, ls->count,
               ls->truncated ? "true" : "false");
    for (int i = 0; i < ls->count; i++)
        put_entry(&b, &ls->entries[i], i == 0);
    buf_puts(&b, "\n]}\n");
    json_send(&b);
}

void act_ls(const char *query, const char *path)
{
    char dir[FS_PATH_MAX];
    int status;
    if (!*path) {
        if (g_root_count == 0) {
            json_err(500, "no allowlisted root available");
            return;
        }
        str_copy(dir, sizeof dir, g_roots[0]);
    } else if (!resolve_allowed(path, dir, &status)) {
        path_err(status);
        return;
    }
    int hidden = query_flag(query, "hidden");
    struct Listing ls = {(struct DirEntry *)calloc(LS_MAX_ENTRIES, sizeof(struct DirEntry)), 0, 0};
    if (!ls.entries || !enumerate(dir, hidden, &ls)) {
        free(ls.entries);
        json_err(403, "cannot list directory");
        return;
    }
    if (ls.count > 1)
        qsort(ls.entries, (size_t)ls.count, sizeof(struct DirEntry), ent_cmp);
    send_listing(dir, hidden, &ls);
    free(ls.entries);
}
