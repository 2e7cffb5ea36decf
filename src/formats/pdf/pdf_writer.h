#pragma once
#include <string>

#include "core/stream.h"
#include "formats/bmp/bitmap.h"

namespace pellavo {

// Writes a one-page PDF 1.2 document whose page is exactly the image (one pixel per point),
// holding the pixels as uncompressed 8-bit RGB. The layout is fixed: catalog, page tree, page,
// image and page contents as objects 1 to 5. The fourth byte of 32-bit pixels never reaches
// the file.

// Writes the document at the stream's position; offsets count from there. Raises an
// Exception before writing anything when the document would reach 2 GiB, which its 32-bit
// offsets cannot describe.
void WritePdf(const TBitmap& bitmap, TStream& out);

// Writes the document to SaveName, replacing any file of that name only once the document is
// complete. Raises "Bitmap is nil" or "SaveName is nil" before creating anything.
void BmpToPdf(const TBitmap* Bitmap, const std::string& SaveName);

}  // namespace pellavo
