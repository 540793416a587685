// A JPEG picture decoded with libjpeg into a 24-bit DIB section.
#pragma once
#include <cstddef>

#include "platform/Owned.h"

// The decoded picture, or an empty bitmap when the data is no JPEG libjpeg can read.
OwnedBitmap DecodeJpeg(const unsigned char* data, size_t size);

// The JPEG resource of type RCDATA with this id in the program, decoded.
OwnedBitmap LoadJpegResource(int id);
