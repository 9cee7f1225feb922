#include "sweep.h"

#include <stdio.h>
#include <string.h>

#include "config.h"
#include "json.h"
#include "listing.h"
#include "query.h"
#include "response.h"
#include "str.h"
#include "walk.h"

enum {
    /* The directories waiting for their turn, each a record and its names:
     * some 140,000 with short names before the walk turns depth first.
     * Untouched room costs no memory. */
    SWEEP_ROOM = 8 << 20,
    TICK_EVERY = 64,     /* entries between looks at the clock */
    CHECK_MS = 10,       /* between looks at the client */
    PROGRESS_MS = 100    /* between progress lines */
};
/* Longer limits are taken for a mistake. */
static const long long SECONDS_CEILING = 86400;
static const long long RESULTS_CEILING = 100000000LL;
static const long long DEFAULT_RESULTS = 1000;

/* A directory met on the walk. The chain of `up` is the way down to it:
 * its names, and the directories that it must not be. */
struct Folder {
    struct Folder *up;  /* the one that holds it; NULL for the walked directory */
    const char *name;
    const char *base;   /* reached through a link: the target's canonical path */
    struct FsId id;     /* once it is open */
    int depth;          /* 0 for the walked directory */
    unsigned int bytes; /* its record's room in g_room */
};

/* A directory entered as soon as it is met, once the room is full: one
 * per level of the way down. */
struct Deep {
    struct Folder folder;
    struct FsDir dir;
    char name[ENT_NAME_MAX];
    char base[FS_PATH_MAX];
};

alignas(8) static char g_room[SWEEP_ROOM];
static size_t g_used, g_next;
static int g_room_full;
static struct Deep g_deep[WALK_DEPTH_MAX + 1];
static struct Folder g_top;
static struct FsDir g_top_dir;
static size_t g_top_len;
/* The full path of the entry at hand. */
static char g_path[FS_PATH_MAX];
static char g_canon[FS_PATH_MAX];
static char g_joined[FS_PATH_MAX];

/* Appends a name to g_path at *at, with a separator unless the walked
 * directory is a root that ends in one: 0 when it would not fit. */
static int put_name(size_t *at, const char *name)
{
    size_t n = strlen(name);
    size_t sep = *at > 0 && !fs_is_sep(g_path[*at - 1]);
    if (*at + sep + n >= sizeof g_path)
        return 0;
    if (sep)
        g_path[(*at)++] = FS_SEP;
    memcpy(g_path + *at, name, n + 1);
    *at += n;
    return 1;
}

/* The names after position `at` of g_path, without the separator. */
static const char *names_after(size_t at)
{
    return g_path + at + (fs_is_sep(g_path[at]) ? 1 : 0);
}

static int on_the_way(const struct Folder *f, const struct FsId *id)
{
    for (; f; f = f->up)
        if (f->id.volume == id->volume && f->id.file == id->file)
            return 1;
    return 0;
}

/* A link whose target is a directory open on the way down is left out, as
 * the archive leaves it out, rather than listed and never entered. */
static int loops(const struct Folder *f, const char *canon)
{
    struct FsId id;
    return fs_id_of(canon, &id) && on_the_way(f, &id);
}

static void read_folder(struct Sweep *s, struct Folder *f, struct FsDir *d);

/* What an opened directory adds: nothing when it is open on the way down
 * already, its entries otherwise. One that did not open is counted. */
static void enter(struct Sweep *s, struct Folder *f, struct FsDir *d, int opened)
{
    if (!opened || !fs_dir_id(d, &f->id)) {
        s->skipped++;
        if (opened)
            fs_dir_close(d);
        return;
    }
    if (!on_the_way(f->up, &f->id))
        read_folder(s, f, d);
    fs_dir_close(d);
}

/* A record for the directory `name` of f at the end of the queue: 0 when
 * the room is full. */
