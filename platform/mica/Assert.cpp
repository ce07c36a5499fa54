#include "platform/mica/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace Mica {
namespace {
AssertionHandler current = &abortingAssertionHandler;
}

AssertionHandler assertionHandlerIs(AssertionHandler handler) noexcept {
  AssertionHandler previous = current;
  current = handler ? handler : &abortingAssertionHandler;
  return previous;
}

void abortingAssertionHandler(const char* text) {
  std::fprintf(stderr, "assertion failed: %s\n", text);
  std::fflush(stderr);
  std::abort();
}

void throwingAssertionHandler(const char* text) { throw AssertionError(text); }

void fail(const char* text) {
  current(text);
  // A handler that returns leaves the caller on a broken precondition: stop here.
  abortingAssertionHandler(text);
}

}  // namespace Mica
