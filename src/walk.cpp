#include "walk.h"

#include <string.h>

#include "listing.h"
#include "path.h"

struct WalkLevel {
    struct FsDir dir;
    struct FsId id;
    size_t path_len;
};

/* One level per open directory, the walked one first. */
static struct WalkLevel g_levels[WALK_DEPTH_MAX + 1];
static char g_path[FS_PATH_MAX];
static char g_full[FS_PATH_MAX];
static char g_canon[FS_PATH_MAX];

/* The relative name of `name` inside the directory whose name takes the
 * first `len` bytes of g_path. */
static int set_path(size_t len, const char *name)
{
    size_t name_len = strlen(name);
    if (len > 0)
        g_path[len++] = '/';
    if (len + name_len >= sizeof g_path)
        return 0;
    memcpy(g_path + len, name, name_len + 1);
    return 1;
}

/* The facts of an entry: looked up in its directory, or for a link by the
 * canonical path of its target, which must lie under a root. */
static int look_up(const char *top, const struct FsEntry *fe, struct WalkItem *it)
{
    if (!fe->is_link)
        return fs_stat_at(it->in, fe->name, &it->st);
    if (!fs_join(g_full, top, g_path) || !walk_link_target(g_full, g_canon, &it->st))
        return 0;
    it->canon = g_canon;
    return 1;
}

static int on_the_way(const struct FsId *id, int depth)
{
    for (int i = 0; i < depth; i++)
        if (g_levels[i].id.volume == id->volume && g_levels[i].id.file == id->file)
            return 1;
    return 0;
}

/* Opens the directory an item names as level `depth`: 1, or 0 when it
 * cannot be read or is already open on the way down. */
static int open_level(const struct WalkItem *it, int depth)
{
    struct WalkLevel *lv = &g_levels[depth];
    int opened = it->canon ? fs_dir_open(&lv->dir, it->canon) : fs_dir_open_at(&lv->dir, it->in, it->name);
    if (!opened)
        return 0;
    if (!fs_dir_id(&lv->dir, &lv->id) || on_the_way(&lv->id, depth)) {
        fs_dir_close(&lv->dir);
        return 0;
    }
    lv->path_len = strlen(g_path);
    return 1;
}

/* What a walk was asked for. */
struct WalkRun {
    const char *top;
    int hidden;
    walk_keep_fn keep;
    walk_fn visit;
    void *ctx;
};

/* What one entry of the directory at level depth - 1 adds to the walk: its
 * visit, and for a directory a new level. */
static enum WalkEnd step(const struct WalkRun *run, int *depth)
{
    struct WalkLevel *lv = &g_levels[*depth - 1];
    struct FsEntry fe;
    if (!fs_dir_next(&lv->dir, &fe)) {
        fs_dir_close(&lv->dir);
        --*depth;
        return WALK_DONE;
    }
    if (ent_left_out(fe.name, run->hidden) || (*depth == 1 && run->keep && !run->keep(fe.name, run->ctx)))
        return WALK_DONE;
    if (!set_path(lv->path_len, fe.name))
        return WALK_TOO_LARGE;
    struct WalkItem it = {g_path, fe.name, *depth - 1, {0, 0, 0, 0}, &lv->dir, NULL};
    if (!look_up(run->top, &fe, &it) || !(it.st.is_dir || it.st.is_reg))
        return WALK_DONE;
    if (it.st.is_reg)
        return run->visit(&it, run->ctx) ? WALK_DONE : WALK_STOPPED;
    if (*depth > WALK_DEPTH_MAX)
        return WALK_TOO_LARGE;
    if (!open_level(&it, *depth))
        return WALK_DONE;
    ++*depth;
    return run->visit(&it, run->ctx) ? WALK_DONE : WALK_STOPPED;
}

enum WalkEnd walk_tree(const char *dir, int hidden, walk_keep_fn keep, walk_fn visit, void *ctx)
{
    const struct WalkRun run = {dir, hidden, keep, visit, ctx};
    struct WalkLevel *top = &g_levels[0];
    if (!fs_dir_open(&top->dir, dir))
        return WALK_UNREADABLE;
    if (!fs_dir_id(&top->dir, &top->id)) {
        fs_dir_close(&top->dir);
        return WALK_UNREADABLE;
    }
    top->path_len = 0;
    int depth = 1;
    enum WalkEnd end = WALK_DONE;
    while (depth > 0 && end == WALK_DONE)
        end = step(&run, &depth);
    while (depth > 0)
        fs_dir_close(&g_levels[--depth].dir);
    return end;
}

int walk_link_target(const char *link, char *canon, struct FsStat *st)
{
    int status;
    return resolve_allowed(link, canon, &status) && fs_stat(canon, st);
}

int walk_open(struct FsDir *in, const char *name, const char *canon, struct FsFile *f)
{
    int status;
    if (canon)
        return fs_open(canon, f, &status);
    return fs_open_at(in, name, f, &status);
}
