#include "windows/JpegImage.h"

#include "platform/Form.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace {

struct ErrorJump {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
  // Back to the decoder's set-up point: libjpeg must not end the program.
  std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}

void Quiet(j_common_ptr) {}

// Plain C-style on purpose: nothing with a destructor lives between setjmp and longjmp.
HBITMAP Decode(const unsigned char* data, size_t size) {
  jpeg_decompress_struct cinfo;
  ErrorJump err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnJpegError;
  err.pub.output_message = Quiet;
  HBITMAP volatile bitmap = nullptr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;  // the DIB's byte order
  jpeg_start_decompress(&cinfo);
  const int width = static_cast<int>(cinfo.output_width);
  const int height = static_cast<int>(cinfo.output_height);
  BITMAPINFO bi;
  std::memset(&bi, 0, sizeof bi);
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down, as libjpeg delivers the rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    jpeg_destroy_decompress(&cinfo);
    return nullptr;
  }
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = static_cast<JSAMPROW>(bits) + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  GdiFlush();
  return bitmap;
}

}  // namespace

OwnedBitmap DecodeJpeg(const unsigned char* data, size_t size) {
  if (!data || size == 0) return OwnedBitmap();
  return OwnedBitmap(Decode(data, size));
}

OwnedBitmap LoadJpegResource(int id) {
  HINSTANCE inst = AppInstance();
  HRSRC res = FindResourceW(inst, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!res) return OwnedBitmap();
  HGLOBAL mem = LoadResource(inst, res);
  const auto* data = mem ? static_cast<const unsigned char*>(LockResource(mem)) : nullptr;
  return DecodeJpeg(data, SizeofResource(inst, res));
}
