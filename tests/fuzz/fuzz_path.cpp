/* Canonicalisation and containment. The first input byte picks the rule:
 *   0: canon_path and resolve_allowed of the text, as given (relative to
 *      root 1) and under the fixture's base directory: a canonical path is
 *      absolute, dot-free, link-free but for a dangling last name, equal to
 *      what the kernel resolves, and an allowed one lies under a root;
 *   1: path_under of "path\nroot" against the byte-exact rule;
 *   2: path_join of "dir\nname";
 *   3: path_parent of a canonical-looking directory under "/" or root 1. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "harness.h"
#include "path.h"

static int canonical_form(const std::string &p)
{
    if (p == "/")
        return 1;
    return p.size() > 1 && p[0] == '/' && p.back() != '/' && p.find("//") == std::string::npos &&
           (p + "/").find("/./") == std::string::npos && (p + "/").find("/../") == std::string::npos;
}

/* No component but the last is a link, and the last only when it cannot be
 * resolved. */
static int link_free(const std::string &p)
{
    struct stat st;
    for (size_t at = p.find('/', 1); at != std::string::npos; at = p.find('/', at + 1))
        if (lstat(p.substr(0, at).c_str(), &st) != 0 || S_ISLNK(st.st_mode))
            return 0;
    if (lstat(p.c_str(), &st) != 0)
        return 0;
    char *target = S_ISLNK(st.st_mode) ? realpath(p.c_str(), NULL) : NULL;
    int resolves = target != NULL;
    free(target);
    return !resolves;
}

/* The input made absolute fits a path buffer; a longer one is refused. */
static int absolute_fits(const std::string &in)
{
    return (in[0] == '/' ? in.size() : strlen(fx_get()->root1) + 1 + in.size()) < FS_PATH_MAX;
}

static void check_canon(const std::string &in)
{
    char out[FS_PATH_MAX];
    int status = 0;
    char *kernel = realpath(in.c_str(), NULL);
    int kernel_ok = kernel && strlen(kernel) < FS_PATH_MAX && absolute_fits(in);
    if (canon_path(in.c_str(), out, &status)) {
        if (strlen(out) >= FS_PATH_MAX || !canonical_form(out) || !link_free(out))
            fail("canon_path gave a non-canonical path", in + "\n=> " + out);
        if (kernel_ok && strcmp(kernel, out) != 0)
            fail("canon_path differs from the resolved path", in + "\n=> " + out);
    } else if (kernel_ok || (status != 400 && status != 404)) {
        fail("canon_path refused a resolvable path", in);
    }
    free(kernel);
    status = 0;
    int allowed = resolve_allowed(in.c_str(), out, &status);
    if (allowed ? status != 0 || !fx_under_roots(out)
                : status != 400 && status != 403 && status != 404)
        fail("resolve_allowed broke its contract", in + "\n=> " + std::to_string(status) + " " + out);
    if (!allowed && status == 403 && fx_under_roots(out))
        fail("resolve_allowed refused a path under a root", in);
}

static void check_under(const std::string &path, const std::string &root)
{
    std::string r = root;
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    int want = !r.empty() && (r == "/" ? path[0] == '/'
                                       : path == r || path.compare(0, r.size() + 1, r + "/") == 0);
    if (path_under(path.c_str(), root.c_str()) != want)
        fail("path_under differs from the byte-exact rule", path + "\n" + root);
}

static void check_join(const std::string &dir, const std::string &name)
{
    char out[FS_PATH_MAX];
    std::string d = dir.substr(0, FS_PATH_MAX - 1);
    if (!d.empty() && d.back() != '/' && d.size() + 1 < FS_PATH_MAX)
        d += '/';
    std::string want = d + name;
    int fits = want.size() < FS_PATH_MAX;
    if (fs_join(out, dir.c_str(), name.c_str()) != fits || out != (fits ? want : d))
        fail("path_join", dir + "\n" + name + "\n=> " + out);
}

static void check_parent(const std::string &rel, int under_slash)
{
    const Fixture *fx = fx_get();
    std::string root = under_slash ? "/" : fx->root1;
    std::string dir = rel.empty() ? root : (under_slash ? "" : root) + "/" + rel;
    if (!canonical_form(dir) || dir.size() >= FS_PATH_MAX)
        return;
    char out[FS_PATH_MAX] = "";
    int has = path_parent(dir.c_str(), root.c_str(), out);
    if (has != (dir != root))
        fail("path_parent: a parent for a root or none for a directory below it", dir);
    std::string parent = out;
    if (has && (!path_under(out, root.c_str()) || parent.size() >= dir.size() ||
                dir.compare(0, parent.size(), parent) != 0 ||
                (parent != "/" && dir[parent.size()] != '/') ||
                dir.find('/', parent.size() + 1) != std::string::npos))
        fail("path_parent is not the directory one step up", dir + "\n=> " + parent);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t len)
{
    if (len < 1)
        return 0;
    const Fixture *fx = fx_get();
    if (g_root_count == 0)
        path_setup_roots();
    std::string text((const char *)data + 1, len - 1);
    text.resize(strlen(text.c_str()));
    size_t nl = text.find('\n');
    std::string first = text.substr(0, nl), second = nl == std::string::npos ? "" : text.substr(nl + 1);
    switch (data[0] % 4) {
    case 0:
        check_canon(text);
        check_canon(std::string(fx->base) + "/" + text);
        break;
    case 1:
        check_under(first, second);
        break;
    case 2:
        check_join(first, second);
        break;
    default:
        check_parent(text, data[0] & 4);
        break;
    }
    return 0;
}
