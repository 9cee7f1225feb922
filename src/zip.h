/* A ZIP archive written to standard output as it is made: each entry's
 * local header, its data and then a data descriptor with the CRC-32 and
 * sizes (the output cannot seek back), and at the end the central directory,
 * with ZIP64 records wherever a size, an offset or the count needs them.
 *
 * Entry names are paths relative to the archived directory with "/"
 * between names, made safe for extractors (no backslash, no drive). The writer
 * keeps, per entry, a record of 56 bytes and only the entry's last name;
 * the whole name is rebuilt from its parents for the central directory, so
 * its memory is bounded by the count of entries and the length of their
 * names, not by the depth of the tree or the size of the files. */
#ifndef PLUGIN_FILES_ZIP_H
#define PLUGIN_FILES_ZIP_H

#include "fs.h"

/* What zip_add_dir and zip_add_file give instead of an entry's index. */
enum {
    ZIP_FULL = -1,   /* no room left: the entry is not in the archive */
    ZIP_FAILED = -2  /* the output failed (the client left): stop */
};

/* Room for `entries` entries whose last names take `name_bytes` bytes in
 * all; 1, or 0 when that memory cannot be had. */
int zip_begin(long long entries, long long name_bytes);

/* A directory entry for `path` (no trailing "/"); parent is the index of the
 * directory entry it lies in, or -1 at the top. The index, or ZIP_FULL or
 * ZIP_FAILED. */
int zip_add_dir(const char *path, int parent, long long mtime);

/* A file entry holding what is read from f, at most `limit` bytes: deflated
 * when its first bytes look compressible, else stored. The index, or
 * ZIP_FULL or ZIP_FAILED. */
int zip_add_file(const char *path, int parent, long long mtime, struct FsFile *f, long long limit);

/* The central directory and the end records, then the writer's memory is
 * released. 1 when every byte of the archive went out. */
int zip_end(void);

#endif
