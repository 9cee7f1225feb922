#include "actions.h"

#include "json.h"
#include "path.h"
#include "str.h"

void act_roots(const char *, const char *)
{
    struct OutBuf b = {};
    char name[ROOT_NAME_MAX];
    buf_printf(&b, "{\"ok\":true,\"count\":%d,\"roots\":[", g_root_count);
    for (int i = 0; i < g_root_count; i++) {
        str_copy(name, sizeof name, path_name(g_roots[i]));
        buf_puts(&b, i ? ",\n  {\"path\":" : "\n  {\"path\":");
        json_str(&b, g_roots[i]);
        buf_puts(&b, ",\"name\":");
        json_str(&b, name);
        buf_putc(&b, '}');
    }
    buf_puts(&b, "\n]}\n");
    json_send(&b);
}
