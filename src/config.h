/* The host's settings that are numbers: one reading rule for all of them. */
#ifndef PLUGIN_FILES_CONFIG_H
#define PLUGIN_FILES_CONFIG_H

/* The environment variable `name` as a limit: decimal digits only and at
 * most `ceiling`; anything else (unset, empty, another character, a value
 * above the ceiling, which is taken for a mistake) leaves `fallback`. */
long long config_limit(const char *name, long long fallback, long long ceiling);

#endif
