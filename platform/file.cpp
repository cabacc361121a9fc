// What File does the same on every system: owning and handing over its
// handle, and the threads' read stop tests.
#include "platform/file.h"

namespace qv::plat {

namespace {
thread_local ReadStopScope::Test t_stopTest = nullptr;
thread_local const void* t_stopContext = nullptr;
}  // namespace

ReadStopScope::ReadStopScope(Test test, const void* context)
    : previousTest_(t_stopTest), previousContext_(t_stopContext) {
  t_stopTest = test;
  t_stopContext = context;
}

ReadStopScope::~ReadStopScope() {
  t_stopTest = previousTest_;
  t_stopContext = previousContext_;
}

bool ReadStopRequested() { return t_stopTest != nullptr && t_stopTest(t_stopContext); }
bool ReadStopInstalled() { return t_stopTest != nullptr; }

File::~File() { Close(); }
File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

}  // namespace qv::plat
