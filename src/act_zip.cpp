#include "actions.h"

#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "json.h"
#include "kinds.h"
#include "path.h"
#include "query.h"
#include "response.h"
#include "str.h"
#include "walk.h"
#include "zip.h"

enum { FILE_NAME_MAX = 512 };
static const long long DEFAULT_MAX_ENTRIES = 100000;
static const long long DEFAULT_MAX_BYTES = 4294967296LL;
/* Above these a limit is taken as a mistake and the default applies: an
 * entry's index is an int, and sizes stay far from overflow. */
static const long long ENTRIES_CEILING = 100000000LL;
static const long long BYTES_CEILING = 1000000000000000LL;

/* What the first walk finds, against what may be archived. */
struct Tally {
    long long entries;
    long long bytes;
    long long name_bytes;
    long long max_entries;
    long long max_bytes;
};

/* The parents of the entry being added, by depth, and what may still be
 * read: files that grew since the first walk do not push the archive past
 * the limit it was measured against. */
struct Writing {
    int parents[WALK_DEPTH_MAX + 1];
    long long bytes_left;
};

static int tally(const struct WalkItem *it, void *ctx)
{
    struct Tally *t = (struct Tally *)ctx;
    t->entries++;
    t->name_bytes += (long long)strlen(it->name);
    if (!it->st.is_dir)
        t->bytes += it->st.size;
    return t->entries <= t->max_entries && t->bytes <= t->max_bytes;
}

static int add_file(const struct WalkItem *it, int parent, struct Writing *w)
{
    struct FsFile f;
    if (!walk_open(it->in, it->name, it->canon, &f))
        return ZIP_FULL;
    long long limit = it->st.size < w->bytes_left ? it->st.size : w->bytes_left;
    int added = zip_add_file(it->path, parent, it->st.mtime, &f, limit);
    fs_close(&f);
    w->bytes_left -= limit;
    return added;
}

/* An entry whose parent did not make it into the archive is left out too,
 * so that no name ever points at a missing directory. */
static int add_entry(const struct WalkItem *it, void *ctx)
{
    struct Writing *w = (struct Writing *)ctx;
    int parent = it->depth > 0 ? w->parents[it->depth - 1] : -1;
    if (it->depth > 0 && parent < 0)
        return 1;
    int added = it->st.is_dir ? zip_add_dir(it->path, parent, it->st.mtime) : add_file(it, parent, w);
    if (it->st.is_dir)
        w->parents[it->depth] = added;
    return added != ZIP_FAILED;
}

/* The archive is named after the directory; a root such as "/" or "C:\"
 * has no name of its own. 1 when the archive is to follow. */
static int send_zip_headers(const char *dir)
{
    char shown[FILE_NAME_MAX];
    const char *name = fs_root_len(dir) == strlen(dir) ? "files" : path_name(dir);
    disposition_name(name, shown, sizeof shown);
    struct OutBuf h = {};
    resp_head(&h, 200, RESP_ARCHIVE, NULL);
    resp_line(&h, "Content-Disposition: attachment; filename=\"%s.zip\"", shown);
    return resp_send_head(&h);
}

/* Memory for the central directory is taken only now, once the header
 * block is out; should it be refused, the body stays empty, which no reader
 * takes for an archive. */
static void send_archive(const char *dir, int hidden, const struct Tally *t)
{
    struct Writing w;
    w.bytes_left = t->max_bytes;
    if (!zip_begin(t->entries, t->name_bytes))
        return;
    walk_tree(dir, hidden, add_entry, &w);
    zip_end();
}

/* Everything is measured by a first walk, before the first byte goes out:
 * once the archive has started, no error answer can follow. */
void act_zip(const char *query, const char *path)
{
    char dir[FS_PATH_MAX];
    if (!path_directory(path, dir))
        return;
    int hidden = query_flag(query, "hidden");
    struct Tally t = {0, 0, 0, config_limit("FILES_ZIP_MAX_ENTRIES", DEFAULT_MAX_ENTRIES, ENTRIES_CEILING),
                      config_limit("FILES_ZIP_MAX_BYTES", DEFAULT_MAX_BYTES, BYTES_CEILING)};
    enum WalkEnd end = walk_tree(dir, hidden, tally, &t);
    if (end == WALK_UNREADABLE) {
        json_err(403, "cannot list directory");
        return;
    }
    if (end != WALK_DONE) {
        json_err(413, "folder too large to archive");
        return;
    }
    if (send_zip_headers(dir))
        send_archive(dir, hidden, &t);
}
