#include "actions.h"

#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "json.h"
#include "listing.h"
#include "path.h"
#include "query.h"
#include "response.h"
#include "str.h"

/* The most entries one answer carries; `from` asks for those after. */
enum { LS_PART = 5000 };
/* The most entries a listing covers (FILES_LS_MAX): the first ones of the
 * folder in the listing's order. Above the ceiling a setting is taken for
 * a mistake. */
static const long long LS_MAX_DEFAULT = 200000;
static const long long LS_MAX_CEILING = 10000000;
/* Names past the first block go into chunks of this size. */
enum { NAME_CHUNK = 1 << 20 };

/* Where names are kept: chunks that never move, so that entries can point
 * into them while the table grows, each filled from its start. */
struct NameChunk {
    struct NameChunk *next;
    char *bytes;
    size_t size;
};

/* A listing reads the whole folder and sorts it, so that the first entries
 * of its answer are the first of the folder, not the first the disk gave.
 * Its memory is bounded by the entries it covers: once the table holds
 * `keep` entries it is cut back to the first `max` in order, and an entry
 * that sorts after the last of those cannot enter again; every entry still
 * counts toward `total`.
 *
 * The first block holds the table, the sort's room and the names of
 * LS_PART entries at their longest: zero-filled large-page memory where the
 * system offers it (one fault for the whole block instead of one per page
 * that entries and names reach), else zero-filled memory of the allocator,
 * of which a listing of short names touches a small fraction. A larger
 * folder moves its table to the allocator, which gives its names chunks of
 * their own and its sort room when it is sorted. */
struct Listing {
    struct DirEntry *entries;
    int count;
    int room;
    int keep;
    int max;
    long long total;
    int last;               /* after a cut: the index of the last entry kept, else -1 */
    struct SortKey *block_keys;
    struct NameChunk first; /* the block's names */
    struct NameChunk *tail; /* the chunk the next name goes into */
    size_t tail_used;
    void *block;
    int block_owned;
    int table_owned;
};

static int listing_alloc(struct Listing *ls, int max)
{
    size_t table = LS_PART * (sizeof(struct DirEntry) + 2 * sizeof(struct SortKey));
    size_t size = table + (size_t)LS_PART * ENT_SLOT_MAX;
    memset(ls, 0, sizeof *ls);
    ls->block = fs_large_block(size);
    if (!ls->block) {
        ls->block = calloc(1, size);
        ls->block_owned = 1;
    }
    if (!ls->block)
        return 0;
    ls->entries = (struct DirEntry *)ls->block;
    ls->room = LS_PART;
    ls->max = max;
    ls->keep = max + LS_PART;
    ls->last = -1;
    ls->block_keys = (struct SortKey *)(ls->entries + LS_PART);
    ls->first.bytes = (char *)ls->block + table;
    ls->first.size = (size_t)LS_PART * ENT_SLOT_MAX;
    ls->tail = &ls->first;
    return 1;
}

/* Every chunk after `keep`. */
static void free_chunks_after(struct NameChunk *keep)
{
    struct NameChunk *c = keep->next;
    keep->next = NULL;
    while (c) {
        struct NameChunk *next = c->next;
        free(c);
        c = next;
    }
}

static void listing_free(struct Listing *ls)
{
    if (!ls->block)
        return;
    free_chunks_after(&ls->first);
    if (ls->table_owned)
        free(ls->entries);
    if (ls->block_owned)
        free(ls->block);
}

/* Room for one more name at its longest, in a new chunk when the last one
 * is full; NULL when no memory is left. */
static char *name_slot(struct Listing *ls)
{
    if (ls->tail->size - ls->tail_used >= ENT_SLOT_MAX)
        return ls->tail->bytes + ls->tail_used;
    struct NameChunk *c = (struct NameChunk *)malloc(sizeof *c + NAME_CHUNK);
    if (!c)
        return NULL;
    c->next = NULL;
    c->bytes = (char *)(c + 1);
    c->size = NAME_CHUNK;
    ls->tail->next = c;
    ls->tail = c;
    ls->tail_used = 0;
    return c->bytes;
}

