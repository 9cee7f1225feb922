/* A depth-first walk of a directory tree under the rules of every request:
 * names are looked up relative to the open directory that holds them; a
 * link is followed only when its target passes the same check as a
 * requested path and is a directory or a regular file; a directory already
 * open on the way down (through a link or a mount) is not entered again;
 * every other kind of entry, and anything that cannot be read, is passed
 * over. */
#ifndef PLUGIN_FILES_WALK_H
#define PLUGIN_FILES_WALK_H

#include "fs.h"

/* Directories open at once: the walk holds one per level. */
enum { WALK_DEPTH_MAX = 256 };

enum WalkEnd {
    WALK_DONE,       /* every entry was visited */
    WALK_STOPPED,    /* the visitor asked to stop */
    WALK_TOO_LARGE,  /* a directory lies deeper than WALK_DEPTH_MAX, or a
                        relative name is longer than FS_PATH_MAX - 1 bytes */
    WALK_UNREADABLE  /* the walked directory itself cannot be read */
};

/* One directory or regular file, valid during the visit. */
struct WalkItem {
    const char *path;   /* relative to the walked directory, "/" between names */
    const char *name;   /* its last name */
    int depth;          /* 0 for what the walked directory holds itself */
    struct FsStat st;   /* links followed */
    struct FsDir *in;   /* the directory that holds it */
    const char *canon;  /* the target's canonical path for a link, else NULL */
};

/* Called for each directory (before what it holds) and each regular file;
 * 0 stops the walk. */
typedef int (*walk_fn)(const struct WalkItem *item, void *ctx);

/* Asked of each entry that the walked directory holds itself, before it is
 * looked up: 1 to walk it; ctx is the visitor's. */
typedef int (*walk_keep_fn)(const char *name, void *ctx);

/* Walks `dir`, a canonical path; names that begin with a dot only with
 * `hidden`; of the directory's own entries only those `keep` takes, unless
 * it is NULL. */
enum WalkEnd walk_tree(const char *dir, int hidden, walk_keep_fn keep, walk_fn visit, void *ctx);

/* The rule for a link met on a walk, kept once for every walk: the link
 * (its full path) counts when its target lies under a root; 1 then, with
 * the target's canonical path in canon (FS_PATH_MAX bytes) and its facts. */
int walk_link_target(const char *link, char *canon, struct FsStat *st);

/* Opens the regular file `name` of the open directory `in`, or for a link
 * its target by the canonical path, as fs_open does. */
int walk_open(struct FsDir *in, const char *name, const char *canon, struct FsFile *f);

#endif
