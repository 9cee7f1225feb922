/* The platform layer on Windows: the narrow Win32 file API. Drive letters and
 * backslashes; letter case does not matter. The manifest sets the process
 * code page to UTF-8, so these functions take and give the same UTF-8 names
 * that travel on the wire. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fs.h"
#include "str.h"

const char FS_SEP = '\\';

/* Ticks of 100 ns between 1601-01-01 and 1970-01-01, in seconds. */
static const long long EPOCH_GAP = 11644473600LL;

void fs_init(void)
{
    /* Raw file bytes and CGI headers leave exactly as written: no LF to
     * CR LF translation, no end at a 0x1A byte. */
    _setmode(_fileno(stdout), _O_BINARY);
}

int fs_is_sep(char c)
{
    return c == '\\' || c == '/';
}

char fs_fold(char c)
{
    if (c == '/')
        return '\\';
    return (char)str_lower((unsigned char)c);
}

/* The end of a name that starts at p[i]: the index of the next separator or
 * of the NUL. */
static size_t name_end(const char *p, size_t i)
{
    while (p[i] && !fs_is_sep(p[i]))
        i++;
    return i;
}

/* "\\server\share\" with its separator, or "\\server\share" when nothing
 * follows the share; 0 when the path does not start that way. */
static size_t share_root_len(const char *p)
{
    if (!fs_is_sep(p[0]) || !fs_is_sep(p[1]))
        return 0;
    size_t server_end = name_end(p, 2);
    if (server_end == 2 || !p[server_end])
        return 0;
    size_t share_end = name_end(p, server_end + 1);
    if (share_end == server_end + 1)
        return 0;
    return p[share_end] ? share_end + 1 : share_end;
}

size_t fs_root_len(const char *path)
{
    char c = fs_fold(path[0]);
    if (c >= 'a' && c <= 'z' && path[1] == ':' && fs_is_sep(path[2]))
        return 3;
    return share_root_len(path);
}

const char *fs_default_root(void)
{
    return "D:\\codebases";
}

const char *fs_profile_dir(void)
{
    return getenv("USERPROFILE");
}

/* The canonical form from what the file system reported: the final path
 * when one of 1 to FS_PATH_MAX - 1 bytes came back, without its "\\?\"
 * prefix, a share's "\\?\UNC\server\..." given back as "\\server\..." (bare
 * "UNC\..." would read as relative); else the full path. Kept apart from the
 * system calls so that cases Wine never produces can be tested. */
void fs_canon_from_final(const char *full, const char *final_path, unsigned long final_len, char *out)
{
    if (final_len == 0 || final_len >= FS_PATH_MAX) {
        str_copy(out, FS_PATH_MAX, full);
    } else if (strncmp(final_path, "\\\\?\\UNC\\", 8) == 0) {
        out[0] = '\\';
        str_copy(out + 1, FS_PATH_MAX - 1, final_path + 7);
    } else {
        str_copy(out, FS_PATH_MAX, final_path + (strncmp(final_path, "\\\\?\\", 4) == 0 ? 4 : 0));
    }
}

/* The final path of what exists at `full`, links resolved; 0 when it cannot
 * be opened or asked. Opening with no access rights and every sharing mode
 * locks nobody out; the backup flag lets directories open too. */