/* Room to sort n entries: the block's for a folder of one part, else the
 * allocator's, which the caller frees when it is not the block's. */
static struct SortKey *sort_room(struct Listing *ls, int n)
{
    if (n <= LS_PART)
        return ls->block_keys;
    return (struct SortKey *)malloc(2 * (size_t)n * sizeof(struct SortKey));
}

static void free_sort_room(struct Listing *ls, struct SortKey *room)
{
    if (room != ls->block_keys)
        free(room);
}

static int grow_table(struct Listing *ls)
{
    int room = ls->room < ls->keep / 2 ? 2 * ls->room : ls->keep;
    struct DirEntry *t = (struct DirEntry *)malloc((size_t)room * sizeof *t);
    if (!t)
        return 0;
    memcpy(t, ls->entries, (size_t)ls->count * sizeof *t);
    if (ls->table_owned)
        free(ls->entries);
    ls->entries = t;
    ls->room = room;
    ls->table_owned = 1;
    return 1;
}

/* Keeps the entries marked in `kept`, in the order they came, and their
 * names, each moved down the chunks it was read into: a name is never
 * moved past where it lies, so none is overwritten before it has moved.
 * The chunks left empty go back to the allocator. */
static void compact(struct Listing *ls, const char *kept, int last)
{
    struct NameChunk *c = &ls->first;
    size_t used = 0;
    int w = 0;
    for (int i = 0; i < ls->count; i++) {
        if (!kept[i])
            continue;
        size_t len = ls->entries[i].len + 1u;
        if (c->size - used < len) {
            c = c->next;
            used = 0;
        }
        memmove(c->bytes + used, ls->entries[i].name, len);
        ls->entries[w] = ls->entries[i];
        ls->entries[w].name = c->bytes + used;
        used += len;
        if (i == last)
            ls->last = w;
        w++;
    }
    free_chunks_after(c);
    ls->tail = c;
    ls->tail_used = used;
    ls->count = w;
}

/* The table cut back to the first `max` entries in order. */
static int cut_back(struct Listing *ls)
{
    struct SortKey *room = sort_room(ls, ls->count);
    char *kept = (char *)calloc((size_t)ls->count, 1);
    if (!room || !kept) {
        free(kept);
        free_sort_room(ls, room);
        return 0;
    }
    const struct SortKey *order = ent_sort(ls->entries, ls->count, room);
    for (int i = 0; i < ls->max; i++)
        kept[order[i].index] = 1;
    compact(ls, kept, (int)order[ls->max - 1].index);
    free(kept);
    free_sort_room(ls, room);
    return 1;
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
    e->is_dir = (unsigned char)st.is_dir;
    e->size = st.size;
    e->mtime = st.mtime;
    e->mode = st.is_dir ? 0755 : 0644;
}

/* One entry of the folder into the table, unless it sorts after every
 * entry the listing can still cover. A link is looked up now, since its
 * target's kind decides its place; every other entry is looked up only
 * when it is answered. */
static int add_entry(struct Listing *ls, struct FsDir *d, size_t dir_len, const struct FsEntry *fe)
{
    struct DirEntry e = {};
    e.name = fe->name;
    e.len = (unsigned short)strnlen(fe->name, ENT_NAME_MAX - 1);
    e.is_dir = (unsigned char)fe->is_dir;
    e.is_link = (unsigned char)fe->is_link;
    ls->total++;
    if (e.is_link)
        stat_entry(d, dir_len, &e);
    if (ls->count == ls->keep && !cut_back(ls))
        return 0;
    if (ls->last >= 0 && ent_order(&e, &ls->entries[ls->last]) > 0)
        return 1;
    if (ls->count == ls->room && !grow_table(ls))
        return 0;
    char *slot = name_slot(ls);
    if (!slot)
        return 0;
    ls->tail_used += ent_keep_name(&e, slot, fe->name);
    ls->entries[ls->count++] = e;
    return 1;
}

/* The folder read whole into ls, left open in d for the entries answered
 * to be looked up; 0 when it cannot be listed. */
