// The device-independent bitmap core: the extended header, the shared data
// block and CRZDIBBase2, the bitmap handle with copy-on-write sharing, creation,
// reshaping and the whole-image transforms.
//
// Ownership. A CRZDIBBase2 object is a small handle onto a reference-counted
// data block that holds the header and the pixels. Assignment and copy
// construction share the block; every operation that writes first gives the
// writer a private copy (_CopyBeforeWrite). Pointers returned by
// GetRzBmiHeader(), GetBitmapInfoHeader() and GetBytes() point into the shared
// block: they stay valid until this object's block is replaced or released, and
// a write through them reaches every sharer. Memory handed in through Attach()
// stays the caller's: the library writes into it in place while it is not
// shared but never frees it.
//
// Threading. The base class counts references with plain arithmetic: objects of
// a class that keeps the base counting hooks must not share blocks across
// threads. CRZDIB2 counts atomically. Nothing else is locked: two threads must
// not use one bitmap object at the same time, and a block's pixels are shared
// without protection by every object that refers to it.
//
// Failure. Operations answer true/false. Running out of memory is the
// CMemoryException* of <kolvex/platform/exceptions.h>; the creating operations
// (Create, Attach) catch it and answer false with the bitmap empty, while the
// copy-before-write and assignment let it reach the caller. Geometries with a
// negative width or height, or whose header + image + 32 bytes would not fit in
// 31 bits, are refused by Create and CreateOrModify (false, bitmap empty).
// A caller's extended header (Create, CreateOrModify, Attach and the matching
// constructors) must carry a biSize from 40 to 144: copies of a block read
// and write biSize header bytes, so any other size is refused (false) and
// never stored.
#pragma once

#include <kolvex/platform/exceptions.h>
#include <kolvex/platform/export.h>
#include <kolvex/platform/win32.h>

#include <cstddef>

// The extended bitmap header: a BITMAPINFOHEADER followed by the library's own
// words. 144 bytes, little-endian, every field at a fixed byte offset.
struct tagRZBMINFOHEADER {
  DWORD biSize;  // 144 in every header the library makes; 40..144 accepted from callers
  LONG biWidth;
  LONG biHeight;  // positive: rows stored bottom-up
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
  DWORD dwReserved1[3];
  DWORD dwAlphaFlag;  // bit 0: alpha invalid; bit 1: alpha premultiplied
  DWORD dwReserved2[7];
  DWORD dwInterlacedFlag;  // bit 0 set: progressive frame; clear: two interlaced fields
  DWORD dwReserved3[14];
};
using RZBMINFOHEADER = tagRZBMINFOHEADER;

