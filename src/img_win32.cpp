/* The pictures on Windows: the Windows Imaging Component, the system's own
 * decoders and encoders, so that the executable carries none and stays one
 * file. A picture is read into memory (the file limit bounds it) and
 * decoded at its full size, row by row into the canvas, through a
 * converter to BGRA. The memory bound of the POSIX build is not the
 * system's to promise here. */
#include "img.h"

#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <wincodec.h>

static const float JPEG_QUALITY = 0.8f;

/* One factory for the process; COM is started with it. */
static IWICImagingFactory *g_factory;

static IWICImagingFactory *factory(void)
{
    if (!g_factory && SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED)))
        CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         (void **)&g_factory);
    return g_factory;
}

/* The status of an answer for a failure the component reports. */
static int failure_status(HRESULT hr)
{
    if (hr == WINCODEC_ERR_COMPONENTNOTFOUND)
        return 415;
    return hr == E_OUTOFMEMORY ? 413 : 422;
}

/* A picture open for decoding: its bytes, what its header says, the stream
 * over the bytes, the decoder and its first frame. */
struct Wic {
    unsigned char *data;
    struct PicHeader header;
    IWICStream *stream;
    IWICBitmapDecoder *decoder;
    IWICBitmapFrameDecode *frame;
};

static void wic_close(struct Wic *w)
{
    if (w->frame)
        w->frame->Release();
    if (w->decoder)
        w->decoder->Release();
    if (w->stream)
        w->stream->Release();
    free(w->data);
}

/* The picture's bytes and its header: 1, or 0 with *status. The size is
 * read here, not by the component: its decoders may allocate the whole
 * picture as they open it. */
static int wic_read(const struct ImgSource *src, struct Wic *w, int *status)
{
    size_t len = (size_t)src->length;
    w->data = (unsigned char *)malloc(len ? len : 1);
    *status = w->data ? 422 : 413;
    return w->data && fs_seek(src->file, src->start) && fs_read(src->file, (char *)w->data, len) == (long long)len &&
           pic_header(w->data, len, src->format, &w->header);
}

/* 1 with the first frame open, or 0 with *status (422 for anything that
 * fails after); w is to be closed either way. */
static int wic_open(const struct ImgSource *src, struct Wic *w, int *status)
{
    IWICImagingFactory *f = factory();
    HRESULT hr = E_OUTOFMEMORY;
    if (!wic_read(src, w, status))
        return 0;
    if (f && SUCCEEDED(hr = f->CreateStream(&w->stream)) &&
        SUCCEEDED(hr = w->stream->InitializeFromMemory(w->data, (DWORD)src->length)) &&
        SUCCEEDED(hr = f->CreateDecoderFromStream(w->stream, NULL, WICDecodeMetadataCacheOnDemand, &w->decoder)) &&
        SUCCEEDED(hr = w->decoder->GetFrame(0, &w->frame)))
        return 1;
    *status = failure_status(hr);
    return 0;
}

int img_size(const struct ImgSource *src, long long *w, long long *h, int *status)
{
    struct Wic wic = {};
    int ok = wic_read(src, &wic, status);
    *w = wic.header.w;
    *h = wic.header.h;
    wic_close(&wic);
    return ok;
}

/* Every row of the converted frame into the canvas at the frame's place,
 * B and R swapped. */
static int wic_rows(IWICBitmapSource *source, const struct PicHeader *hd, int tw, int th, struct PicCanvas *c)
{
    UINT w, h;
    if (FAILED(source->GetSize(&w, &h)))
        return 0;
    unsigned char *row = (unsigned char *)malloc((size_t)w * 4);
    int ok = row != NULL;
    pic_start(c, hd->w, hd->h, tw, th);
    if (hd->x > 0 || hd->y > 0 || (long long)w < hd->w || (long long)h < hd->h)
        pic_uncovered(c);
    for (UINT y = 0; ok && y < h; y++) {
        WICRect r = {0, (INT)y, (INT)w, 1};
        ok = SUCCEEDED(source->CopyPixels(&r, w * 4, w * 4, row));
        for (UINT x = 0; ok && x < w; x++) {
            unsigned char b = row[x * 4];
            row[x * 4] = row[x * 4 + 2];
            row[x * 4 + 2] = b;
        }
        if (ok)
            pic_row(c, hd->y + y, hd->x, 1, row, w, 4);
    }
    free(row);
    return ok;
}

