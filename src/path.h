/* Path policy: the allowlist of roots and the rules that keep every answer
 * beneath one of them. Canonicalisation itself is the platform's
 * (canon_path in fs.h). */
#ifndef PLUGIN_FILES_PATH_H
#define PLUGIN_FILES_PATH_H

#include <stddef.h>

#include "fs.h"

enum { MAX_ROOTS = 8, ROOT_NAME_MAX = 512 };

/* Filled once per request by path_setup_roots, read-only afterwards. Each
 * used slot holds a canonical path; the first is the default directory. */
extern char g_roots[MAX_ROOTS][FS_PATH_MAX];
extern int g_root_count;

/* Adds a root: an absolute path, canonicalised, once; anything else is
 * left out silently. */
void add_root(const char *path);
/* The platform's default and profile roots, then FILES_ALLOWED_ROOT split at
 * ";", at most MAX_ROOTS in all. */
void path_setup_roots(void);

/* 1 when `path` is `root` or lies beneath it, by the platform's rule for
 * case and separators. A root that ends in a separator ("/", "C:\") admits
 * everything beneath it. */
int path_under(const char *path, const char *root);
/* 1 when each lies under the other: the same place in any spelling the
 * platform counts as equal. */
int path_same(const char *a, const char *b);
/* The first root that holds `path`, or NULL. */
const char *path_root_of(const char *path);

/* 1 with the canonical path in out (FS_PATH_MAX bytes) when it lies under a
 * root; 0 with *status 400, 403 or 404. */
int resolve_allowed(const char *requested, char *out, int *status);
/* The error answer for a failed resolution. */
void path_err(int status);

/* Resolves a requested path to something allowed that exists: 1 with its
 * canonical path and facts, or 0 after answering the error. */
int path_existing(const char *requested, char *canon, struct FsStat *st);
/* The same for a directory: 0 after answering 400 "not a directory" too. */
int path_directory(const char *requested, char *canon);
/* Resolves a requested path to an allowed regular file: 1 with its
 * canonical path and facts, or 0 after answering the error. */
int path_regular_file(const char *requested, char *canon, struct FsStat *st);
/* 1 after answering 413 "file larger than ..." when a file of `size` bytes
 * is over `limit`; a limit of 0 or less is none. */
int path_too_large(long long size, long long limit);
/* Opens that file: 1, or 0 after answering 400 "not a regular file" (it was
 * swapped for something else meanwhile) or 403 with open_msg. */
int path_open_file(const char *canon, struct FsFile *f, const char *open_msg);

/* The last name of a path: the text after its last separator, or the whole
 * path when nothing follows one. */
const char *path_name(const char *path);
/* The parent for the listing's "up" step: 1 with it in out, 0 when the
 * directory has none (no root holds it, or it is its root). */
int path_parent(const char *dir, const char *root, char *out);

#endif