static int queue(struct Folder *f, const char *name, const char *canon)
{
    size_t name_len = strlen(name) + 1;
    size_t base_len = canon ? strlen(canon) + 1 : 0;
    size_t bytes = (sizeof(struct Folder) + name_len + base_len + 7) & ~(size_t)7;
    if (g_used + bytes > sizeof g_room)
        return 0;
    struct Folder *q = (struct Folder *)(g_room + g_used);
    char *names = (char *)(q + 1);
    memcpy(names, name, name_len);
    if (canon)
        memcpy(names + name_len, canon, base_len);
    *q = {f, names, canon ? names + name_len : NULL, {0, 0}, f->depth + 1, (unsigned int)bytes};
    g_used += bytes;
    return 1;
}

/* Depth first from here: the directory is opened from the one being read
 * (or a link's target by its canonical path) and walked before the next
 * entry. g_path names it already. */
static void descend_now(struct Sweep *s, struct Folder *f, struct FsDir *d, const char *name, const char *canon)
{
    struct Deep *dp = &g_deep[f->depth + 1];
    str_copy(dp->name, sizeof dp->name, name);
    dp->folder = {f, dp->name, NULL, {0, 0}, f->depth + 1, 0};
    if (canon) {
        str_copy(dp->base, sizeof dp->base, canon);
        dp->folder.base = dp->base;
    }
    int opened = canon ? fs_dir_open(&dp->dir, canon) : fs_dir_open_at(&dp->dir, d, name);
    enter(s, &dp->folder, &dp->dir, opened);
}

/* A directory found in f: queued, or once the room is full walked now. */
static void below(struct Sweep *s, struct Folder *f, struct FsDir *d, const char *name, const char *canon)
{
    if (f->depth + 1 > WALK_DEPTH_MAX) {
        s->skipped++;
        return;
    }
    if (!g_room_full && queue(f, name, canon))
        return;
    g_room_full = 1;
    descend_now(s, f, d, name, canon);
}

/* One entry of f, whose path takes the first `len` bytes of g_path: what
 * it is (a link by its target), its visit, and for a directory its turn. */
static void take(struct Sweep *s, struct Folder *f, struct FsDir *d, const struct FsEntry *fe, size_t len)
{
    size_t at = len;
    if (!put_name(&at, fe->name)) {
        s->skipped++;
        return;
    }
    struct FsStat st;
    struct SweepItem it = {g_path, fe->name, f->depth, fe->is_dir, d, NULL, NULL};
    if (fe->is_link) {
        if (!s->links || !walk_link_target(g_path, g_canon, &st) || !(st.is_dir || st.is_reg))
            return;
        if (st.is_dir && loops(f, g_canon))
            return;
        it.is_dir = st.is_dir;
        it.canon = g_canon;
        it.st = &st;
    } else if (!fe->is_dir && !fe->is_reg) {
        return;
    }
    s->visited++;
    if (s->visit(s, &it) && it.is_dir)
        below(s, f, d, fe->name, it.canon);
}

static void read_folder(struct Sweep *s, struct Folder *f, struct FsDir *d)
{
    size_t len = strlen(g_path);
    struct FsEntry fe;
    int n = 0;
    while (s->end == SWEEP_DONE && fs_dir_next(d, &fe)) {
        if (++n % TICK_EVERY == 0 && !sweep_tick(s))
            return;
        if (!ent_left_out(fe.name, s->hidden))
            take(s, f, d, &fe, len);
    }
}

/* g_path becomes f's full path. The nearest folder on the way that was
 * reached through a link is returned (NULL for none), and *from is where
 * the names below it begin in g_path. */
static const struct Folder *path_of(const struct Folder *f, size_t *from)
{
    const struct Folder *chain[WALK_DEPTH_MAX + 1];
    const struct Folder *base = NULL;
    int n = 0;
    for (; f->up; f = f->up)
        chain[n++] = f;
    size_t at = g_top_len;
    g_path[at] = '\0';
    *from = at;
    while (n-- > 0) {
        put_name(&at, chain[n]->name);
        if (chain[n]->base) {
            base = chain[n];
            *from = at;
        }
    }
    return base;
}

/* A queued directory, looked up below the walked directory in one step,
 * or below the link target it lies under by that target's canonical path,
 * as the archive opens a link's target. */
