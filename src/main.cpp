/* plugin_files: one process, one request, one response. The web server starts
 * it per request in the manner of CGI; the host may also ask it what it is. */
#include <stdlib.h>
#include <string.h>

#include "actions.h"
#include "buf.h"
#include "fs.h"
#include "gate.h"
#include "heavy.h"
#include "json.h"
#include "page.h"
#include "path.h"
#include "query.h"
#include "response.h"
#include "str.h"

enum { ACTION_MAX = 64, FORMAT_MAX = 32 };

/* The build hands the version over from the one place it is kept, so the
 * packages and the program never disagree. */
static const char g_help_head[] =
    "plugin_files " PLUGIN_FILES_VERSION ": a read-only file browser for the web.\n"
    "A web server starts it once per request as a CGI program. Without an action\n"
    "it serves the browser page; with one, a JSON API over the allowed roots.\n"
    "\n"
    "Usage: plugin_files             answer the request the environment describes\n"
    "       plugin_files --meta      print the plugin description as JSON\n"
    "       plugin_files --version   print the name and the version\n"
    "       plugin_files --help      print this text\n"
    "\n"
    "Actions (?action=...):";
static const char g_help_rest[] =
    "\n"
    "\n"
    "Set by the host:\n"
    "  FILES_ALLOWED_ROOT      roots, separated by ';' (at most 8 in all)\n"
    "  USERPROFILE, else HOME  the profile directory, a root before those\n"
    "  KIV_PASSWORD            the node password; unset or empty: none\n"
    "  FILES_ALLOWED_HOSTS     without a password, the host names answered besides\n"
    "                          IP addresses and localhost, separated by ','\n"
    "  FILES_RAW_LIMIT         largest file raw sends, decimal bytes (default: none)\n"
    "  FILES_LS_MAX            most entries a listing covers (default 200000)\n"
    "  FILES_ZIP_MAX_ENTRIES   most entries in one zip (default 100000)\n"
    "  FILES_ZIP_MAX_BYTES     most bytes in one zip (default 4 GiB)\n"
    "  FILES_FIND_MAX_RESULTS  most matches find or grep sends (default 1000)\n"
    "  FILES_SEARCH_SECONDS    longest walk of find, grep (default 10) and du (5)\n"
    "  FILES_GREP_MAX_BYTES    most bytes grep reads in one request (default 4 GiB)\n"
    "  FILES_GREP_MAX_FILE     largest file grep reads (default 64 MiB)\n"
    "  FILES_THUMB_MAX_PIXELS  largest picture thumb decodes (default 100000000)\n"
    "  FILES_HEAVY_MAX         archives, searches and thumbnails at once (default: processors)\n"
    "  ZV_PLUGIN_META          set, even empty: print the description and exit\n"
    "Set by the web server for each request:\n"
    "  QUERY_STRING            the raw query; absent: the page is served\n"
    "  REQUEST_METHOD          HEAD answers with the headers only\n"
    "  HTTP_HOST               header Host: without a password, checked as above\n"
    "  HTTP_X_KIV_PASSWORD     header X-Kiv-Password: the password\n"
    "  HTTP_AUTHORIZATION      header Authorization: the password, or 'Bearer' and it\n"
    "  HTTP_RANGE              header Range: part of a file for raw\n"
    "  HTTP_IF_RANGE           header If-Range: the part only if the file is unchanged\n"
    "  HTTP_IF_NONE_MATCH      header If-None-Match: 304 when the ETag matches\n"
    "  HTTP_IF_MODIFIED_SINCE  header If-Modified-Since: 304 when not newer\n"
    "  HTTP_IF_MATCH           header If-Match: 412 when no ETag matches\n"
    "  HTTP_IF_UNMODIFIED_SINCE header If-Unmodified-Since: 412 when newer\n";

/* The actions are listed from the table that dispatches them. */
static void print_help(void)
{
    struct OutBuf b = {};
    buf_puts(&b, g_help_head);
    for (int i = 0; i < g_action_count; i++)
        buf_printf(&b, "%s %s", i ? "," : "", g_actions[i].name);
    buf_puts(&b, g_help_rest);
    resp_print(buf_text(&b));
    buf_free(&b);
}

/* 1 when the command line or the host asked for a description instead of a
 * request, after writing it. The variable wins over any argument. */
static int answer_meta(int argc, char **argv)
{
    const char *arg = argc > 1 ? argv[1] : "";
    if (strcmp(arg, "--meta") == 0 || getenv("ZV_PLUGIN_META")) {
        resp_print("{\"name\":\"files\",\"desc\":\"File browser\"}\n");
        return 1;
    }
    if (strcmp(arg, "--version") == 0) {
        resp_print("plugin_files " PLUGIN_FILES_VERSION "\n");
        return 1;
    }
    if (strcmp(arg, "--help") == 0) {
        print_help();
        return 1;
    }
    return 0;
}

/* The action the query names. A query that names none gets the page, unless
 * it asks for JSON, which means the roots. Empty when nothing fits, a name
 * too long for any action included. */
static int choose_action(const char *query, char *action)
{
    char format[FORMAT_MAX];
    if (get_query_val(query, "action", action, ACTION_MAX) == QUERY_TOO_LONG || action[0])
        return 1;
    if (!strstr(query, "format=json"))
        return 0;
    if (get_query_val(query, "format", format, sizeof format) == QUERY_FOUND && strcmp(format, "json") == 0)
        str_copy(action, ACTION_MAX, "roots");
    return 1;
}

static void dispatch(const char *query, const char *name)
{
    char path[FS_PATH_MAX];
    const struct Action *action = action_named(name);
    if (!action) {
        json_err(400, "unknown action");
        return;
    }
    enum QueryFound found = get_query_val(query, "path", path, sizeof path);
    if (found == QUERY_TOO_LONG || found == QUERY_HELD_NUL) {
        path_err(400);
        return;
    }
    if (action->weight == HEAVY && !heavy_enter())
        return;
    action->run(query, path);
}

/* The gate, the roots, then the page or one action. The page passes a
 * guarded node's gate without the password, which it then asks for. */
static void serve(void)
{
    const char *query = getenv("QUERY_STRING");
    char action[ACTION_MAX];
    int page = !query || !choose_action(query, action);
    if (!gate_admits(page))
        return;
    path_setup_roots();
    if (page)
        page_write();
    else
        dispatch(query, action);
}

int main(int argc, char **argv)
{
    fs_init();
    resp_init();
    if (!answer_meta(argc, argv))
        serve();
    resp_end();
    return 0;
}
