#include "actions.h"

#include <string.h>

const struct Action g_actions[] = {
#define ACTION(name, fn, weight) {name, fn, weight},
#include "actions.def"
#undef ACTION
};

const int g_action_count = (int)(sizeof g_actions / sizeof g_actions[0]);

const struct Action *action_named(const char *name)
{
    for (int i = 0; i < g_action_count; i++)
        if (strcmp(name, g_actions[i].name) == 0)
            return &g_actions[i];
    return NULL;
}
