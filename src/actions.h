/* The actions of the API. Each writes one complete answer: a JSON answer
 * whose every step that can fail is done before its first byte goes out,
 * or an error answer. All take the raw query (for parameters of their own)
 * and the decoded `path` value, so that dispatch is one table. */
#ifndef PLUGIN_FILES_ACTIONS_H
#define PLUGIN_FILES_ACTIONS_H

#define ACTION(name, fn, weight) void fn(const char *query, const char *path);
#include "actions.def"
#undef ACTION

enum ActionWeight { LIGHT, HEAVY };

struct Action {
    const char *name;
    void (*run)(const char *query, const char *path);
    enum ActionWeight weight;
};

/* Every action, in the order of actions.def. */
extern const struct Action g_actions[];
extern const int g_action_count;

/* The action of that exact name, or NULL. */
const struct Action *action_named(const char *name);

#endif
