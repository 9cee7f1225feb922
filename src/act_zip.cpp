#include "actions.h"

#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "json.h"
#include "kinds.h"
#include "listing.h"
#include "path.h"
#include "query.h"
#include "response.h"
#include "str.h"
#include "walk.h"
#include "zip.h"

enum { FILE_NAME_MAX = 512, NAMES_MAX = 10000 };
static const long long DEFAULT_MAX_ENTRIES = 100000;
static const long long DEFAULT_MAX_BYTES = 4294967296LL;
/* Above these a limit is taken as a mistake and the default applies: an
 * entry's index is an int, and sizes stay far from overflow. */
static const long long ENTRIES_CEILING = 100000000LL;
static const long long BYTES_CEILING = 1000000000000000LL;

/* What the first walk finds, against what may be archived. */
struct Tally {
    long long entries;
    long long bytes;
    long long name_bytes;
    long long max_entries;
    long long max_bytes;
};

/* The parents of the entry being added, by depth, and what may still be
 * read: files that grew since the first walk do not push the archive past
 * the limit it was measured against. */
struct Writing {
    int parents[WALK_DEPTH_MAX + 1];
    long long bytes_left;
};

/* A selection: the entries of the folder that the name parameters pick,
 * sorted by their bytes so that each entry the folder holds is looked up in
 * a few steps, and each once however often it was named. The names are the
 * query's decoded values, in one block no longer than the query. */
struct Pick {
    const char *name;
    int found;
};
static struct Pick g_picks[NAMES_MAX];
static int g_pick_count;
static char *g_pick_names;

static int pick_order(const void *a, const void *b)
{
    return strcmp(((const struct Pick *)a)->name, ((const struct Pick *)b)->name);
}

static struct Pick *pick_of(const char *name)
{
    struct Pick key = {name, 0};
    return (struct Pick *)bsearch(&key, g_picks, (size_t)g_pick_count, sizeof key, pick_order);
}

static int picked(const char *name, void *ctx)
{
    (void)ctx;
    return pick_of(name) != NULL;
}

/* What can be one entry of the folder that its archive holds: a name, not
 * a path (no separator, never "." or ".."), and not one the archive leaves
 * out. Whether the folder holds it, the walk tells. */
static int name_form_ok(const char *name, int hidden)
{
    if (!name[0] || ent_left_out(name, hidden))
        return 0;
    for (const char *p = name; *p; p++)
        if (fs_is_sep(*p))
            return 0;
    return 1;
}

/* Each name once, in order. */
static void picks_sort(void)
{
    qsort(g_picks, (size_t)g_pick_count, sizeof g_picks[0], pick_order);
    int kept = 0;
    for (int i = 0; i < g_pick_count; i++)
        if (kept == 0 || strcmp(g_picks[kept - 1].name, g_picks[i].name) != 0)
            g_picks[kept++] = g_picks[i];
    g_pick_count = kept;
}

/* The names the query picks, each decoded into the block: 1, with none
 * when it names none, or 0 after answering the error. A decoded value is
 * never longer than its raw text, so the block always has room for the
 * next one. */
static int picks_read(const char *query, int hidden)
{
    size_t room = strlen(query) + 1;
    size_t used = 0;
    const char *at = query;
    g_pick_count = 0;
    g_pick_names = (char *)malloc(room);
    if (!g_pick_names) {
        json_err(500, "out of memory");
        return 0;
    }
    char *name = g_pick_names;
    enum QueryFound found;
    while ((found = query_next_val(&at, "name", name, room - used)) != QUERY_ABSENT) {
        if (found != QUERY_FOUND || !name_form_ok(name, hidden)) {
            json_err(400, "bad name");
            return 0;
        }
        if (g_pick_count == NAMES_MAX) {
            json_err(400, "more than 10000 names");
            return 0;
        }
        g_picks[g_pick_count++] = {name, 0};
        used += strlen(name) + 1;
        name = g_pick_names + used;
    }
    picks_sort();
    return 1;
}

/* 1 when the walk met every name picked. */
static int picks_all_found(void)
{
    for (int i = 0; i < g_pick_count; i++)
        if (!g_picks[i].found)
            return 0;
    return 1;
}

