/* The gate, run before anything looks at the request: the node password,
 * and without one the host the request was sent to. */
#ifndef PLUGIN_FILES_GATE_H
#define PLUGIN_FILES_GATE_H

/* 1 when the request may proceed; 0 after answering the refusal. With a
 * node password set, one of the credentials must present it (401, the same
 * for a missing and a wrong one), unless the request is for the page
 * (`page`): that holds nothing of the node's, the same bytes for everyone,
 * and asks for the password itself; the host is not looked at then. Without
 * one, the Host must pass gate_host_allowed (403 "host not allowed"), the
 * page's included. */
int gate_admits(int page);

/* Exact byte equality in time that depends on the presented credential's
 * length only, not on where the first difference lies. */
int pwd_equal(const char *given, const char *want);

/* A node without a password answers a browser only at a host that no page
 * elsewhere can take over by pointing a name of its own at the node's
 * address (DNS rebinding): an IP address (IPv6 in brackets), "localhost",
 * or a name in `allowed`, a ","-separated list compared without regard to
 * case, spaces around a name ignored. `host` is the Host header as sent,
 * a port after ":" left out of the comparison. No Host at all (NULL or
 * empty) is allowed: every browser sends one, so a request without it
 * comes from a program started by hand or an HTTP/1.0 client, which no
 * page elsewhere can drive. */
int gate_host_allowed(const char *host, const char *allowed);

#endif
