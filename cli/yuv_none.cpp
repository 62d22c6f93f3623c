// The tool in a build without libyuv: no YUV frames. The pipe refuses the
// formats before a frame is read; the conversions fail as they would.

#include "files.h"
#include "yuv.h"

namespace kolvex::cli {

const char* YuvMissing() { return "needs a build with libyuv (Debian: libyuv-dev)"; }

void PrepareYuv() {}

void YuvToRows(RawLayout, const BYTE*, CRZDIB2&) { throw FileError("YUV frames", YuvMissing()); }
void RowsToYuv(RawLayout, const CRZDIB2&, BYTE*) { throw FileError("YUV frames", YuvMissing()); }

}  // namespace kolvex::cli