static DWORD final_path_of(const char *full, char *final_path)
{
    HANDLE h = CreateFileA(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DWORD n = GetFinalPathNameByHandleA(h, final_path, FS_PATH_MAX, 0);
    CloseHandle(h);
    return n;
}

int canon_path(const char *in, char *out, int *status)
{
    char full[FS_PATH_MAX];
    char final_path[FS_PATH_MAX];
    DWORD n = GetFullPathNameA(in, FS_PATH_MAX, full, NULL);
    if (n == 0 || n >= FS_PATH_MAX) {
        *status = 400;
        return 0;
    }
    if (GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) {
        *status = 404;
        return 0;
    }
    fs_canon_from_final(full, final_path, final_path_of(full, final_path), out);
    return 1;
}

static long long join64(DWORD high, DWORD low)
{
    return (long long)(((unsigned long long)high << 32) | low);
}

/* Large pages need a privilege that a web server's CGI does not hold. */
void *fs_large_block(size_t)
{
    return NULL;
}

/* Ticks of 100 ns since 1601 of a file time. */
static unsigned long long file_ticks(const FILETIME *t)
{
    return (unsigned long long)join64(t->dwHighDateTime, t->dwLowDateTime);
}

int fs_stat(const char *path, struct FsStat *st)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a))
        return 0;
    unsigned long long ticks = file_ticks(&a.ftLastWriteTime);
    st->is_dir = (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    st->is_reg = !st->is_dir;
    st->size = st->is_dir ? 0 : join64(a.nFileSizeHigh, a.nFileSizeLow);
    st->mtime = (long long)(ticks / 10000000ULL) - EPOCH_GAP;
    return 1;
}

/* What an enumeration holds beside its handle: the current record and the
 * directory's path, against which its entries are looked up. */
struct DirData {
    WIN32_FIND_DATAA find;
    char path[FS_PATH_MAX];
};

/* The first entry arrives with the handle; it is kept for the first
 * fs_dir_next. */
int fs_dir_open(struct FsDir *d, const char *dir)
{
    char pattern[FS_PATH_MAX];
    struct DirData *data = (struct DirData *)malloc(sizeof(struct DirData));
    d->handle = NULL;
    d->data = data;
    d->pending = 0;
    if (!data || !fs_join(pattern, dir, "*")) {
        fs_dir_close(d);
        return 0;
    }
    str_copy(data->path, sizeof data->path, dir);
    HANDLE h = FindFirstFileA(pattern, &data->find);
    if (h == INVALID_HANDLE_VALUE) {
        fs_dir_close(d);
        return 0;
    }
    d->handle = h;
    d->pending = 1;
    return 1;
}

/* Any failure of FindNextFileA counts as the end of the enumeration. A
 * junction or a linked directory carries the directory attribute of its
 * own, so it counts as the directory it stands for. */