static int enumerate(struct FsDir *d, const char *dir, int hidden, struct Listing *ls)
{
    struct FsEntry fe;
    size_t dir_len = strlen(dir);
    if (!fs_dir_open(d, dir))
        return 0;
    while (fs_dir_next(d, &fe)) {
        if (!ent_left_out(fe.name, hidden) && !add_entry(ls, d, dir_len, &fe)) {
            fs_dir_close(d);
            return 0;
        }
    }
    return 1;
}

/* Which entries of the sorted listing an answer carries. `paged` when the
 * request gave `from` or the listing does not fit one answer: the answer
 * then says where it starts and how far the listing goes. */
struct Part {
    long long from;
    int first;
    int count;
    int paged;
};

static void choose_part(const struct Listing *ls, long long from, int from_given, struct Part *p)
{
    long long covered = ls->count < ls->max ? ls->count : ls->max;
    long long left = from < covered ? covered - from : 0;
    p->from = from;
    p->first = (int)(from < covered ? from : covered);
    p->count = (int)(left < (long long)LS_PART ? left : (long long)LS_PART);
    p->paged = from_given || p->count < ls->total;
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

static void send_listing(const char *dir, int hidden, const struct Listing *ls, const struct SortKey *order,
                         const struct Part *p)
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
    buf_printf(&b, ",\"hidden\":%d,\"count\":%d,\"truncated\":%s", hidden, p->count,
               p->first + p->count < ls->total ? "true" : "false");
    if (p->paged)
        buf_printf(&b, ",\"total\":%lld,\"from\":%lld,\"max\":%d", ls->total, p->from, ls->max);
    buf_puts(&b, ",\"entries\":[");
    buf_need(&b, LS_PIECE + LS_ENTRY_MAX);
    if (json_start(&b)) {
        int sent = 1;
        for (int i = 0; i < p->count && sent; i++) {
            put_entry(&b, &ls->entries[order[p->first + i].index], i == 0);
            if (b.len >= LS_PIECE)
                sent = resp_body_buf(&b);
        }
        buf_puts(&b, "\n]}\n");
        resp_body_buf(&b);
    }
    buf_free(&b);
}

/* Sorts what was read, looks up the entries of the part that were not
 * looked up while reading, and answers. 0 when there is no memory to sort.
 * The part is looked up in the order it was read, the directory's own,
 * which the file system serves faster than the listing's. */
static int answer(struct FsDir *d, const char *dir, int hidden, struct Listing *ls, long long from, int from_given)
{
    struct Part p;
    struct SortKey *room = sort_room(ls, ls->count);
    if (!room)
        return 0;
    const struct SortKey *order = ent_sort(ls->entries, ls->count, room);
    choose_part(ls, from, from_given, &p);
    for (int i = 0; i < p.count; i++)
        ls->entries[order[p.first + i].index].answered = 1;
    size_t dir_len = strlen(dir);
    for (int i = 0; i < ls->count; i++) {
        struct DirEntry *e = &ls->entries[i];
        if (e->answered && !e->is_link)
            stat_entry(d, dir_len, e);
    }
    send_listing(dir, hidden, ls, order, &p);
    free_sort_room(ls, room);
    return 1;
}

void act_ls(const char *query, const char *path)
{
    char dir[FS_PATH_MAX];
    int status, from_given;
    long long from;
    if (!query_decimal(query, "from", &from, &from_given)) {
        json_err(400, "bad offset");
        return;
    }
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
    long long max = config_limit("FILES_LS_MAX", LS_MAX_DEFAULT, LS_MAX_CEILING);
    struct Listing ls;
    struct FsDir d;
    int listed = listing_alloc(&ls, max > 0 ? (int)max : (int)LS_MAX_DEFAULT) && enumerate(&d, dir, hidden, &ls);
    if (listed) {
        listed = answer(&d, dir, hidden, &ls, from, from_given);
        fs_dir_close(&d);
    }
    if (!listed)
        json_err(403, "cannot list directory");
    listing_free(&ls);
}
