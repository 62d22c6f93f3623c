// The Windows bitmap: CRZDIB2, its data block CRzDibData2 and the cache key
// record CDIBCacheInfo.
//
// Storage. A CRZDIB2 keeps header and pixels in one of two kinds of storage:
//   - plain storage: one region of page-granular virtual memory (VirtualAlloc),
//     made by every creation, copy-before-write and reallocating AssignCopy;
//   - a DIB section: made only by CreateDIBSection. The header lies in
//     page-granular memory, the pixels in the section's bits, and the block
//     owns a memory DC (a heap CDC) with the section selected into it.
// Attached bitmaps (Attach) use the caller's memory and are neither.
//
// Ownership. Everything the class adds lives in the data block, so objects that
// share a block share the DIB section, its DC and the cache record with the
// pixels. The block owns the section, the DC and the CDC object; they are torn
// down with the block's last owner, never earlier. GetDIBSectionDC() answers
// the block's CDC: draw with it, never delete it. Assign CRZDIB2 objects only
// from other CRZDIB2 objects, so that every object holds a CRzDibData2.
//
// Threading. The reference count is atomic: objects on different threads may
// share and release one block. Nothing else is locked: a source must not be
// released by another thread while it is being copied, and the header, the
// pixels and the DC are shared without protection by every sharer. Drawing a
// bitmap, and capturing from the DC of its DIB section, are reads of its
// block: no platform call is handed the shared header (each gets a private
// copy, biSize 40, with any colour table), so sharers on other threads may
// copy, draw or read the block meanwhile. A DIB section is drawn from its block's one memory DC;
// Windows DCs serve one thread at a time, so threads that draw one DIB section at once need the
// caller's own serialisation there.
//
// Failure. Running out of memory inside the storage hooks raises the
// CMemoryException*; the creating operations catch it and answer false.
// CreateDIBSection answers false for every failure (memory, GDI) and leaves the
// bitmap empty with nothing allocated.
#pragma once

#include <kolvex/core/dib_base.h>
#include <kolvex/platform/export.h>
#include <kolvex/platform/mfc.h>
#include <kolvex/platform/win32.h>

#include <cstddef>

// The client's key of a picture. All zero is the empty record (bInfoValid 0),
// which compares equal to nothing. The layout is fixed: clients fill it.
struct KOLVEX_API CDIBCacheInfo {
  BYTE bInfoValid;  // any non-zero value: the record is set
  UINT nFlags;
  UINT nFrame;
  DWORD dwData1;
  DWORD dwKey1;
  int nFrameMode;  // 1: the picture is the same for every frame
  DWORD dwKey2;
  DWORD dwKey3;
  DWORD dwKey4;
  DWORD dwData2;
  DWORD dwData3;
  tagRZBMINFOHEADER rzHeader;  // the picture's header; width, height, bit count
                               // and interlaced flag take part in comparisons

  // Both records set and equal in nFlags, nFrame, the key words, nFrameMode
  // and the four header fields.
  bool EqualInfo(const CDIBCacheInfo& other) const;
  // The same without nFrame.
  bool EqualImage(const CDIBCacheInfo& other) const;
};

static_assert(offsetof(CDIBCacheInfo, bInfoValid) == 0);
static_assert(offsetof(CDIBCacheInfo, nFlags) == 4);
static_assert(offsetof(CDIBCacheInfo, nFrame) == 8);
static_assert(offsetof(CDIBCacheInfo, dwData1) == 12);
static_assert(offsetof(CDIBCacheInfo, dwKey1) == 16);
static_assert(offsetof(CDIBCacheInfo, nFrameMode) == 20);
static_assert(offsetof(CDIBCacheInfo, dwKey2) == 24);
static_assert(offsetof(CDIBCacheInfo, dwKey3) == 28);
static_assert(offsetof(CDIBCacheInfo, dwKey4) == 32);
static_assert(offsetof(CDIBCacheInfo, dwData2) == 36);
static_assert(offsetof(CDIBCacheInfo, dwData3) == 40);
static_assert(offsetof(CDIBCacheInfo, rzHeader) == 44);
static_assert(sizeof(CDIBCacheInfo) == 188);

// The data block of CRZDIB2: the base fields, then the DIB section, its memory
// DC, the bitmap that selecting the section displaced, and the cache record.
struct CRzDibData2 : CRzDibBaseData2 {
  HBITMAP hDIBSection;  // null unless the pixels are in a DIB section
  CDC* pDIBSectionDC;   // owned; the section is selected into its DC
  HBITMAP hOldBitmap;   // selected back before the DC is deleted
  CDIBCacheInfo cacheInfo;
};