static_assert(sizeof(tagRZBMINFOHEADER) == 144);
static_assert(offsetof(tagRZBMINFOHEADER, biSize) == 0);
static_assert(offsetof(tagRZBMINFOHEADER, biWidth) == 4);
static_assert(offsetof(tagRZBMINFOHEADER, biHeight) == 8);
static_assert(offsetof(tagRZBMINFOHEADER, biPlanes) == 12);
static_assert(offsetof(tagRZBMINFOHEADER, biBitCount) == 14);
static_assert(offsetof(tagRZBMINFOHEADER, biCompression) == 16);
static_assert(offsetof(tagRZBMINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(tagRZBMINFOHEADER, biXPelsPerMeter) == 24);
static_assert(offsetof(tagRZBMINFOHEADER, biYPelsPerMeter) == 28);
static_assert(offsetof(tagRZBMINFOHEADER, biClrUsed) == 32);
static_assert(offsetof(tagRZBMINFOHEADER, biClrImportant) == 36);
static_assert(offsetof(tagRZBMINFOHEADER, dwReserved1) == 40);
static_assert(offsetof(tagRZBMINFOHEADER, dwAlphaFlag) == 52);
static_assert(offsetof(tagRZBMINFOHEADER, dwReserved2) == 56);
static_assert(offsetof(tagRZBMINFOHEADER, dwInterlacedFlag) == 84);
static_assert(offsetof(tagRZBMINFOHEADER, dwReserved3) == 88);

namespace kolvex {
// The values of dwInterlacedFlag (only bit 0 counts). The names of the two
// fields, and the field operations of the kolvex:: extras, are in
// <kolvex/dib/fields.h>.
inline constexpr DWORD kInterlacedFrame = 0;   // two interlaced fields
inline constexpr DWORD kProgressiveFrame = 1;  // one progressive picture
}  // namespace kolvex

// The shared, reference-counted data block of CRZDIBBase2. Derived classes
// append fields (CRzDibData2); these five come first and in this order.
struct CRzDibBaseData2 {
  LONG nRefs;       // owners; -1 when locked (and in the empty block)
  bool bCreated;    // the buffer at pBmiHeader came from _IAllocDibData and is ours
  UINT nAllocSize;  // bytes last requested from _IAllocDibData (header + pixels)
  tagRZBMINFOHEADER* pBmiHeader;
  BYTE* pBytes;
};

class KOLVEX_API CRZDIBBase2 {
 public:
  // ---- Virtual operations, in their fixed virtual-table order. ----
  // The order is part of the binary interface: never reorder, never add.

  // 1. Releases this object's reference; the object is empty afterwards.
  virtual void Delete();
  // 2. Copies src's header and pixels into storage of this object's own.
  virtual const CRZDIBBase2& AssignCopy(const CRZDIBBase2& src);
  // 3. Shares src's block (or copies it when either side is locked).
  virtual const CRZDIBBase2& operator=(const CRZDIBBase2& src);
  // 4. Copies src's pixel bytes raw when this image is at least as large.
  virtual void CopyDibBytes(const CRZDIBBase2& src);
  // 5. Wraps a caller's 144-byte header and pixels. False, bitmap empty, when
  // out of memory or for a header whose biSize is outside 40..144.
  virtual bool Attach(tagRZBMINFOHEADER* pHeader, BYTE* pBits);
  // 6. The same as Delete().
  virtual void Detach();
  // 7-10. New storage of the given geometry; pixels are not initialised. From
  // a header: its geometry, then all 144 bytes of it; a null header, or one
  // whose biSize is outside 40..144, leaves the bitmap unchanged (false).
  virtual bool Create(WORD wBitCount, int nWidth, int nHeight, DWORD dwInterlaced);
  virtual bool Create(tagRZBMINFOHEADER* pHeader);
  virtual bool Create(BITMAPINFOHEADER* pbih, DWORD dwInterlaced);
  virtual bool Create(const CRZDIBBase2& src);
  // 11-12. This object becomes src at half (quarter) width and height: the
  // rounded mean of each 2 x 2 (4 x 4) block, or of field 1's rows only when
  // src is interlaced; the result is progressive. False with this object empty
  // for an empty src or no memory; false with the reduced geometry but
  // uncomputed pixels for a depth other than 24 or 32 bits. src may be *this.
  virtual bool CreateQuarter(const CRZDIBBase2& src);
  virtual bool CreateEighth(const CRZDIBBase2& src);
  // 13-16. Reshape in place when the storage allows, recreate otherwise. A
  // header whose biSize is outside 40..144 is refused like a bad geometry
  // (false, bitmap empty).
  virtual bool CreateOrModify(WORD wBitCount, int nWidth, int nHeight, DWORD dwInterlaced);
  virtual bool CreateOrModify(const BITMAPINFOHEADER& bih, DWORD dwInterlaced);
  virtual bool CreateOrModify(const tagRZBMINFOHEADER& header, DWORD dwInterlaced);
  virtual bool CreateOrModify(const CRZDIBBase2& src);
  // 17-18. This object becomes an nWidth x nHeight nearest-neighbour copy of src
  // (24 or 32 bits; any depth at src's own size). A zero width or height is a
  // valid empty result; a src without pixels to sample fails. On failure this
  // object is empty, except for an empty src, which leaves it unchanged.
  // src may be *this.
  virtual bool CreateScaled(const CRZDIBBase2& src, int nWidth, int nHeight, DWORD dwInterlaced);
  virtual bool CreateScaled(const CRZDIBBase2& src, int nWidth, int nHeight);
  // 19. A progressive frame of src's size built from one field of src, by line
  // doubling or (nInterpolation == 1) rounded row averages. src may be *this.
  virtual bool CreateInterpolatedFrame(const CRZDIBBase2& src, int bOdd, int nInterpolation);
  // 20. Copies one field of src into the same rows of this bitmap, which must
  // have src's geometry (else false, no row written).
  virtual bool CopyField(const CRZDIBBase2& src, int bOdd);
  // 21-23. Locking keeps a block private: a locked bitmap is copied, not shared.
  virtual bool IsLocked() const;
  virtual tagRZBMINFOHEADER* LockDIB();
  virtual void UnlockDIB();
  // 24-25. Fill the image: per pixel (UINT) or per byte (int).
  virtual void ClearDIB(UINT dwValue);
  virtual void ClearDIB(int nValue);
  // 26. Mirrored copy of src (24, 32 and 64 bits) into this bitmap, which must
  // have src's geometry. src may be this object or lie on the same pixel bytes:
  // it is then read from a temporary copy, whose memory exception reaches the
  // caller with this object's pixels unchanged.
  virtual bool Mirror(int bHorizontal, int bVertical, const CRZDIBBase2& src);
  // 27-28. Nearest-neighbour scaling into this object, which must already be
  // nWidth x nHeight at src's bit count (else false, nothing written), or of
  // this object in place (new storage through this object's own hooks; on
  // failure the object is unchanged). The index tables live only for the call.
  virtual bool Scale(const CRZDIBBase2& src, int nWidth, int nHeight);
  virtual bool Scale(int nWidth, int nHeight);

 protected:
  // 29-39. Storage hooks: every operation reaches memory through these, so a
  // derived class that replaces them gets its own kind of block everywhere.
  //
  // The order a replacement sees when _CopyBeforeWrite gives a writer its own
  // copy of a shared block: the new block is made first (_IAllocData, then
  // _IAllocDibData for header and pixels, which are copied into it) while this
  // object still holds its reference to the old block, and only then is that
  // reference given up: _InterlockedDecrement on the old block, and _IDelete
  // when its other owners let go meanwhile, each called while pData names the
  // old block and restored to the new one afterwards. Giving the reference up
  // first would let a release on another thread free the source in the middle
  // of the copy (CRZDIB2 counts atomically). When an allocation raises the
  // memory exception, the reference is given up the same way before it reaches
  // the caller: the object is then empty if _IAllocData failed, or holds the
  // new block without header or pixels if _IAllocDibData failed, and the old
  // block is intact for its other owners. _AllocBeforeWrite (for AssignCopy)
  // releases first and allocates afterwards: its source is another object.
  virtual void _ISetDataNil();
  virtual void _IAllocData();
  virtual void _IFreeData();
  virtual void _IAllocDibData(UINT nSize);
  virtual void _IFreeDibData();
  virtual LONG _InterlockedIncrement(LONG* pCount);
  virtual LONG _InterlockedDecrement(LONG* pCount);
  virtual void _IDelete();
  virtual bool _CopyBeforeWrite();
  virtual bool _AllocBeforeWrite(const CRZDIBBase2& src);
  // Whether packed code may run: asked once per call by the two
  // interpolating frame workers and by nothing else. The bytes are the same
  // whatever it answers.
  virtual bool _UseMMXInstructions();
  // 40-41. Reduction workers; the destination must already have the reduced geometry.
  virtual bool _GetQuarterDIB(const CRZDIBBase2& src, int nField);
  virtual bool _GetEighthDIB(const CRZDIBBase2& src, int nField);
  // 42-51. Field and frame workers.
  virtual void __FrameFromField0ReverseNoInt(const CRZDIBBase2& src);
  virtual void __FrameFromField1ReverseNoInt(const CRZDIBBase2& src);
  virtual void __FrameFromField0ReverseBiInt(const CRZDIBBase2& src);
  virtual void __FrameFromField1ReverseBiInt(const CRZDIBBase2& src);
  virtual bool _GetOddFrame(const CRZDIBBase2& src, int nSwap, int nInterpolation);
  virtual bool _GetEvenFrame(const CRZDIBBase2& src, int nSwap, int nInterpolation);
  virtual void __Field0ToField0Reverse(const CRZDIBBase2& src);
  virtual void __Field1ToField1Reverse(const CRZDIBBase2& src);
  virtual bool _OddFieldToOddField(const CRZDIBBase2& src, int nSwap);
  virtual bool _EvenFieldToEvenField(const CRZDIBBase2& src, int nSwap);
  // 52-54. Scaling steps; the tables live only for one Scale(src, w, h) call.
  virtual bool _InitScaling(int nDstWidth, int nDstHeight, int nSrcWidth, int nSrcHeight,
                            int nRowMode);
  virtual void _DeleteScaling();
  virtual bool _DoScaling(const CRZDIBBase2& src);

 public:
  // ---- Header accessors (not virtual). Safe on an empty bitmap: ----
  bool IsValidDIB() const;
  tagRZBMINFOHEADER* GetRzBmiHeader() const;
  BITMAPINFOHEADER* GetBitmapInfoHeader() const;
  void GetRzBmiHeader(tagRZBMINFOHEADER& out) const;
  void GetBitmapInfoHeader(BITMAPINFOHEADER& out) const;
  UINT GetRzBmiSize() const;
  BYTE* GetBytes() const;
  UINT GetInterlacedFlag() const;
  bool IsNonInterlaced() const;
  bool IsInterlaced() const;
  UINT GetAlphaFlag() const;
  bool IsAlphaInvalid() const;
  bool IsAlphaPremultiplied() const;
  bool IsDIBEmpty() const;
  bool IsAttached() const;
  bool IsCreated() const;

  // ---- Geometry: these read the header without looking; call them only on a
  // bitmap that has one (IsValidDIB()). ----
  WORD DIBBitCount() const;
  int DIBWidth() const;
  int DIBHeight() const;
  int DIBBytesPerLine() const;
  int DIBSize() const;
  int DIBBytesPerPixel() const;
  bool DIBsEqual(const CRZDIBBase2& other) const;

  // ---- Header setters; each does nothing on a bitmap without a header. ----
  void SetInterlacedFlag(DWORD dwFlag);             // private copy first
  void ncbwSetAlphaFlag(DWORD dwFlag);              // in place, seen by every sharer
  void SetAlphaValid(bool bValid);                  // true: in place; false: private copy first
  void SetAlphaPremultiplied(bool bPremultiplied);  // true: in place; false: private copy first

 protected:
  CRZDIBBase2();
  CRZDIBBase2(const CRZDIBBase2& src);
  explicit CRZDIBBase2(tagRZBMINFOHEADER* pHeader);
  CRZDIBBase2(tagRZBMINFOHEADER* pHeader, BYTE* pBits);

  CRzDibBaseData2* _IGetData() const { return pData; }
  // True for the static empty block, which is never counted, freed or written.
  static bool _IsNil(const CRzDibBaseData2* pBlock) { return pBlock == &_dibDataNil; }
  // A block's reference count as one acquiring atomic load: where the counting
  // hooks are atomic, other owners change it from other threads at any time,
  // and an owner that finds itself alone must see everything they did first.
  static LONG _RefCount(const CRzDibBaseData2* pBlock) {
    return __atomic_load_n(&pBlock->nRefs, __ATOMIC_ACQUIRE);
  }
  // Drops one reference to pBlock, which need not be this object's current
  // block, through this object's own hooks; the current block is kept.
  void _ReleaseBlock(CRzDibBaseData2* pBlock);

  // The one factory of data blocks: every creation makes its block here. The
  // object's data becomes a new block of its own kind (_IAllocData) with one
  // reference; the caller has released the old block or holds it elsewhere.
  // Without a buffer (for Attach):
  void _NewBlock();
  // With a created buffer (_IAllocDibData) for a header of nHeaderBytes
  // followed by nImageBytes of pixels, pBytes nHeaderBytes in, and never
  // smaller than a whole extended header; header and pixels are left for the
  // caller to write:
  void _NewBlock(UINT nHeaderBytes, std::size_t nImageBytes);
  // With a header of the library's own (144 bytes: info's 40, the rest zero,
  // biSize 144, the interlaced flag dwInterlaced) followed by nImageBytes:
  void _NewBlock(const BITMAPINFOHEADER& info, DWORD dwInterlaced, std::size_t nImageBytes);
  // A hook's memory exception, or one for a buffer beyond 31 bits, reaches the
  // caller; the object then holds the old block if the hook making the new
  // one failed, and otherwise the new block as far as it was made.

  CRzDibBaseData2* pData;  // never null: a block of our own kind or &_dibDataNil
  LONG* pColumnMap;        // scaling tables, null outside a scaling call
  LONG* pRowMap;

  // The empty block: nRefs -1, no buffer. Lives in read-only storage, so a
  // stray write faults instead of corrupting every empty bitmap.
  static const CRzDibBaseData2 _dibDataNil;

 private:
  // Lends this object's block as a read-only source while the object itself
  // starts empty, so that an operation reshaping this object can read its own
  // former pixels (core/own_block.h).
  class OwnBlockSource;
};
