/* The entries of a listing and their order: directories first, then names
 * by their ASCII-lower-cased bytes. Shared by the listing and the walks
 * below a folder, which leave out the same names. */
#ifndef PLUGIN_FILES_LISTING_H
#define PLUGIN_FILES_LISTING_H

#include <stddef.h>
#include <string.h>

#include "str.h"

#include "buf.h"

/* Longest entry name the platforms give, NUL included: 255 bytes on POSIX,
 * 259 in a Win32 find record. */
enum { ENT_NAME_MAX = 260 };

/* The most room one kept name takes. */
enum { ENT_SLOT_MAX = ENT_NAME_MAX };

/* One listed entry; its name lives in the listing's name pool. mode is 0
 * when its attributes could not be read; `answered` marks an entry of the
 * part that an answer carries. 40 bytes: a huge folder keeps many. */
struct DirEntry {
    const char *name;
    long long size;
    long long mtime;
    int mode;
    unsigned short len;    /* of the name, without its NUL */
    unsigned char is_dir;
    unsigned char is_link;
    unsigned char answered;
};

/* Directories first, then names by ASCII-lower-cased bytes; names equal in
 * that way fall back to their raw bytes, so the order is always the same. */
int ent_order(const struct DirEntry *x, const struct DirEntry *y);

/* What the sort moves about, small so that a listing's keys fill a few
 * cache lines rather than sending each comparison after two entries: the
 * entry's place in its table, whether it is a file, and the first 16 bytes
 * of its folded name as two big-endian numbers, NUL-padded, which order as
 * the bytes do. */
struct SortKey {
    unsigned long long head[2];
    unsigned int file;
    unsigned int index;
};

/* Sorts the n entries by ent_order, with room for 2 * n keys; the keys in
 * order, each naming its entry by index, are at the pointer returned. */
const struct SortKey *ent_sort(const struct DirEntry *entries, int n, struct SortKey *room);
/* Puts the name, cut to ENT_NAME_MAX, into slot, which has room for
 * ENT_SLOT_MAX bytes, and points e at it; the bytes used. Its key is the
 * name itself, folded as it is compared: a listing of a huge folder keeps
 * one copy of each name, not two. */
size_t ent_keep_name(struct DirEntry *e, char *slot, const char *name);

/* The entry's fields as a listing writes them, from "name" to "mode",
 * without the braces around them: the folder search writes the same. */
void ent_put(struct OutBuf *b, const struct DirEntry *e);

/* 1 for "." and "..", and for any other name that begins with a dot unless
 * hidden names are asked for. */
int ent_left_out(const char *name, int hidden);

#endif