class KOLVEX_API CRZDIB2 : public CRZDIBBase2 {
 public:
  // ---- Construction (every constructor works with this class's hooks). ----
  CRZDIB2();
  // Shares src's block (a locked src is copied).
  CRZDIB2(const CRZDIB2& src);
  // Empty for null; otherwise created from pHeader's geometry and flag, then
  // all 144 header bytes copied. Empty if the creation fails or pHeader's
  // biSize is outside 40..144.
  explicit CRZDIB2(tagRZBMINFOHEADER* pHeader);
  // Attaches the caller's header and pixels when both are non-null (and the
  // header's biSize lies in 40..144; otherwise empty).
  CRZDIB2(tagRZBMINFOHEADER* pHeader, BYTE* pBits);

  // Not virtual. Shares src's block (the cache record comes with it), or copies
  // header and pixels through the base AssignCopy (without the cache record)
  // when either side is locked.
  CRZDIB2& operator=(const CRZDIB2& src);
  // The base overload stays callable beside AssignCopy(const CRZDIB2&).
  using CRZDIBBase2::AssignCopy;

  // ---- Virtual operations appended to the base's, in their fixed order. ----

  // 55-56 (two Itanium slots; the base has no virtual destructor). Releases
  // this object's reference; the last owner tears down the DIB section.
  virtual ~CRZDIB2();
  // 57. The base copy of header and pixels, then src's cache record (all zero
  // for an empty src; nothing when this object stays empty).
  virtual const CRZDIB2& AssignCopy(const CRZDIB2& src);
  // 58. Replaces the contents with a DIB section of pbih's format (pbih must not
  // be null) and its own memory DC. False, bitmap empty, on any failure.
  virtual bool CreateDIBSection(BITMAPINFOHEADER* pbih, DWORD dwInterlaced);
  // 59-60. Loads a bitmap resource of type 8000 (a bitmap file image whose
  // pixels follow the 40-byte info header and any colour table); module null:
  // the instance of the module state; only the low 16 bits of nId count. The
  // object is emptied first. The pixels keep their bit depth; a colour table
  // is skipped, top-down rows are flipped, bytes behind the image are kept.
  // False, bitmap empty, for a missing resource, for one shorter than its
  // headers and image, with zero or negative width, zero height, a bit count
  // outside 1, 4, 8, 16, 24, 32, compression or an image over 31 bits, and
  // when memory runs out.
  virtual bool CreateFromResource(const char* pszName, HINSTANCE hModule);
  virtual bool CreateFromResource(UINT nId, HINSTANCE hModule);
  // 61-62. Capture an area of the display or of a DC as a 24-bit progressive
  // bitmap; a null area is (0, 0, screen width, screen height). False with the
  // object unchanged for a null DC, an empty area or when GDI cannot make its
  // temporary DC or bitmap; false and empty when the conversion fails. A memory
  // exception of the creation reaches the caller. Every temporary DC and
  // bitmap is released before the call returns.
  virtual bool CreateFromDesktop(RECT* pArea);
  virtual bool CreateFromDC(HDC hDC, RECT* pArea);
  // 63-64. Pixel filters, written in place after this object's data is made
  // its own (whose memory exception reaches the caller). Each byte of a pixel
  // is its own channel. True at once for a zero width or height; false, bytes
  // unchanged, for no pixels, a negative width or an unsupported depth.
  // Brightness (24, 32 bits): level 128 keeps every value, each step above
  // darkens by 1 and each below brightens, levels beyond 0..255 act as those
  // ends; a 32-bit pixel keeps its fourth byte. A top-down height changes no row.
  virtual bool AdjustBrightness(int nLevel);
  // The 3 x 3 median of src (8, 24, 32 bits; all four bytes at 32), which must
  // have this bitmap's bit count, width and height; the first and last rows
  // and the first and last pixels of each row are copied. src may be this
  // object or lie on its pixels. A top-down height copies the first stored row.
  virtual bool Median3x3(const CRZDIB2& src);
  // 65-67. Draw rcSrc of the bitmap into rcDst of dc (the shorter overloads
  // pass the whole image, through the virtual table). A DIB section is copied
  // from its memory DC (BitBlt for equal sizes; otherwise StretchBlt, leaving
  // dc in COLORONCOLOR); other bitmaps go through DrawDib, 8-bit ones as grey
  // levels. Rectangles reach the platform unchecked; the palette is not used.
  // False for a bitmap without header or pixels, when DrawDib cannot open or
  // the platform call fails. An 8-bit bitmap's grey description is allocated
  // first: its memory exception reaches the caller before anything is drawn.
  // Nothing outlives the call. The bitmap's header is never written: the
  // platform gets a private 40-byte copy of it.
  virtual bool Draw(CDC& dc, const CRect& rcDst, const CRect& rcSrc, CPalette* pPalette);
  virtual bool Draw(CDC& dc, const CRect& rcDst, CPalette* pPalette);
  virtual bool Draw(CDC& dc, CPalette* pPalette);
  // 68-69. Draw the whole bitmap (or the alpha channel of a 32-bit one, as
  // grey: 255 white, 0 black) stretched into a rectangle of the desktop
  // window, in screen coordinates. An empty rectangle means the natural size
  // at (left, top) for DrawToDesktop and at (0, 0) for the alpha view.
  // DrawToDesktop fails as Draw does; DrawDIBsAlphaToDesktop answers false for
  // anything but a 32-bit bitmap and for any failure or exception inside it,
  // and never throws.
  virtual bool DrawToDesktop(int nLeft, int nTop, int nRight, int nBottom);
  virtual bool DrawDIBsAlphaToDesktop(int nLeft, int nTop, int nRight, int nBottom);
  // 70. Writes a bitmap file (file header, 40-byte info header, colour-table
  // area, pixel rows as stored) at the file's current position, which it
  // neither moves back nor flushes. Colour-table areas (1, 4, 8 bits, or
  // biClrUsed entries) hold a grey ramp and zeros. False, nothing written, for
  // a bitmap without header or pixels or with a geometry that no file can
  // hold; false when a write throws a framework exception (what was written
  // stays). The bitmap is never changed.
  virtual bool SaveAs(CFile& file);
  // 71-73. The shared image cache (capacity and accounting below). CacheThis
  // keeps this bitmap's block under its record: false for an empty or locked
  // bitmap, a record not set, capacity 0 or no memory for the entry (nothing
  // is evicted then); true also
  // when an entry with an equal record is there (it counts a hit). UnCacheThis
  // removes the first entry matching the record. LookupCache makes this bitmap
  // share the block of the first entry matching info (a locked bitmap gets a
  // copy); false, bitmap unchanged, on a miss. Entries are matched by the
  // entry's own nFrameMode (1: nFrame is ignored). Running out of memory while
  // the cache itself is made reaches the caller; a later call tries again.
  virtual bool CacheThis() const;
  virtual void UnCacheThis() const;
  virtual bool LookupCache(const CDIBCacheInfo& info);