static int open_queued(const struct Folder *f, struct FsDir *d)
{
    size_t from;
    const struct Folder *base = path_of(f, &from);
    const char *names = names_after(from);
    if (!base)
        return fs_dir_open_below(d, &g_top_dir, names);
    if (!*names)
        return fs_dir_open(d, base->base);
    return fs_join(g_joined, base->base, names) && fs_dir_open(d, g_joined);
}

long long sweep_results_limit(void)
{
    return config_limit("FILES_FIND_MAX_RESULTS", DEFAULT_RESULTS, RESULTS_CEILING);
}

int sweep_query(const char *query, char *q)
{
    get_query_val(query, "q", q, SWEEP_QUERY_ROOM);
    if (!q[0]) {
        json_err(400, "missing query");
        return 0;
    }
    if (strlen(q) > SWEEP_QUERY_MAX) {
        json_err(400, "query too long");
        return 0;
    }
    return 1;
}

void sweep_prepare(const char *query, long long default_seconds, struct Sweep *s)
{
    s->hidden = query_flag(query, "hidden");
    s->seconds = config_limit("FILES_SEARCH_SECONDS", default_seconds, SECONDS_CEILING);
    s->visited = s->matched = s->skipped = 0;
    s->end = SWEEP_DONE;
    s->started = fs_clock_ms();
    s->next_check = s->started + CHECK_MS;
    s->next_progress = s->started + PROGRESS_MS;
}

int sweep_open(const char *dir)
{
    g_used = g_next = 0;
    g_room_full = 0;
    str_copy(g_path, sizeof g_path, dir);
    g_top_len = strlen(g_path);
    g_top = {NULL, "", NULL, {0, 0}, 0, 0};
    if (fs_dir_open(&g_top_dir, dir)) {
        if (fs_dir_id(&g_top_dir, &g_top.id))
            return 1;
        fs_dir_close(&g_top_dir);
    }
    json_err(403, "cannot list directory");
    return 0;
}

void sweep_run(struct Sweep *s)
{
    if (sweep_tick(s))
        read_folder(s, &g_top, &g_top_dir);
    while (s->end == SWEEP_DONE && g_next < g_used && sweep_tick(s)) {
        struct Folder *f = (struct Folder *)(g_room + g_next);
        g_next += f->bytes;
        struct FsDir d;
        enter(s, f, &d, open_queued(f, &d));
    }
    sweep_cancel();
}

void sweep_cancel(void)
{
    fs_dir_close(&g_top_dir);
}

static int progress_line(const struct Sweep *s)
{
    char line[64];
    int n = snprintf(line, sizeof line, "{\"progress\":true,\"visited\":%lld}\n", s->visited);
    return resp_body(line, (size_t)n) && resp_flush();
}

int sweep_tick(struct Sweep *s)
{
    long long now = fs_clock_ms();
    if (now - s->started >= s->seconds * 1000)
        s->end = SWEEP_TIME;
    else if (now >= s->next_check && fs_out_closed())
        s->end = SWEEP_GONE;
    if (now >= s->next_check)
        s->next_check = now + CHECK_MS;
    if (s->end == SWEEP_DONE && s->progress && now >= s->next_progress) {
        s->next_progress = now + PROGRESS_MS;
        if (!progress_line(s))
            s->end = SWEEP_GONE;
    }
    return s->end == SWEEP_DONE;
}

int sweep_stream_start(void)
{
    struct OutBuf h = {};
    resp_head(&h, 200, RESP_JSON, "application/x-ndjson; charset=utf-8");
    return resp_send_head(&h) && resp_flush();
}

int sweep_send(struct OutBuf *b)
{
    return resp_body_buf(b) && resp_flush();
}

void sweep_stream_end(const struct Sweep *s)
{
    static const char *reasons[] = {"null", "\"limit\"", "\"time\""};
    if (s->end == SWEEP_GONE)
        return;
    char line[160];
    int n = snprintf(line, sizeof line,
                     "{\"done\":true,\"visited\":%lld,\"matched\":%lld,\"skipped\":%lld,\"truncated\":%s,\"reason\":%s}\n",
                     s->visited, s->matched, s->skipped, s->end == SWEEP_DONE ? "false" : "true", reasons[s->end]);
    resp_body(line, (size_t)n);
    resp_flush();
}
