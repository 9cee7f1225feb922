/* The walk of the searches (find, grep, du) and their streamed answer.
 *
 * It keeps the rules of the archive's walk (walk.h): names that begin with
 * a dot only when asked for; every name looked up in the open directory
 * that holds it, or below the walked directory in one step that no link
 * may interrupt; a link followed only when its target lies under a root and
 * is a directory or a regular file; no directory entered while it is open
 * on the way down; every other kind left out. Unlike the archive it never
 * gives up: a directory that cannot be read, a name too long to name or a
 * tree deeper than WALK_DEPTH_MAX is passed over and counted.
 *
 * The order is breadth first, level by level, so that what lies nearest
 * comes first and a search cut by a limit has found the nearest matches:
 * a directory's own entries are all visited before anything below it. The
 * directories waiting for their turn are kept in a fixed room; should a
 * tree fill it, the walk goes on depth first below each directory it then
 * meets, so that memory stays bounded and nothing is lost. */
#ifndef PLUGIN_FILES_SWEEP_H
#define PLUGIN_FILES_SWEEP_H

#include "buf.h"
#include "fs.h"

enum SweepEnd {
    SWEEP_DONE,   /* every entry was visited */
    SWEEP_LIMIT,  /* a visitor reached a limit of the request */
    SWEEP_TIME,   /* the request's time ran out */
    SWEEP_GONE    /* the client went away: nothing more is to be written */
};

/* One directory or regular file, valid during its visit. */
struct SweepItem {
    const char *path;          /* the walked directory, FS_SEP, the names below */
    const char *name;          /* its last name */
    int depth;                 /* 0 for what the walked directory holds itself */
    int is_dir;                /* else a regular file */
    struct FsDir *in;          /* the open directory that holds it */
    const char *canon;         /* a link's target, canonical; NULL for a plain entry */
    const struct FsStat *st;   /* the facts of a link's target; NULL for a plain entry */
};

struct Sweep;
/* Called for each entry, before what a directory holds is walked; 0 ends
 * the walk (the visitor sets s->end first). */
typedef int (*sweep_fn)(struct Sweep *s, const struct SweepItem *item);

struct Sweep {
    /* Set by the caller. */
    int hidden;
    int links;                 /* follow links by the rule above; 0: leave them out */
    int progress;              /* write progress lines into the stream */
    long long seconds;         /* the walk ends when it has run this long */
    sweep_fn visit;
    void *ctx;
    /* Counted as it goes: visited by the walk, the others by both. */
    long long visited, matched, skipped;
    enum SweepEnd end;
    /* The walk's own clock. */
    long long started, next_check, next_progress;
};

/* How long find and grep may run unless FILES_SEARCH_SECONDS says. */
enum { SWEEP_SECONDS = 10 };
/* The most matches a search sends: FILES_FIND_MAX_RESULTS, default 1000. */
long long sweep_results_limit(void);

/* The text a search looks for: at most SWEEP_QUERY_MAX bytes, read into a
 * buffer of SWEEP_QUERY_ROOM. */
enum { SWEEP_QUERY_MAX = 1000, SWEEP_QUERY_ROOM = 4096 };
/* The parameter `q`: 1, or 0 after answering 400 "missing query" (absent or
 * empty) or "query too long". */
int sweep_query(const char *query, char *q);

/* What the request sets for a search: `hidden` from the query, the time
 * from FILES_SEARCH_SECONDS or else default_seconds, whose clock starts
 * now, and nothing counted yet. */
void sweep_prepare(const char *query, long long default_seconds, struct Sweep *s);
/* Opens `dir`, a canonical path, for the walk, before any answer is
 * written: 1, or 0 after answering 403 "cannot list directory". */
int sweep_open(const char *dir);
/* Walks what sweep_open opened, then closes it. */
void sweep_run(struct Sweep *s);
/* Closes it without a walk (a HEAD, a failed header block). */
void sweep_cancel(void);
/* The clock and the client, and a progress line when one is due: 1 while
 * the walk may go on, else 0 with s->end set. The walk calls it between
 * entries; a visitor that takes long over one entry calls it too. */
int sweep_tick(struct Sweep *s);

/* The header block of a streamed answer (JSON lines), sent at once: 1
 * when the body is to follow. */
int sweep_stream_start(void);
/* The lines in b out now, b emptied: 0 once the client has gone. */
int sweep_send(struct OutBuf *b);
/* The last line: what the walk visited, matched and skipped, and whether a
 * limit cut it and which; nothing when the client has gone. */
void sweep_stream_end(const struct Sweep *s);

#endif