  // ---- Bitmap files (not virtual). ----
  // Load the bitmap file image at data[0, size), in the file at `path`, or in
  // `file` from its current position to its end. Read: the 12-byte core
  // header (3-byte colour-table entries; its table may end early, at the
  // pixels), OS/2 2.x headers of 16 to 64 bytes (the classic header's fields
  // they hold; the rest ignored) and the 40, 52, 56, 108 and 124-byte Windows
  // headers; 1, 2, 4, 8, 16, 24 and 32 bits per pixel; bottom-up or top-down
  // rows; BI_RGB; BI_RLE8 and BI_RLE4 (bottom-up only; pixels that a delta or
  // an early end of bitmap skips take palette entry 0; runs may cover a row's
  // padding, which is dropped); BI_BITFIELDS and BI_ALPHABITFIELDS at 16 and
  // 32 bits with any contiguous, non-overlapping masks in any order. Colour
  // tables: indices past a shorter table read entry 0, entries past the
  // depth's indices are skipped. The result:
  //   - an 8-bit file without a colour table or with the whole grey ramp:
  //     8-bit values;
  //   - a file with an alpha mask: 32 bits, blue, green, red, alpha, alpha
  //     flag valid;
  //   - a 32-bit BI_RGB file: its pixels as they are, alpha flag invalid (the
  //     fourth byte carries no alpha);
  //   - 24-bit BI_RGB: as it is; every other file: 24-bit colours.
  // Channels narrower or wider than 8 bits become 8 by one rule, bit
  // replication: the bits repeated from the top (5 bits: v << 3 | v >> 2),
  // the top 8 kept of a wider one. The result is a progressive bitmap in
  // plain storage with a header of the library's own (rows bottom-up,
  // positive height). Refused (false, and the bitmap is empty): anything
  // short or inconsistent, a run-length stream that would leave the image or
  // ends before it, embedded JPEG or PNG, 64 bits per pixel, OS/2 Huffman
  // and RLE24 compression, an image over 31 bits, a file over 2^31 bytes, and
  // a run-length image more than 1024 times larger than its file plus 1 MiB
  // (checked before anything is allocated). Nothing outside the given bytes
  // is read. Out of memory: false, empty. The previous contents are released
  // in every case. Not thread-safe on one object; data is only read.
  bool CreateFromMemory(const void* data, std::size_t size);
  // False also when the file cannot be opened or read, or is not a regular
  // file (a named pipe is refused without waiting for a writer).
  bool CreateFromFile(const char* path);
  // The file is read once, with file.Read, up to its end; a file that is not
  // regular (CFile::IsRegularFile: a pipe, device or directory) is refused
  // before anything is read, so no call waits on another program. *ppszProblem
  // (when not null) is set to null when loaded, and otherwise to why not: a
  // phrase of kolvex::BitmapFileProblem(), "not a regular file", "not a bitmap
  // file (too large)" or "out of memory" (static strings). A failing read
  // throws its CFileException* to the caller, with the bitmap empty and
  // *ppszProblem untouched.
  bool CreateFromFile(CFile& file, const char** ppszProblem = nullptr);

