// A JPEG picture decoded with libjpeg into a 24-bit DIB section.
#pragma once
#include <windows.h>

#include <cstddef>

#include "platform/Form.h"

inline BOOL WINAPI FreeBitmap(HBITMAP h) { return DeleteObject(h); }
using OwnedBitmap = Owned<HBITMAP, FreeBitmap>;

// The decoded picture, or an empty bitmap when the data is no JPEG libjpeg can read.
OwnedBitmap DecodeJpeg(const unsigned char* data, size_t size);

// The JPEG resource of type RCDATA with this id in the program, decoded.
OwnedBitmap LoadJpegResource(int id);
