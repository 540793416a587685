// The reference count of a heap COM object that deletes itself with its last reference.
// Portable, so that host tests run it.
#pragma once

class RefCount {
 public:
  // Once the count has reached 0 the object is being destroyed: a reference taken and given
  // back while its destructor runs (an event or tick reaching it while the client's sink is
  // let go, which can pump messages) must neither revive it nor delete it a second time.
  unsigned long Add() { return n_ == 0 ? 0 : ++n_; }
  template <class T>
  unsigned long Drop(T* self) {
    if (n_ == 0) return 0;
    const unsigned long n = --n_;
    if (n == 0) delete self;
    return n;
  }
  unsigned long Count() const { return n_; }

 private:
  unsigned long n_ = 1;
};
