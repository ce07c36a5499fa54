// Assertions of broken preconditions and internal invariants.
//
// MICA_ASSERT-free by design: callers write `Mica::check(cond, "text")` or `Mica::fail("text")`
// with the system's exact text. The handler decides what happens: the default prints the text
// to stderr and aborts (a router agent must not run on with broken invariants); tests and the
// simulator install the throwing handler, which raises Mica::AssertionError carrying the text.
#pragma once

#include <stdexcept>
#include <string>

namespace Mica {

class AssertionError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

using AssertionHandler = void (*)(const char* text);

// Installs `handler` (null restores the aborting default) and returns the previous one.
AssertionHandler assertionHandlerIs(AssertionHandler handler) noexcept;
void abortingAssertionHandler(const char* text);
void throwingAssertionHandler(const char* text);

// Calls the handler with `text`. Does not return unless a custom handler does.
void fail(const char* text);

inline void check(bool condition, const char* text) {
  if (!condition) [[unlikely]]
    fail(text);
}

// Installs the throwing handler for its lifetime (tests, the simulator).
class ThrowingAssertions {
 public:
  ThrowingAssertions() : previous_(assertionHandlerIs(&throwingAssertionHandler)) {}
  ~ThrowingAssertions() { assertionHandlerIs(previous_); }
  ThrowingAssertions(const ThrowingAssertions&) = delete;
  ThrowingAssertions& operator=(const ThrowingAssertions&) = delete;

 private:
  AssertionHandler previous_;
};

}  // namespace Mica
