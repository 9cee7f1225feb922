/* The node password gate, run before anything looks at the request. */
#ifndef PLUGIN_FILES_GATE_H
#define PLUGIN_FILES_GATE_H

/* 1 when the request may proceed: no node password is set, or one of the
 * credentials presents it. */
int gate_admits(void);
/* The fixed refusal, the same for a missing and a wrong credential. */
void gate_refuse(void);

/* Exact byte equality in time that depends on the presented credential's
 * length only, not on where the first difference lies. */
int pwd_equal(const char *given, const char *want);

#endif
