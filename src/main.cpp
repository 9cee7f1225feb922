/* plugin_files: one process, one request, one response. The web server starts
 * it per request in the manner of CGI; the host may also ask it what it is. */
#include <stdlib.h>
#include <string.h>

#include "actions.h"
#include "fs.h"
#include "gate.h"
#include "out.h"
#include "page.h"
#include "path.h"
#include "query.h"

enum { ACTION_MAX = 64, FORMAT_MAX = 32 };

static const struct {
    const char *name;
    void (*run)(const char *query, const char *path);
} g_actions[] = {
    {"roots", act_roots},
    {"ls", act_ls},
    {"read", act_read},
    {"raw", act_raw},
    {"zip", act_zip},
};

/* 1 when the command line or the host asked for a description instead of a
 * request, after writing it. The variable wins over --version. */
static int answer_meta(int argc, char **argv)
{
    const char *arg = argc > 1 ? argv[1] : "";
    if (strcmp(arg, "--meta") == 0 || getenv("ZV_PLUGIN_META")) {
        out_puts("{\"name\":\"files\",\"desc\":\"File browser\"}\n");
        return 1;
    }
    if (strcmp(arg, "--version") == 0) {
        out_puts("plugin_files 1.0.0\n");
        return 1;
    }
    return 0;
}

/* The action the query names. A query that names none gets the page, unless
 * it asks for JSON, which means the roots. Empty when nothing fits. */
static int choose_action(const char *query, char *action)
{
    char format[FORMAT_MAX];
    get_query_val(query, "action", action, ACTION_MAX);
    if (action[0])
        return 1;
    if (!strstr(query, "format=json"))
        return 0;
    if (get_query_val(query, "format", format, sizeof format) && strcmp(format, "json") == 0)
        str_copy(action, ACTION_MAX, "roots");
    return 1;
}

static void dispatch(const char *query, const char *action)
{
    char path[FS_PATH_MAX];
    get_query_val(query, "path", path, sizeof path);
    for (size_t i = 0; i < sizeof g_actions / sizeof g_actions[0]; i++) {
        if (strcmp(action, g_actions[i].name) == 0) {
            g_actions[i].run(query, path);
            return;
        }
    }
    json_err(400, "unknown action");
}

int main(int argc, char **argv)
{
    fs_init();
    if (answer_meta(argc, argv))
        return 0;
    if (!gate_admits()) {
        gate_refuse();
        return 0;
    }
    path_setup_roots();
    const char *query = getenv("QUERY_STRING");
    char action[ACTION_MAX];
    if (!query || !choose_action(query, action)) {
        page_write();
        return 0;
    }
    dispatch(query, action);
    return 0;
}
