// The two fields of a picture by name, and the reductions and scaling of one
// chosen field.
//
// An interlaced frame (dwInterlacedFlag kInterlacedFrame, <kolvex/core/dib_base.h>)
// holds two video fields on alternating rows. Here they are named by picture
// rows counted from the top: Field::Even is rows 0, 2, 4..., Field::Odd rows
// 1, 3, 5..., as CreateInterpolatedFrame and CopyField name them. Rows are
// stored bottom-up, so which stored rows a field is depends on the parity of
// the height: of a frame of height H, picture row d is stored row H - 1 - d.
//
// CreateQuarter, CreateEighth and CreateScaled(src, w, h, kProgressiveFrame)
// keep one field of an interlaced src, always the same one (LibraryField). The
// functions below keep the field the caller names, whatever src's flag says,
// and give exactly the bytes the library's own field paths give for that
// field: through dst's own Create and its reduction or scaling steps (a class
// derived from CRZDIB2 that replaces them is obeyed), as the member operations
// call them.
//
// Ownership. dst receives a new data block of its own (made by its own
// hooks); src is only read: its block, header, flag and pixels stay as they
// were, and src may be dst itself or share dst's block.
//
// Threading. Runs on the caller's thread with no lock: src must not change
// and dst must not be used by another thread during a call.
//
// Failure. false, with dst unchanged, for an empty src (no header or no
// pixels), a top-down src (negative height) or a bit count other than 24 or
// 32. false when memory runs out, with dst empty (unchanged if src is dst and
// a locked copy of it could not be made); no exception reaches the caller.
// false, with dst empty, when a step that dst's class replaces fails.
#pragma once

#include <kolvex/core/dib_base.h>
#include <kolvex/dib/dib.h>
#include <kolvex/platform/export.h>

namespace kolvex {

// A picture's two fields, by picture rows counted from the top: Even = rows 0,
// 2, 4..., Odd = rows 1, 3, 5.... The value is the bOdd argument of
// CreateInterpolatedFrame and CopyField.
enum class Field { Even = 0, Odd = 1 };

// The field that the library's own operations keep of an interlaced frame of
// this height: the stored rows 1, 3, 5... counted from the bottom, which are
// Field::Even when the height is even and Field::Odd when it is odd.
KOLVEX_API Field LibraryField(int height);

// dst becomes the 2 x 2 (CreateQuarterOfField) or 4 x 4 (CreateEighthOfField)
// reduction of one field of src, as CreateQuarter and CreateEighth reduce an
// interlaced frame: src's width and height divided by 2 (4), truncated; output
// pixel x of output row y is the rounded-half-up mean, channel by channel
// (byte 3 of a 32-bit pixel too), of source pixels 2x and 2x + 1 (4x to
// 4x + 3) of the one (the two) rows of the field in source rows 2y, 2y + 1
// (4y to 4y + 3). The result is progressive, with src's bit count and no other
// header field of src (alpha flags clear).
KOLVEX_API bool CreateQuarterOfField(CRZDIB2& dst, const CRZDIB2& src, Field field);
KOLVEX_API bool CreateEighthOfField(CRZDIB2& dst, const CRZDIB2& src, Field field);

// dst becomes a width x height progressive nearest-neighbour scaling of the
// rows of one field of src, as CreateScaled(src, width, height,
// kProgressiveFrame) samples an interlaced frame: columns and rows by the
// centre walk of CreateScaled, each row then moved to the field's row of its
// pair of stored rows (2k + 1 for the library's field, held at src's last
// stored row, 2k for the other). At src's own size, too, only the field's rows
// are taken (CreateScaled copies every row there). A width or height of 0 is a
// valid empty result; a negative one fails like an empty src.
KOLVEX_API bool CreateScaledFromField(CRZDIB2& dst, const CRZDIB2& src, int width, int height,
                                      Field field);

}  // namespace kolvex
