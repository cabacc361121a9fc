// A sequence of file sources read as one stream. The chain does not own
// its sources; whoever made them destroys them after the chain.
//
// Thread-safe: the write pipeline reads on its own thread while another
// thread asks what kind of data the read ended in.
#pragma once
#include <cstdint>
#include <mutex>

#include "files/file.h"

class CQuorvane_FileChain {
 public:
  CQuorvane_FileChain();
  virtual ~CQuorvane_FileChain();
  CQuorvane_FileChain(const CQuorvane_FileChain&) = delete;
  CQuorvane_FileChain& operator=(const CQuorvane_FileChain&) = delete;

  void AddChainTail(CQuorvane_File* source);
  void AddChainHead(CQuorvane_File* source);
  // Rewinds every source; must run after the last addition and before the
  // first read.
  void SeekToBegin();
  // Reads the next length bytes; reading past the end throws exception 3
  // and leaves the read position where it was.
  virtual void Read(uint64_t length, void* buffer);
  virtual void GetSizeInUCHARs(uint64_t* size);

  // The flags of the source the last read ended in.
  bool GetCurrentIsAudioStuff();
  bool GetCurrentIsVideoStuff();
  CQuorvane_File* GetHead();

 protected:
  CQuorvane_File* m__PCQuorvane_File__Head = nullptr;
  CQuorvane_File* m__PCQuorvane_File__Tail = nullptr;
  CQuorvane_File* m__PCQuorvane_File__LastTouched = nullptr;
  std::mutex m__Lock;
  uint64_t m__ULONGLONG__SizeInUCHARs = 0;
};
