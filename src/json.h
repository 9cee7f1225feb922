/* JSON answers: the string encoder, the successful answer built whole in an
 * OutBuf, and the error answer {"ok":false,"error":"..."}. */
#ifndef PLUGIN_FILES_JSON_H
#define PLUGIN_FILES_JSON_H

#include "buf.h"

/* `s` as a JSON string literal, quotes included; NULL gives "". Bytes pass
 * unchanged but for the quote, the backslash and control bytes. */
void json_str(struct OutBuf *b, const char *s);
/* The same for the n bytes at s, which may hold a NUL. */
void json_strn(struct OutBuf *b, const char *s, size_t n);
/* The same literal as body bytes, for a long value that ends an answer. */
void json_write_str(const char *s);

/* The header block of a successful answer and, as the start of its body,
 * what b holds; b is emptied and keeps its room. 1 when the rest of the body
 * is to follow; 0 when nothing more is to be written: a HEAD, a client that
 * has gone, or a b that failed while it was built, which answers 500 "out
 * of memory" instead (no answer ever loses a piece of its middle). */
int json_start(struct OutBuf *b);
/* A successful answer built whole in b, as json_start sends it; b is
 * freed. */
void json_send(struct OutBuf *b);
void json_err(int status, const char *message);
/* The same with a header line of its own (without CR LF) after the fixed
 * ones. */
void json_err_with(int status, const char *line, const char *message);

#endif
