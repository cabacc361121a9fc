// The internal call that fills a DiscInfo object with the three engine
// records. It is no part of the type library: the Device uses it after it
// has read the records, and compiled test clients use it with records of
// their own. In-process, free-threaded, without marshaling.
#pragma once
#include <unknwn.h>

struct IQuorvaneDiscInfoInit : public IUnknown {
  // disc: 33 bytes; track: 28 bytes (track 255); toc: 5612 bytes. The
  // records are copied. S_OK, or E_POINTER for a missing record.
  virtual HRESULT STDMETHODCALLTYPE Initialize(const unsigned char* disc, const unsigned char* track,
                                               const unsigned char* toc, long discType, long trackValid,
                                               long tocValid) = 0;
};
__CRT_UUID_DECL(IQuorvaneDiscInfoInit, 0x2674bbef, 0x16f2, 0x4f52, 0x88, 0x5b, 0x8c, 0xe9, 0xb5, 0xc6, 0x5b, 0xda)
