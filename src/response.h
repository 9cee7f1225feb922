/* Answers. Every byte of a request's answer leaves through this module: the
 * status line and the header block, built from lines kept once in one table,
 * and the body, which a HEAD request never gets. An action says what it
 * answers (status, kind, type and its own lines), never how HEAD or the
 * fixed lines are written.
 *
 * An answer is written in this order, once:
 *   resp_head(&h, status, kind, type)   the status line (none for 200), the
 *                                       Content-Type and the kind's lines;
 *   resp_line(&h, fmt, ...)             any lines of the answer's own;
 *   resp_send_head(&h)                  the block and its empty line; 1 when
 *                                       a body is wanted (not HEAD);
 *   resp_body(p, n), ...                the body, dropped for HEAD;
 *   resp_flush()                        a streamed piece out now;
 *   resp_end()                          everything out, 1 when it all went.
 * The block is built in an OutBuf that resp_send_head frees; should it have
 * failed, a bare 500 goes out in its place. */
#ifndef PLUGIN_FILES_RESPONSE_H
#define PLUGIN_FILES_RESPONSE_H

#include <stddef.h>

#include "buf.h"

/* What an answer is, which decides the lines it carries besides its own. */
enum RespKind {
    RESP_JSON,         /* the API's answers and every error */
    RESP_PAGE,         /* the browser page */
    RESP_FILE,         /* a file's bytes */
    RESP_ARCHIVE,      /* a folder as a ZIP archive */
    RESP_NOT_MODIFIED, /* a file's 304: no type and no body */
    RESP_PICTURE,      /* a picture made from a file: the action says how long it keeps */
    RESP_PICTURE_NOT_MODIFIED /* its 304, which carries the same keeping */
};

/* Reads REQUEST_METHOD; called once, before anything is written. */
void resp_init(void);
/* 0 for a HEAD request, 1 otherwise: a body that costs work is only made
 * when this says it is wanted. */
int resp_body_wanted(void);

/* Starts the header block in h (a zero OutBuf). type NULL gives the kind's
 * own (JSON, the page's HTML, a ZIP archive); a file names its type. */
void resp_head(struct OutBuf *h, int status, enum RespKind kind, const char *type);
/* One header line of the answer's own; CR LF is added. */
void resp_line(struct OutBuf *h, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* Writes the block and frees h: 1 when a body is to follow. */
int resp_send_head(struct OutBuf *h);

/* Body bytes: 1 while they reach the client (or are dropped for HEAD); 0
 * once a write has failed, after which nothing more is written. */
int resp_body(const void *p, size_t n);
/* The buffer's text as body bytes; the buffer is emptied and keeps its
 * room, so a long body goes out in pieces through one buffer. */
int resp_body_buf(struct OutBuf *b);
/* Sends what is written so far at once, for a stream whose pieces must
 * reach the client as they are found: 1 while the client is there. */
int resp_flush(void);
/* Flushes the answer: 1 when every byte went out. */
int resp_end(void);

/* Text for the command line (--meta, --version, --help), not an answer. */
void resp_print(const char *text);

#endif
