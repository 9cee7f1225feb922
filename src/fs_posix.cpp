/* The platform layer on POSIX: "/" separates, names are bytes, case matters. */
#include "fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

const char FS_SEP = '/';

void fs_init(void)
{
    /* A client that goes away mid-download must end the stream, not the
     * process: writes then fail and the action stops. */
    signal(SIGPIPE, SIG_IGN);
}

int fs_is_sep(char c)
{
    return c == '/';
}

char fs_fold(char c)
{
    return c;
}

size_t fs_root_len(const char *path)
{
    return path[0] == '/' ? 1 : 0;
}

const char *fs_default_root(void)
{
    return NULL;
}

const char *fs_profile_dir(void)
{
    const char *dir = getenv("USERPROFILE");
    return dir && *dir ? dir : getenv("HOME");
}

/* The input made absolute against the current directory, unresolved. */
static int absolute_path(const char *in, char *out)
{
    size_t in_len = strlen(in);
    if (in[0] == '/') {
        if (in_len >= FS_PATH_MAX)
            return 0;
        memcpy(out, in, in_len + 1);
        return 1;
    }
    if (!getcwd(out, FS_PATH_MAX))
        return 0;
    size_t n = strlen(out);
    if (n + 1 + in_len >= FS_PATH_MAX)
        return 0;
    if (out[n - 1] != '/')
        out[n++] = '/';
    memcpy(out + n, in, in_len + 1);
    return 1;
}

/* realpath into a buffer of our size; a result that would not fit fails. */
static int resolve(const char *in, char *out)
{
    char *r = realpath(in, NULL);
    if (!r)
        return 0;
    size_t n = strlen(r);
    if (n < FS_PATH_MAX)
        memcpy(out, r, n + 1);
    free(r);
    if (n >= FS_PATH_MAX)
        errno = ENAMETOOLONG;
    return n < FS_PATH_MAX;
}

/* A last component that exists but does not resolve (a dangling or looping
 * link) is named by its resolved directory and its own name. */
static int resolve_parent_and_name(char *abs, char *out)
{
    size_t n = strlen(abs);
    while (n > 1 && abs[n - 1] == '/')
        abs[--n] = '\0';
    char *slash = strrchr(abs, '/');
    const char *name = slash + 1;
    *slash = '\0';
    if (!resolve(abs[0] ? abs : "/", out))
        return 0;
    size_t dir_len = strlen(out);
    size_t name_len = strlen(name);
    if (dir_len > 1)
        out[dir_len++] = '/';
    if (dir_len + name_len >= FS_PATH_MAX)
        return 0;
    memcpy(out + dir_len, name, name_len + 1);
    return 1;
}

int canon_path(const char *in, char *out, int *status)
{
    char abs[FS_PATH_MAX];
    struct stat st;
    if (!in[0] || !absolute_path(in, abs)) {
        *status = 400;
        return 0;
    }
    if (lstat(abs, &st) != 0) {
        *status = 404;
        return 0;
    }
    if (resolve(abs, out))
        return 1;
    if (errno != ENAMETOOLONG && resolve_parent_and_name(abs, out))
        return 1;
    *status = errno == ENOENT || errno == ELOOP ? 404 : 400;
    return 0;
}

static void facts_from(const struct stat *sb, struct FsStat *st)
{
    st->is_dir = S_ISDIR(sb->st_mode);
    st->is_reg = S_ISREG(sb->st_mode);
    st->size = st->is_dir ? 0 : (long long)sb->st_size;
    st->mtime = (long long)sb->st_mtime;
}

/* Anonymous memory aligned to a 2 MiB boundary, the unit a large page
 * covers; the mapping lasts until the process exits. */