static int tally(const struct WalkItem *it, void *ctx)
{
    struct Tally *t = (struct Tally *)ctx;
    if (it->depth == 0 && g_pick_count)
        pick_of(it->name)->found = 1;
    t->entries++;
    t->name_bytes += (long long)strlen(it->name);
    if (!it->st.is_dir)
        t->bytes += it->st.size;
    return t->entries <= t->max_entries && t->bytes <= t->max_bytes;
}

static int add_file(const struct WalkItem *it, int parent, struct Writing *w)
{
    struct FsFile f;
    if (!walk_open(it->in, it->name, it->canon, &f))
        return ZIP_FULL;
    long long limit = it->st.size < w->bytes_left ? it->st.size : w->bytes_left;
    int added = zip_add_file(it->path, parent, it->st.mtime, &f, limit);
    fs_close(&f);
    w->bytes_left -= limit;
    return added;
}

/* An entry whose parent did not make it into the archive is left out too,
 * so that no name ever points at a missing directory. */
static int add_entry(const struct WalkItem *it, void *ctx)
{
    struct Writing *w = (struct Writing *)ctx;
    int parent = it->depth > 0 ? w->parents[it->depth - 1] : -1;
    if (it->depth > 0 && parent < 0)
        return 1;
    int added = it->st.is_dir ? zip_add_dir(it->path, parent, it->st.mtime) : add_file(it, parent, w);
    if (it->st.is_dir)
        w->parents[it->depth] = added;
    return added != ZIP_FAILED;
}

/* The archive is named after the directory; a root such as "/" or "C:\"
 * has no name of its own. 1 when the archive is to follow. */
static int send_zip_headers(const char *dir)
{
    char shown[FILE_NAME_MAX];
    const char *name = fs_root_len(dir) == strlen(dir) ? "files" : path_name(dir);
    disposition_name(name, shown, sizeof shown);
    struct OutBuf h = {};
    resp_head(&h, 200, RESP_ARCHIVE, NULL);
    resp_line(&h, "Content-Disposition: attachment; filename=\"%s.zip\"", shown);
    return resp_send_head(&h);
}

/* Memory for the central directory is taken only now, once the header
 * block is out; should it be refused, the body stays empty, which no reader
 * takes for an archive. */
static void send_archive(const char *dir, int hidden, walk_keep_fn keep, const struct Tally *t)
{
    struct Writing w;
    w.bytes_left = t->max_bytes;
    if (!zip_begin(t->entries, t->name_bytes))
        return;
    walk_tree(dir, hidden, keep, add_entry, &w);
    zip_end();
}

/* Everything is measured by a first walk, before the first byte goes out:
 * once the archive has started, no error answer can follow. A selection is
 * walked as the folder is, but for the entries it does not pick; a name the
 * walk did not meet is no entry that the folder's archive would hold. */
static void zip_folder(const char *dir, int hidden)
{
    walk_keep_fn keep = g_pick_count ? picked : NULL;
    struct Tally t = {0, 0, 0, config_limit("FILES_ZIP_MAX_ENTRIES", DEFAULT_MAX_ENTRIES, ENTRIES_CEILING),
                      config_limit("FILES_ZIP_MAX_BYTES", DEFAULT_MAX_BYTES, BYTES_CEILING)};
    enum WalkEnd end = walk_tree(dir, hidden, keep, tally, &t);
    if (end == WALK_UNREADABLE) {
        json_err(403, "cannot list directory");
        return;
    }
    if (end != WALK_DONE) {
        json_err(413, "folder too large to archive");
        return;
    }
    if (!picks_all_found()) {
        json_err(400, "bad name");
        return;
    }
    if (send_zip_headers(dir))
        send_archive(dir, hidden, keep, &t);
}

void act_zip(const char *query, const char *path)
{
    char dir[FS_PATH_MAX];
    if (!path_directory(path, dir))
        return;
    int hidden = query_flag(query, "hidden");
    if (picks_read(query, hidden))
        zip_folder(dir, hidden);
    free(g_pick_names);
    g_pick_names = NULL;
}
