#include "heavy.h"

#include <stdio.h>

#include "config.h"
#include "fs.h"
#include "json.h"

/* Above this a setting is taken for a mistake. */
static const long long HEAVY_CEILING = 1024;
/* A process holds one slot at most, however many heavy steps it takes (a
 * test harness runs many requests in one process). */
static int g_held;

/* FNV-1a of the program's path, as the slots' name. */
static void slot_name(char out[17])
{
    char path[FS_PATH_MAX];
    unsigned long long h = 14695981039346656037ull;
    fs_program_path(path);
    for (const char *p = path; *p; p++)
        h = (h ^ (unsigned char)*p) * 1099511628211ull;
    snprintf(out, 17, "%016llx", h);
}

int heavy_enter(void)
{
    char name[17];
    if (g_held)
        return 1;
    long long count = config_limit("FILES_HEAVY_MAX", 0, HEAVY_CEILING);
    if (count <= 0)
        count = fs_processors();
    slot_name(name);
    if (fs_slot_take(name, (int)count, HEAVY_WAIT_MS)) {
        g_held = 1;
        return 1;
    }
    char line[32];
    snprintf(line, sizeof line, "Retry-After: %d", HEAVY_RETRY_SECONDS);
    json_err_with(503, line, "busy");
    return 0;
}
