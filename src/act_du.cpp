#include "actions.h"

#include <string.h>

#include "json.h"
#include "path.h"
#include "response.h"
#include "sweep.h"

/* A folder's size is asked for each folder of a listing: it gets less time
 * than a search, unless FILES_SEARCH_SECONDS says. */
static const long long DU_SECONDS = 5;

/* Files with more than one name, by what makes them the same file: each is
 * counted the first time it is met. Open addressing, filled to three
 * quarters at most (4 MiB, untouched but for the slots used); a file that
 * finds no room is passed over and counted as skipped. */
enum { LINKED_SLOTS = 1 << 18, LINKED_MAX = LINKED_SLOTS / 4 * 3 };
static struct FsId g_linked[LINKED_SLOTS];
static int g_linked_count;

struct Du {
    long long size, files, dirs;
};

/* 1 the first time an id is met, 0 after; -1 when there is no room. An id
 * of zeros marks a free slot: no file has one. */
static int linked_first(const struct FsId *id)
{
    unsigned long long h = (id->volume * 0x9E3779B97F4A7C15ull ^ id->file) * 0xBF58476D1CE4E5B9ull;
    for (size_t i = (size_t)(h >> 46);; i = (i + 1) & (LINKED_SLOTS - 1)) {
        struct FsId *slot = &g_linked[i];
        if (slot->volume == id->volume && slot->file == id->file)
            return 0;
        if (slot->volume || slot->file)
            continue;
        if (g_linked_count == LINKED_MAX)
            return -1;
        *slot = *id;
        g_linked_count++;
        return 1;
    }
}

static int du_visit(struct Sweep *s, const struct SweepItem *it)
{
    struct Du *du = (struct Du *)s->ctx;
    long long size;
    struct FsId id;
    int shared;
    if (it->is_dir) {
        du->dirs++;
        return 1;
    }
    if (!fs_size_at(it->in, it->name, &size, &id, &shared)) {
        s->skipped++;
        return 1;
    }
    int first = shared ? linked_first(&id) : 1;
    if (first < 0)
        s->skipped++;
    if (first <= 0)
        return 1;
    du->files++;
    du->size += size;
    return 1;
}

/* Links are never followed here: a folder's size is what it holds. */
void act_du(const char *query, const char *path)
{
    char dir[FS_PATH_MAX];
    struct Du du = {0, 0, 0};
    struct Sweep s = {};
    if (!path_directory(path, dir) || !sweep_open(dir))
        return;
    struct OutBuf b = {};
    if (!resp_body_wanted()) {
        sweep_cancel();
        json_send(&b);
        return;
    }
    if (g_linked_count) {
        memset(g_linked, 0, sizeof g_linked);
        g_linked_count = 0;
    }
    sweep_prepare(query, DU_SECONDS, &s);
    s.visit = du_visit;
    s.ctx = &du;
    sweep_run(&s);
    if (s.end == SWEEP_GONE)
        return;
    buf_puts(&b, "{\"ok\":true,\"path\":");
    json_str(&b, dir);
    buf_printf(&b, ",\"size\":%lld,\"files\":%lld,\"dirs\":%lld,\"skipped\":%lld,\"complete\":%s}\n", du.size,
               du.files, du.dirs, s.skipped, s.end == SWEEP_DONE && s.skipped == 0 ? "true" : "false");
    json_send(&b);
}
