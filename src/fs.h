/* The platform layer: every file-system call and every rule that differs
 * between Windows and POSIX lives behind this header. Nothing outside
 * fs_posix.cpp and fs_win32.cpp tests the platform itself.
 *
 * Paths are NUL-terminated byte strings of at most FS_PATH_MAX - 1 bytes,
 * held in FS_PATH_MAX-byte buffers. */
#ifndef PLUGIN_FILES_FS_H
#define PLUGIN_FILES_FS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum { FS_PATH_MAX = 4096 };

/* The separator written in joins. */
extern const char FS_SEP;

/* Facts about a file, links followed. */
struct FsStat {
    int is_dir;
    int is_reg;        /* a regular file: the only kind that is read or streamed */
    long long size;    /* 0 for a directory */
    long long mtime;   /* whole seconds since 1970-01-01T00:00:00Z; may be <= 0 */
};

/* One entry as the enumeration reports it. */
struct FsEntry {
    const char *name;  /* valid until the next fs_dir_next or fs_dir_close */
    int is_dir;        /* a directory; what a link leads to only fs_stat_at tells */
    int is_link;
    int is_reg;        /* a regular file itself, not a link to one */
};

/* An open enumeration; its fields belong to the platform file. */
struct FsDir {
    void *handle;
    void *data;
    int pending;       /* an entry was read ahead when the enumeration opened */
};

/* An open file for reading. */
struct FsFile {
    intptr_t handle;
    long long size;    /* when it was opened */
};

/* Process set-up: binary standard output, no death by a closed pipe. */
void fs_init(void);

/* A block of at least n zero bytes for the rest of the process, backed by
 * large pages where the system offers them, so that filling it costs one
 * page fault instead of one per 4 KiB (on a virtual machine a fresh page
 * can cost more than the bytes written to it). NULL when the platform has
 * none to give; the caller then uses memory of its own. */
void *fs_large_block(size_t n);

/* Platform rules for path text. */
int fs_is_sep(char c);
/* The byte as containment compares it (case and separator folding). */
char fs_fold(char c);
/* Length of the root prefix that a path never loses: "/" on POSIX, "C:\" on
 * Windows; 0 when the path has none. */
size_t fs_root_len(const char *path);

/* dir, a separator when needed, and name, into out (FS_PATH_MAX bytes). 1
 * when it fits; 0 when name was left off because the whole would be too
 * long (out then holds the directory and its separator). The same on every
 * platform but for the separator, so it is written once, here. */
static inline int fs_join(char *out, const char *dir, const char *name)
{
    size_t n = strnlen(dir, FS_PATH_MAX - 1);
    memcpy(out, dir, n);
    if (n > 0 && !fs_is_sep(out[n - 1]) && n + 1 < FS_PATH_MAX)
        out[n++] = FS_SEP;
    out[n] = '\0';
    size_t name_len = strlen(name);
    if (n + name_len >= FS_PATH_MAX)
        return 0;
    memcpy(out + n, name, name_len + 1);
    return 1;
}

/* Roots that the platform offers before the configured ones. */
const char *fs_default_root(void);
const char *fs_profile_dir(void);

/* The canonical form of `in`: absolute, dot-free, links resolved, in the file
 * system's own spelling. 1 on success; 0 with *status 400 (empty or too long)
 * or 404 (nothing there). */
int canon_path(const char *in, char *out, int *status);

/* Facts of `path`, links followed; 1 on success. */
int fs_stat(const char *path, struct FsStat *st);

/* Directory enumeration in the file system's order; "." and ".." included. */
int fs_dir_open(struct FsDir *d, const char *dir);
int fs_dir_next(struct FsDir *d, struct FsEntry *e);
void fs_dir_close(struct FsDir *d);

/* Lookups relative to an open directory: the name is looked up once in the
 * directory the enumeration reads, not again from the root through the
 * whole path, and a component swapped for a link on the way cannot lead
 * elsewhere. `name` is one entry name of that directory. */
/* Facts of the entry, links followed; 1 on success. */
int fs_stat_at(struct FsDir *d, const char *name, struct FsStat *st);
/* Opens the subdirectory `name` for enumeration; a link is refused. */
int fs_dir_open_at(struct FsDir *d, struct FsDir *parent, const char *name);
/* Opens the regular file `name`, as fs_open does; a link is refused. */
int fs_open_at(struct FsDir *parent, const char *name, struct FsFile *f, int *status);
/* What makes an open directory the same directory under any name (device
 * and inode, volume and file index); 1 on success. */
struct FsId {
    unsigned long long volume;
    unsigned long long file;
};
int fs_dir_id(struct FsDir *d, struct FsId *id);
/* The same for what a canonical path names; 1 on success. */
int fs_id_of(const char *path, struct FsId *id);

/* Opens for enumeration the directory `rel` (names joined by FS_SEP, none
 * of them "." or "..") below the open directory `top`, looked up from it
 * in one step: no name on the way may be a link, and the lookup cannot
 * leave `top`. */
int fs_dir_open_below(struct FsDir *d, struct FsDir *top, const char *rel);

/* What the folder sizes need of the regular file `name` itself (a link is
 * not followed and gives 0): its size and, when it has more than one name
 * (*shared set), what makes it the same file under each; 1 on success. */
int fs_size_at(struct FsDir *d, const char *name, long long *size, struct FsId *id, int *shared);

/* Opens a regular file for reading: 1 on success; 0 with *status 400 when it
 * turned out not to be a regular file, 403 when it cannot be opened. */
int fs_open(const char *path, struct FsFile *f, int *status);
/* Reads until n bytes are in buf or the file ends: the count (0 at the
 * end), or -1 on a read error. */
long long fs_read(struct FsFile *f, char *buf, size_t n);
void fs_close(struct FsFile *f);

/* Delivery from an open file: what its validators are made of, and reading
 * from a place inside it without reading what lies before. */
struct FsVersion {
    long long size;
    long long mtime;   /* whole seconds since 1970, as in FsStat */
    long nsec;         /* and the part of a second the system keeps */
};
/* The open file's size and last-write time: 1, or 0 when they cannot be had. */
int fs_version(struct FsFile *f, struct FsVersion *v);
/* Moves the read position to `offset` bytes from the start: 1 on success. */
int fs_seek(struct FsFile *f, long long offset);

/* The node's share of heavy work: one of `count` slots called `name` (a
 * short name of letters, digits and "-"), held until the process ends,
 * however it ends; the system gives it back then, and nothing is written to
 * the file system for it. 1 once a slot is held; 0 when none came free
 * within wait_ms milliseconds. */
int fs_slot_take(const char *name, int count, int wait_ms);
/* Milliseconds on a clock that only moves forward, from an arbitrary
 * start. */
long long fs_clock_ms(void);
/* 1 once the reader of standard output is known to have gone (the web
 * server closed the pipe), without writing to it; 0 while it is there or
 * when the platform cannot tell, where the next write tells instead. */
int fs_out_closed(void);
/* The processors the system runs this process on; at least 1. */
int fs_processors(void);
/* The running program's own path into out (FS_PATH_MAX bytes): 1, or 0 with
 * "" when the system does not say. */
int fs_program_path(char *out);

#endif
