#include "actions.h"

#include <stdlib.h>
#include <string.h>

#include "json.h"
#include "listing.h"
#include "path.h"
#include "query.h"
#include "response.h"
#include "str.h"

/* The enumeration stops here, so a huge directory costs no more than this. */
enum { LS_MAX_ENTRIES = 5000 };

/* The entry table and, behind it in the same block, a pool with room for
 * every name and its sort key at their longest. The block is zero-filled
 * large-page memory where the system offers it (one fault for the whole
 * table instead of one per page that entries and names reach), else
 * zero-filled memory of the allocator, of which a listing of short names
 * touches a small fraction. */
struct Listing {
    struct DirEntry *entries;
    struct SortKey *keys;      /* twice LS_MAX_ENTRIES: the sort's room */
    char *names;
    size_t names_used;
    int count;
    int truncated;
    int owned;         /* the block came from the allocator */
};

static int listing_alloc(struct Listing *ls)
{
    size_t table = LS_MAX_ENTRIES * (sizeof(struct DirEntry) + 2 * sizeof(struct SortKey));
    size_t size = table + (size_t)LS_MAX_ENTRIES * ENT_SLOT_MAX;
    memset(ls, 0, sizeof *ls);
    ls->entries = (struct DirEntry *)fs_large_block(size);
    if (!ls->entries) {
        ls->entries = (struct DirEntry *)calloc(1, size);
        ls->owned = 1;
    }
    if (!ls->entries)
        return 0;
    ls->keys = (struct SortKey *)(ls->entries + LS_MAX_ENTRIES);
    ls->names = (char *)ls->entries + table;
    return 1;
}

static void listing_free(struct Listing *ls)
{
    if (ls->owned)
        free(ls->entries);
}

/* An entry whose attributes cannot be read keeps size 0, time 0 and mode 0,
 * and the kind the enumeration gave it; so does one whose full path would
 * be too long to name, as on a platform that can only look it up by that
 * path. Looked up in the open directory, so the system walks no path. */
static void stat_entry(struct FsDir *d, size_t dir_len, struct DirEntry *e)
{
    struct FsStat st;
    if (dir_len + 1 + strlen(e->name) >= FS_PATH_MAX || !fs_stat_at(d, e->name, &st))
        return;
    e->is_dir = st.is_dir;
    e->size = st.size;
    e->mtime = st.mtime;
    e->mode = st.is_dir ? 0755 : 0644;
}

static int enumerate(const char *dir, int hidden, struct Listing *ls)
{
    struct FsDir d;
    struct FsEntry fe;
    size_t dir_len = strlen(dir);
    if (!fs_dir_open(&d, dir))
        return 0;
    while (fs_dir_next(&d, &fe)) {
        if (ent_left_out(fe.name, hidden))
            continue;
        if (ls->count == LS_MAX_ENTRIES) {
            ls->truncated = 1;
            break;
        }
        struct DirEntry *e = &ls->entries[ls->count++];
        ls->names_used += ent_keep_name(e, ls->names + ls->names_used, fe.name);
        e->is_dir = fe.is_dir;
        e->is_link = fe.is_link;
        stat_entry(&d, dir_len, e);
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
    buf_puts(b, first ? "\n  {" : ",\n  {");
    ent_put(b, e);
    buf_puts(b, "}");
}

/* The body goes out whenever this much of it is built: one buffer that
 * never grows past it, where a whole listing of long names would take
 * megabytes and their copies. Its room is taken before the header block,
 * for the piece and the longest entry that can end one (every byte of a
 * name escaped), so no append can fail once the answer has begun. */
enum { LS_PIECE = 60 * 1024, LS_ENTRY_MAX = 6 * ENT_NAME_MAX + 256 };

static void send_listing(const char *dir, int hidden, const struct Listing *ls, const struct SortKey *order)
{
    struct OutBuf b = {};
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
    buf_need(&b, LS_PIECE + LS_ENTRY_MAX);
    if (json_start(&b)) {
        int sent = 1;
        for (int i = 0; i < ls->count && sent; i++) {
            put_entry(&b, &ls->entries[order[i].index], i == 0);
            if (b.len >= LS_PIECE)
                sent = resp_body_buf(&b);
        }
        buf_puts(&b, "\n]}\n");
        resp_body_buf(&b);
    }
    buf_free(&b);
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
    struct Listing ls;
    if (!listing_alloc(&ls) || !enumerate(dir, hidden, &ls)) {
        listing_free(&ls);
        json_err(403, "cannot list directory");
        return;
    }
    send_listing(dir, hidden, &ls, ent_sort(ls.entries, ls.count, ls.keys));
    listing_free(&ls);
}
