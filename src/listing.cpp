#include "listing.h"

#include <string.h>

#include "json.h"
#include "str.h"
#include "timefmt.h"

size_t ent_keep_name(struct DirEntry *e, char *slot, const char *name)
{
    str_copy(slot, ENT_NAME_MAX, name);
    e->name = slot;
    e->len = (unsigned short)strlen(slot);
    return e->len + 1u;
}

/* The names with A-Z lowered, compared as unsigned bytes, a name that ends
 * first before one that goes on. Bytes alike as they are are alike lowered,
 * so a beginning the names share is passed over 16 bytes at a time: names
 * alike in their first 16 bytes are what the sort sends here. */
static int folded_cmp(const struct DirEntry *x, const struct DirEntry *y)
{
    size_t n = x->len < y->len ? x->len : y->len;
    size_t i = 0;
    while (i + 16 <= n && memcmp(x->name + i, y->name + i, 16) == 0)
        i += 16;
    for (; i < n; i++) {
        unsigned char a = str_lower((unsigned char)x->name[i]), b = str_lower((unsigned char)y->name[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return x->len == y->len ? 0 : x->len < y->len ? -1 : 1;
}

/* The folded names decide; strcmp then compares bytes as unsigned, as the
 * order wants. */
int ent_order(const struct DirEntry *x, const struct DirEntry *y)
{
    if (x->is_dir != y->is_dir)
        return x->is_dir ? -1 : 1;
    int by_key = folded_cmp(x, y);
    return by_key ? by_key : strcmp(x->name, y->name);
}

static void key_of(const struct DirEntry *e, unsigned int index, struct SortKey *k)
{
    k->head[0] = k->head[1] = 0;
    for (int i = 0, stop = 0; i < 16 && !stop; i++) {
        unsigned char c = str_lower((unsigned char)e->name[i]);
        k->head[i / 8] |= (unsigned long long)c << (56 - 8 * (i % 8));
        stop = c == 0;
    }
    k->file = !e->is_dir;
    k->index = index;
}

/* The numbers decide nearly every comparison; names alike in their first
 * 16 bytes go to the entries. */
static int key_order(const struct SortKey *a, const struct SortKey *b, const struct DirEntry *entries)
{
    if (a->file != b->file)
        return a->file < b->file ? -1 : 1;
    for (int i = 0; i < 2; i++)
        if (a->head[i] != b->head[i])
            return a->head[i] < b->head[i] ? -1 : 1;
    return ent_order(&entries[a->index], &entries[b->index]);
}

/* Runs of `width` in `from`, merged in pairs into `to`; the earlier run
 * wins ties, so the sort is stable. */
static void merge_runs(const struct SortKey *from, struct SortKey *to, int n, int width,
                       const struct DirEntry *entries)
{
    for (int lo = 0; lo < n; lo += 2 * width) {
        int mid = lo + width < n ? lo + width : n;
        int hi = lo + 2 * width < n ? lo + 2 * width : n;
        int i = lo, j = mid, k = lo;
        while (i < mid && j < hi)
            to[k++] = key_order(&from[j], &from[i], entries) < 0 ? from[j++] : from[i++];
        while (i < mid)
            to[k++] = from[i++];
        while (j < hi)
            to[k++] = from[j++];
    }
}

/* Bottom-up merging between the two halves of room: no recursion and no
 * allocation, where qsort would allocate its own room and call its
 * comparison through a pointer some sixty thousand times for a listing. */
const struct SortKey *ent_sort(const struct DirEntry *entries, int n, struct SortKey *room)
{
    struct SortKey *from = room, *to = room + n;
    for (int i = 0; i < n; i++)
        key_of(&entries[i], (unsigned int)i, &from[i]);
    for (int width = 1; width < n; width *= 2) {
        merge_runs(from, to, n, width, entries);
        struct SortKey *t = from;
        from = to;
        to = t;
    }
    return from;
}

int ent_left_out(const char *name, int hidden)
{
    int dots = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
    return dots || (!hidden && name[0] == '.');
}

/* Four octal digits, as "%04o" of the permission bits gives them. */
static void put_mode(struct OutBuf *b, int mode)
{
    char text[4];
    for (int i = 3; i >= 0; i--, mode >>= 3)
        text[i] = (char)('0' + (mode & 7));
    buf_putn(b, text, sizeof text);
}

/* Built from pieces rather than a format string: this runs for each of up
 * to 5000 entries. */
void ent_put(struct OutBuf *b, const struct DirEntry *e)
{
    char when[TIME_TEXT_MAX];
    time_text(e->mtime, when);
    buf_puts(b, "\"name\":");
    json_str(b, e->name);
    buf_puts(b, e->is_dir ? ",\"type\":\"dir\",\"link\":" : ",\"type\":\"file\",\"link\":");
    buf_puts(b, e->is_link ? "true,\"size\":" : "false,\"size\":");
    buf_put_int(b, e->size);
    buf_puts(b, ",\"mtime\":\"");
    buf_puts(b, when);
    buf_puts(b, "\",\"mode\":\"");
    put_mode(b, e->mode & 07777);
    buf_puts(b, "\"");
}
