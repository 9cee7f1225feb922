/* Heavy work shared fairly: the actions that walk whole trees or decode
 * pictures run at most FILES_HEAVY_MAX at a time on the node (default: the
 * number of processors). A slot is the platform's (fs_slot_take): given back
 * by the system when the process ends, however it ends, with nothing written
 * to the file system. The slots belong to one installed program: its own
 * path names them, so two copies of it (a test build beside the installed
 * one) keep limits of their own. */
#ifndef PLUGIN_FILES_HEAVY_H
#define PLUGIN_FILES_HEAVY_H

/* How long one more request waits for a slot before it is turned away. */
enum { HEAVY_WAIT_MS = 2000, HEAVY_RETRY_SECONDS = 2 };

/* 1 with a slot held for the rest of the process; 0 after answering 503
 * "busy" with Retry-After when none came free in time. */
int heavy_enter(void);

#endif
