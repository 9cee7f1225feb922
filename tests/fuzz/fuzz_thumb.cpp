/* The thumbnail path: the EXIF reader, the header reader and the glue
 * around the decoders and encoders. Input: a byte that picks the size
 * (bits 0-1) and HEAD (bit 2), then the bytes of a file. Whatever they are:
 *   - the EXIF reader gives an orientation from 1 to 8 and an embedded
 *     picture only inside the bytes it read;
 *   - a header the header reader reads declares pixels;
 *   - thumb of those bytes as a file answers as every request must
 *     (check_response: one well-formed answer, never a crash), and a
 *     thumbnail it makes is no larger than the size asked for, by its own
 *     header (an embedded picture sent as it is, bytes of the input, is the
 *     camera's and may be anything a JPEG decoder takes). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "exif.h"
#include "harness.h"
#include "picture.h"

static void check_readers(const unsigned char *p, size_t n)
{
    struct ExifInfo exif;
    exif_read(p, n, &exif);
    if (exif.orientation < 1 || exif.orientation > 8 || exif.thumb_offset < 0 || exif.thumb_length < 0 ||
        (unsigned long long)(exif.thumb_offset + exif.thumb_length) > n)
        fail("the EXIF reader reported what is not there", std::string((const char *)p, n));
    struct PicHeader hd;
    if (pic_header(p, n, pic_format(p, n), &hd) && (hd.w < 1 || hd.h < 1 || hd.fw < 1 || hd.fh < 1))
        fail("a header of no pixels read as one", std::string((const char *)p, n));
}

static void check_thumbnail(const Answer &ans, int side, const std::string &input, const std::string &out)
{
    const unsigned char *body = (const unsigned char *)ans.body.data();
    struct PicHeader hd;
    if (input.find(ans.body) != std::string::npos)
        return;
    if (!pic_header(body, ans.body.size(), pic_format(body, ans.body.size()), &hd))
        fail("a thumbnail without a header", out);
    if (hd.w > side || hd.h > side)
        fail("a thumbnail larger than its size", out);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t len)
{
    static const int sides[4] = {128, 256, 512, 256};
    static std::string picture, query;
    if (len < 1)
        return 0;
    if (picture.empty()) {
        picture = std::string(fx_get()->root1) + "/fuzz.pic";
        /* The logic, not the scale: a few megapixels keep each run short. */
        setenv("FILES_THUMB_MAX_PIXELS", "4000000", 1);
    }
    int side = sides[data[0] & 3];
    int head = data[0] & 4;
    check_readers(data + 1, len - 1);
    FILE *f = fopen(picture.c_str(), "wb");
    if (!f || fwrite(data + 1, 1, len - 1, f) != len - 1 || fclose(f) != 0)
        fail("cannot write the picture", picture);
    query = "action=thumb&size=" + std::to_string(side) + "&path=" + picture;
    Request req = {query.c_str(), NULL, NULL, NULL, head ? "HEAD" : "GET", NULL, NULL, NULL, NULL};
    std::string out = fx_run(&req);
    Answer ans;
    if (const char *broken = check_response(out, &ans))
        fail(broken, out);
    if (ans.status == 200 && !head)
        check_thumbnail(ans, side, std::string((const char *)data + 1, len - 1), out);
    return 0;
}