  // ---- DIB section (not virtual). Null / false on an empty bitmap. ----
  bool IsDIBSection() const;  // header, pixels and a DIB section
  HBITMAP GetDIBSection() const;
  CDC* GetDIBSectionDC() const;  // owned by the block
  HBITMAP GetOldBitmap() const;

  // ---- Cache record (not virtual). An empty bitmap reads one static all-zero
  // record, and SetCacheInfo does nothing on it. ----
  const CDIBCacheInfo& GetCacheInfo() const;
  // Copies info over the block's record in place, seen by every sharer. Once
  // the cache exists the write holds its lock, so lookups on other threads
  // never read a cached block's record half-written.
  void SetCacheInfo(const CDIBCacheInfo& info);
  bool EqualCacheInfo(const CDIBCacheInfo& info) const;
  // The frame-independent comparison when this record's nFrameMode is 1.
  bool EqualCacheImage(const CDIBCacheInfo& info) const;
  unsigned int GetCacheInfoFlags() const;
  unsigned int GetCacheInfoFrame() const;

  // ---- Capacity of the shared image cache (static, not virtual). ----
  // The cache is one per process. It starts with capacity 0 and keeps nothing
  // until a client sets a capacity: CacheThis answers false and LookupCache
  // finds nothing. With a capacity, each entry counts its bitmap's
  // ((bits x width + 31) / 32) x height x 4 bytes in whole kilobytes (below
  // 1024 bytes counts 0); when an entry would not fit, the least-looked-up
  // entries are evicted first, ties going to the one cached earliest. A single
  // bitmap larger than the capacity is still kept, alone.
  // Ownership: an entry holds one reference to its bitmap's data block, so the
  // pixels stay alive after the client lets go; entries left at process exit
  // are released then.
  // Threading: any thread may call these and the cache operations; one lock
  // guards the cache, and evicting an entry releases its block under that lock.
  // Failure: SetCacheCapacityKB answers false, changing nothing, for a negative
  // capacity, when out of memory while making the cache, or while another
  // thread is making it at that very moment (call again).

  // Sets the capacity in kilobytes and at once evicts down to it; 0 empties
  // the cache and keeps it empty.
  static bool SetCacheCapacityKB(int nCapacityKB);
  // The capacity in kilobytes (0 until set).
  static int GetCacheCapacityKB();
  // The kilobytes the entries count together; never below 0.
  static int GetCacheUsedKB();

 protected:
  // The current block as the derived kind. Never read its added fields on the
  // empty block (_IsNil): that block carries the base fields only.
  CRzDibData2* _IGetData() const { return static_cast<CRzDibData2*>(CRZDIBBase2::_IGetData()); }

  // Storage hooks: page-granular memory, atomic counts, DIB-section teardown.
  // _CopyBeforeWrite keeps the order of the base class (the copy is made
  // before the old block's reference is given up) and adds a guard reference
  // around it: _InterlockedIncrement on the old block first and a matching
  // release last, so that the old block and its cache record stay alive
  // until the record is copied too, even if every other owner lets go
  // meanwhile. A class that replaces the counting hooks sees both calls.
  void _IAllocData() override;
  void _IFreeData() override;
  void _IAllocDibData(UINT nSize) override;
  void _IFreeDibData() override;
  LONG _InterlockedIncrement(LONG* pCount) override;
  LONG _InterlockedDecrement(LONG* pCount) override;
  void _IDelete() override;
  bool _CopyBeforeWrite() override;
  bool _AllocBeforeWrite(const CRZDIBBase2& src) override;
  bool _UseMMXInstructions() override;
};