void *fs_large_block(size_t n)
{
    const size_t unit = (size_t)2 << 20;
    size_t len = (n + unit - 1) / unit * unit;
    void *map = mmap(NULL, len + unit, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return NULL;
    char *block = (char *)(((uintptr_t)map + unit - 1) & ~(uintptr_t)(unit - 1));
#ifdef MADV_HUGEPAGE
    madvise(block, len, MADV_HUGEPAGE);
#endif
    return block;
}

int fs_stat(const char *path, struct FsStat *st)
{
    struct stat sb;
    if (stat(path, &sb) != 0)
        return 0;
    facts_from(&sb, st);
    return 1;
}

/* Opens a canonical path, which holds no link by construction: one that
 * appeared since it was canonicalised (a component swapped for a link to
 * elsewhere) makes the open fail instead of leading out of the roots. Where
 * the kernel cannot refuse links on the way, the last component at least is
 * checked. */
static int open_canonical(const char *path, int flags)
{
#if defined(__linux__) && defined(SYS_openat2)
    struct open_how how;
    memset(&how, 0, sizeof how);
    how.flags = (unsigned long long)flags;
    how.resolve = RESOLVE_NO_SYMLINKS;
    long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
        return (int)fd;
#endif
    return open(path, flags | O_NOFOLLOW);
}

/* What an enumeration holds. On Linux the entries come straight from
 * getdents64, a buffer at a time: the C library's readdir would first look
 * at the descriptor it is handed and change its flags twice, three calls
 * per directory that a walk of many directories pays for nothing. */
struct DirStream {
    int fd;
#if defined(__linux__)
    size_t at, len;
    alignas(8) char buf[32768];
#else
    DIR *dir;
#endif
};

/* An enumeration over an open descriptor, which it then owns. */
static int dir_from_fd(struct FsDir *d, int fd)
{
    struct DirStream *s = fd >= 0 ? (struct DirStream *)malloc(sizeof(struct DirStream)) : NULL;
    d->handle = s;
    d->data = NULL;
    d->pending = 0;
    if (s) {
        s->fd = fd;
#if defined(__linux__)
        s->at = s->len = 0;
#else
        s->dir = fdopendir(fd);
        if (s->dir)
            return 1;
        free(s);
        d->handle = s = NULL;
#endif
    }
    if (fd >= 0 && !s)
        close(fd);
    return s != NULL;
}

/* The next entry's name and kind as the system gives it: 0 at the end, or
 * on any failure to read. */
static int next_entry(struct DirStream *s, const char **name, unsigned char *type)
{
#if defined(__linux__)
    if (s->at >= s->len) {
        ssize_t n = getdents64(s->fd, s->buf, sizeof s->buf);
        if (n <= 0)
            return 0;
        s->at = 0;
        s->len = (size_t)n;
    }
    const struct dirent64 *de = (const struct dirent64 *)(s->buf + s->at);
    s->at += de->d_reclen;
#else
    const struct dirent *de = readdir(s->dir);
    if (!de)
        return 0;
#endif
    *name = de->d_name;
    *type = de->d_type;
    return 1;
}

int fs_dir_open(struct FsDir *d, const char *dir)
{
    return dir_from_fd(d, open_canonical(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

static int dir_fd(struct FsDir *d)
{
    return ((struct DirStream *)d->handle)->fd;
}

/* Without the kind in the entry (some file systems never give it), one
 * look at the entry itself, not at what a link leads to. */
static void entry_kind(struct FsDir *d, unsigned char type, struct FsEntry *e)
{
    struct stat sb;
    e->is_dir = type == DT_DIR;
    e->is_link = type == DT_LNK;
    e->is_reg = type == DT_REG;
    if (type != DT_UNKNOWN || fstatat(dir_fd(d), e->name, &sb, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    e->is_dir = S_ISDIR(sb.st_mode);
    e->is_link = S_ISLNK(sb.st_mode);
    e->is_reg = S_ISREG(sb.st_mode);
}

int fs_dir_next(struct FsDir *d, struct FsEntry *e)
{
    unsigned char type;
    if (!next_entry((struct DirStream *)d->handle, &e->name, &type))
        return 0;
    entry_kind(d, type, e);
    return 1;
}

void fs_dir_close(struct FsDir *d)
{
    struct DirStream *s = (struct DirStream *)d->handle;
    if (s) {
#if defined(__linux__)
        close(s->fd);
#else
        closedir(s->dir);
#endif
        free(s);
    }
    d->handle = NULL;
}

/* The descriptor becomes the file when it is a regular file; anything else
 * is closed with *status 400. */
static int file_from_fd(int fd, struct FsFile *f, int *status)
{
    struct stat sb;
    if (fd < 0) {
        *status = 403;
        return 0;
    }
    if (fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        close(fd);
        *status = 400;
        return 0;
    }
    f->handle = fd;
    f->size = (long long)sb.st_size;
    return 1;
}

/* Non-blocking, then checked again on the descriptor: a file swapped for a
 * FIFO after the caller's check can never hold the process. */
static const int FILE_FLAGS = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

int fs_open(const char *path, struct FsFile *f, int *status)
{
    return file_from_fd(open_canonical(path, FILE_FLAGS), f, status);
}

long long fs_read(struct FsFile *f, char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = read((int)f->handle, buf + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += (size_t)r;
    }
    return (long long)got;
}

void fs_close(struct FsFile *f)
{
    close((int)f->handle);
}

int fs_version(struct FsFile *f, struct FsVersion *v)
{
    struct stat sb;
    if (fstat((int)f->handle, &sb) != 0)
        return 0;
    v->size = (long long)sb.st_size;
    v->mtime = (long long)sb.st_mtim.tv_sec;
    v->nsec = (long)sb.st_mtim.tv_nsec;
    return 1;
}

int fs_seek(struct FsFile *f, long long offset)
{
    return lseek((int)f->handle, (off_t)offset, SEEK_SET) == (off_t)offset;
}

int fs_stat_at(struct FsDir *d, const char *name, struct FsStat *st)
{
    struct stat sb;
    if (fstatat(dir_fd(d), name, &sb, 0) != 0)
        return 0;
    facts_from(&sb, st);
    return 1;
}

int fs_dir_open_at(struct FsDir *d, struct FsDir *parent, const char *name)
{
    return dir_from_fd(d, openat(dir_fd(parent), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

int fs_open_at(struct FsDir *parent, const char *name, struct FsFile *f, int *status)
{
    return file_from_fd(openat(dir_fd(parent), name, FILE_FLAGS | O_NOFOLLOW), f, status);
}

static void id_from(const struct stat *sb, struct FsId *id)
{
    id->volume = (unsigned long long)sb->st_dev;
    id->file = (unsigned long long)sb->st_ino;
}

int fs_dir_id(struct FsDir *d, struct FsId *id)
{
    struct stat sb;
    if (fstat(dir_fd(d), &sb) != 0)
        return 0;
    id_from(&sb, id);
    return 1;
}

int fs_id_of(const char *path, struct FsId *id)
{
    struct stat sb;
    if (stat(path, &sb) != 0)
        return 0;
    id_from(&sb, id);
    return 1;
}

/* Name by name, each opened from the one before and refused when it is a
 * link: where the kernel cannot take the whole path in one step. */
static int open_names_below(int top, const char *rel)
{
    char name[FS_PATH_MAX];
    int fd = top;
    while (*rel) {
        size_t n = strcspn(rel, "/");
        memcpy(name, rel, n);
        name[n] = '\0';
        int next = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd != top)
            close(fd);
        if (next < 0)
            return -1;
        fd = next;
        rel += n + (rel[n] == '/');
    }
    return fd == top ? -1 : fd;
}

int fs_dir_open_below(struct FsDir *d, struct FsDir *top, const char *rel)
{
#if defined(__linux__) && defined(SYS_openat2)
    struct open_how how;
    memset(&how, 0, sizeof how);
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, dir_fd(top), rel, &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
        return dir_from_fd(d, (int)fd);
#endif
    return dir_from_fd(d, open_names_below(dir_fd(top), rel));
}

int fs_size_at(struct FsDir *d, const char *name, long long *size, struct FsId *id, int *shared)
{
    struct stat sb;
    if (fstatat(dir_fd(d), name, &sb, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(sb.st_mode))
        return 0;
    *size = (long long)sb.st_size;
    *shared = sb.st_nlink > 1;
    id_from(&sb, id);
    return 1;
}

/* A slot is a socket bound to a name in the abstract namespace: the bind
 * succeeds for one process at a time, and the kernel drops the name when
 * the process ends, however it ends. Where there is no such namespace the
 * slot is granted, as if no limit were set. */
static int bind_slot(const char *name, int index)
{
#if defined(__linux__)
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    int len = snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "plugin_files-%s-%d", name, index);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    if (bind(fd, (struct sockaddr *)&addr, (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + len)) == 0)
        return 1;
    close(fd);
    return 0;
#else
    (void)name;
    (void)index;
    return 1;
#endif
}

int fs_slot_take(const char *name, int count, int wait_ms)
{
    const struct timespec step = {0, 20 * 1000 * 1000};
    for (int waited = 0;; waited += 20) {
        for (int i = 0; i < count; i++)
            if (bind_slot(name, i))
                return 1;
        if (waited >= wait_ms)
            return 0;
        nanosleep(&step, NULL);
    }
}

long long fs_clock_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

/* A pipe whose reader has closed it reports an error to poll; a socket
 * whose peer has gone reports a hang-up. Neither costs a write. */
int fs_out_closed(void)
{
    struct pollfd p = {fileno(stdout), POLLOUT, 0};
    return p.fd >= 0 && poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

int fs_processors(void)
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
}

int fs_program_path(char *out)
{
    ssize_t n = readlink("/proc/self/exe", out, FS_PATH_MAX - 1);
    out[n > 0 ? n : 0] = '\0';
    return n > 0;
}
