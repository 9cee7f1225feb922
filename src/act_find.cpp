#include "actions.h"

#include "json.h"
#include "listing.h"
#include "match.h"
#include "path.h"
#include "sweep.h"

struct Find {
    struct NamePattern pattern;
    long long max_results;
    struct OutBuf line;
};

/* The line of a match: its path, then the fields of a listing entry, from
 * the same facts (those of a link's target), looked up only now that the
 * name has matched. */
static void put_found(struct OutBuf *b, const struct SweepItem *it)
{
    struct FsStat st;
    struct DirEntry e = {};
    e.name = it->name;
    e.is_dir = (unsigned char)it->is_dir;
    e.is_link = it->canon != NULL;
    int known = 1;
    if (it->st)
        st = *it->st;
    else
        known = fs_stat_at(it->in, it->name, &st);
    if (known) {
        e.size = st.size;
        e.mtime = st.mtime;
        e.mode = st.is_dir ? 0755 : 0644;
    }
    buf_puts(b, "{\"path\":");
    json_str(b, it->path);
    buf_puts(b, ",");
    ent_put(b, &e);
    buf_puts(b, "}\n");
}

static int find_visit(struct Sweep *s, const struct SweepItem *it)
{
    struct Find *f = (struct Find *)s->ctx;
    if (!pattern_matches(&f->pattern, it->name))
        return 1;
    if (s->matched == f->max_results) {
        s->end = SWEEP_LIMIT;
        return 0;
    }
    s->matched++;
    put_found(&f->line, it);
    if (sweep_send(&f->line))
        return 1;
    s->end = SWEEP_GONE;
    return 0;
}

void act_find(const char *query, const char *path)
{
    char q[SWEEP_QUERY_ROOM];
    char dir[FS_PATH_MAX];
    struct Find f = {};
    struct Sweep s = {};
    if (!sweep_query(query, q) || !path_directory(path, dir) || !sweep_open(dir))
        return;
    sweep_prepare(query, SWEEP_SECONDS, &s);
    pattern_make(&f.pattern, q);
    f.max_results = sweep_results_limit();
    s.links = 1;
    s.progress = 1;
    s.visit = find_visit;
    s.ctx = &f;
    if (!sweep_stream_start()) {
        sweep_cancel();
        return;
    }
    sweep_run(&s);
    sweep_stream_end(&s);
    buf_free(&f.line);
}