int fs_dir_next(struct FsDir *d, struct FsEntry *e)
{
    WIN32_FIND_DATAA *fd = &((struct DirData *)d->data)->find;
    if (!d->pending && !FindNextFileA((HANDLE)d->handle, fd))
        return 0;
    d->pending = 0;
    e->name = fd->cFileName;
    e->is_dir = (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e->is_link = (fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    e->is_reg = !e->is_dir && !e->is_link;
    return 1;
}

void fs_dir_close(struct FsDir *d)
{
    if (d->handle)
        FindClose((HANDLE)d->handle);
    free(d->data);
    d->handle = NULL;
    d->data = NULL;
}

/* A name that opens a device (CON, a pipe) instead of a disk file is
 * refused, so a read can never wait on a console or a pipe. */
int fs_open(const char *path, struct FsFile *f, int *status)
{
    FILE *fp = fopen(path, "rb");
    if (!fp) {
        *status = 403;
        return 0;
    }
    if (GetFileType((HANDLE)_get_osfhandle(_fileno(fp))) != FILE_TYPE_DISK) {
        fclose(fp);
        *status = 400;
        return 0;
    }
    f->handle = (intptr_t)fp;
    f->size = _filelengthi64(_fileno(fp));
    return 1;
}

long long fs_read(struct FsFile *f, char *buf, size_t n)
{
    FILE *fp = (FILE *)f->handle;
    size_t got = fread(buf, 1, n, fp);
    return ferror(fp) ? -1 : (long long)got;
}

void fs_close(struct FsFile *f)
{
    fclose((FILE *)f->handle);
}

int fs_version(struct FsFile *f, struct FsVersion *v)
{
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE h = (HANDLE)_get_osfhandle(_fileno((FILE *)f->handle));
    if (!GetFileInformationByHandle(h, &info))
        return 0;
    unsigned long long ticks = file_ticks(&info.ftLastWriteTime);
    v->size = join64(info.nFileSizeHigh, info.nFileSizeLow);
    v->mtime = (long long)(ticks / 10000000ULL) - EPOCH_GAP;
    v->nsec = (long)(ticks % 10000000ULL) * 100;
    return 1;
}

/* Through the C library's stream, which also drops what it had read ahead. */
int fs_seek(struct FsFile *f, long long offset)
{
    return _fseeki64((FILE *)f->handle, offset, SEEK_SET) == 0;
}

/* Windows has no lookup relative to a handle in its narrow API: the entry is
 * named by the directory's path and its own name. */
static int entry_path(struct FsDir *d, const char *name, char *out)
{
    return fs_join(out, ((struct DirData *)d->data)->path, name);
}

int fs_stat_at(struct FsDir *d, const char *name, struct FsStat *st)
{
    char full[FS_PATH_MAX];
    return entry_path(d, name, full) && fs_stat(full, st);
}

static int is_reparse_point(const char *full)
{
    DWORD attrs = GetFileAttributesA(full);
    return attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int fs_dir_open_at(struct FsDir *d, struct FsDir *parent, const char *name)
{
    char full[FS_PATH_MAX];
    d->handle = NULL;
    d->data = NULL;
    if (!entry_path(parent, name, full) || is_reparse_point(full))
        return 0;
    return fs_dir_open(d, full);
}

int fs_open_at(struct FsDir *parent, const char *name, struct FsFile *f, int *status)
{
    char full[FS_PATH_MAX];
    *status = 403;
    if (!entry_path(parent, name, full) || is_reparse_point(full))
        return 0;
    return fs_open(full, f, status);
}

/* The backup flag opens a directory; no access rights and every sharing
 * mode lock nobody out. */
int fs_id_of(const char *path, struct FsId *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok)
        return 0;
    id->volume = info.dwVolumeSerialNumber;
    id->file = ((unsigned long long)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    return 1;
}

int fs_dir_id(struct FsDir *d, struct FsId *id)
{
    return fs_id_of(((struct DirData *)d->data)->path, id);
}

/* By the joined path, as every lookup here: the last name is refused when
 * it is a reparse point, as for one name; the names before it were entered
 * as directories of their own. */
int fs_dir_open_below(struct FsDir *d, struct FsDir *top, const char *rel)
{
    return fs_dir_open_at(d, top, rel);
}

/* Each name counts: the link count of a file would cost an open of its own. */
int fs_size_at(struct FsDir *d, const char *name, long long *size, struct FsId *id, int *shared)
{
    char full[FS_PATH_MAX];
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!entry_path(d, name, full) || !GetFileAttributesExA(full, GetFileExInfoStandard, &a) ||
        (a.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return 0;
    *size = join64(a.nFileSizeHigh, a.nFileSizeLow);
    *shared = 0;
    id->volume = id->file = 0;
    return 1;
}

/* A slot is a named mutex held by this process. A mutex, not a semaphore:
 * the system hands a mutex on when its owner ends, however it ends (the
 * next waiter sees it abandoned), where a semaphore's count taken by a
 * process that dies is never given back. */
int fs_slot_take(const char *name, int count, int wait_ms)
{
    for (int waited = 0;; waited += 20) {
        for (int i = 0; i < count; i++) {
            char full[128];
            snprintf(full, sizeof full, "Local\\plugin_files-%s-%d", name, i);
            HANDLE m = CreateMutexA(NULL, FALSE, full);
            if (!m)
                continue;
            DWORD got = WaitForSingleObject(m, 0);
            if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED)
                return 1;
            CloseHandle(m);
        }
        if (waited >= wait_ms)
            return 0;
        Sleep(20);
    }
}

long long fs_clock_ms(void)
{
    return (long long)GetTickCount64();
}

/* The next write tells. */
int fs_out_closed(void)
{
    return 0;
}

int fs_processors(void)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors > 0 ? (int)si.dwNumberOfProcessors : 1;
}

int fs_program_path(char *out)
{
    DWORD n = GetModuleFileNameA(NULL, out, FS_PATH_MAX);
    if (n == 0 || n >= FS_PATH_MAX) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}
