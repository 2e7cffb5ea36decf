#pragma once
#include "core/errors.h"

namespace pellavo {

// A transfer was given a missing surface.
class EBitmapException : public Exception {
 public:
  using Exception::Exception;
};

// A transfer's source rectangle reaches outside its surface.
class ESrcInvalidException : public Exception {
 public:
  using Exception::Exception;
};

// A surface could not get its pixel memory.
class EOutOfResources : public EOutOfMemory {
 public:
  using EOutOfMemory::EOutOfMemory;
};

// A broken pairing of calls, such as EndUpdate without BeginUpdate.
class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* kDstBitmapNil = "Destination bitmap is nil";
inline constexpr const char* kSrcBitmapNil = "Source bitmap is nil";
inline constexpr const char* kSrcRectInvalid = "Source rectangle is invalid";
inline constexpr const char* kCantAllocDib = "Can't allocate the DIB handle";
// The other two texts of a failed allocation belong to the platform drawing context, which
// this surface does not have; they are kept so that every text of the family is defined once.
inline constexpr const char* kCantCreateDc = "Can't create compatible DC";
inline constexpr const char* kCantSelectObject = "Can't select an object into DC";
inline constexpr const char* kUnpairedEndUpdate = "Unpaired TThreadPersistent.EndUpdate";

}  // namespace pellavo