int img_decode(const struct ImgSource *src, int w, int h, struct PicCanvas *c, int *status)
{
    struct Wic wic = {};
    IWICFormatConverter *conv = NULL;
    int ok = wic_open(src, &wic, status) && SUCCEEDED(factory()->CreateFormatConverter(&conv)) &&
             SUCCEEDED(conv->Initialize(wic.frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, NULL, 0.0,
                                        WICBitmapPaletteTypeCustom)) &&
             wic_rows(conv, &wic.header, w, h, c);
    if (conv)
        conv->Release();
    wic_close(&wic);
    return ok;
}

/* The thumbnail's rows in the order the encoder takes: BGRA for PNG, BGR
 * for JPEG. */
static unsigned char *encoder_pixels(const struct PicImage *img, int channels)
{
    unsigned char *px = (unsigned char *)malloc((size_t)img->w * (size_t)img->h * (size_t)channels);
    for (size_t i = 0; px && i < (size_t)img->w * (size_t)img->h; i++) {
        const unsigned char *s = img->rgba + i * 4;
        unsigned char *d = px + i * (size_t)channels;
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        if (channels == 4)
            d[3] = s[3];
    }
    return px;
}

/* JPEG's quality, as a property of the frame. */
static HRESULT set_quality(IPropertyBag2 *props)
{
    PROPBAG2 name;
    VARIANT value;
    memset(&name, 0, sizeof name);
    memset(&value, 0, sizeof value);
    name.pstrName = (LPOLESTR)L"ImageQuality";
    value.vt = VT_R4;
    value.fltVal = JPEG_QUALITY;
    return props->Write(1, &name, &value);
}

static HRESULT write_frame(IWICBitmapEncoder *enc, const struct PicImage *img)
{
    IWICBitmapFrameEncode *frame = NULL;
    IPropertyBag2 *props = NULL;
    int png = img->translucent;
    WICPixelFormatGUID format = png ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
    UINT stride = (UINT)img->w * (png ? 4 : 3);
    unsigned char *px = encoder_pixels(img, png ? 4 : 3);
    HRESULT hr = px ? enc->CreateNewFrame(&frame, &props) : E_OUTOFMEMORY;
    if (SUCCEEDED(hr) && !png)
        hr = set_quality(props);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = frame->Initialize(props)) &&
        SUCCEEDED(hr = frame->SetSize((UINT)img->w, (UINT)img->h)) && SUCCEEDED(hr = frame->SetPixelFormat(&format)))
        hr = IsEqualGUID(format, png ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR)
                 ? frame->WritePixels((UINT)img->h, stride, stride * (UINT)img->h, px)
                 : E_FAIL;
    if (SUCCEEDED(hr))
        hr = frame->Commit();
    if (frame)
        frame->Release();
    if (props)
        props->Release();
    free(px);
    return hr;
}

/* The stream's bytes, from its start to where writing left it. */
static int stream_bytes(IStream *mem, struct OutBuf *out)
{
    HGLOBAL global;
    ULARGE_INTEGER end;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (FAILED(mem->Seek(zero, STREAM_SEEK_CUR, &end)) || FAILED(GetHGlobalFromStream(mem, &global)))
        return 0;
    const char *p = (const char *)GlobalLock(global);
    if (!p)
        return 0;
    buf_putn(out, p, (size_t)end.QuadPart);
    GlobalUnlock(global);
    return !out->failed;
}

int img_encode(const struct PicImage *img, struct OutBuf *out)
{
    IWICImagingFactory *f = factory();
    IStream *mem = NULL;
    IWICBitmapEncoder *enc = NULL;
    int ok = f && SUCCEEDED(CreateStreamOnHGlobal(NULL, TRUE, &mem)) &&
             SUCCEEDED(f->CreateEncoder(img->translucent ? GUID_ContainerFormatPng : GUID_ContainerFormatJpeg, NULL,
                                        &enc)) &&
             SUCCEEDED(enc->Initialize(mem, WICBitmapEncoderNoCache)) && SUCCEEDED(write_frame(enc, img)) &&
             SUCCEEDED(enc->Commit()) && stream_bytes(mem, out);
    if (enc)
        enc->Release();
    if (mem)
        mem->Release();
    return ok;
}
