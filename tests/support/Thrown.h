// The text of an exception a test expects: thrownText<E>(f) runs f and returns what() of the E
// it throws; when f throws nothing, the test fails and the text is "nothing thrown".
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace IeTest {

template <class E, class F>
std::string thrownText(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "nothing thrown";
  return "nothing thrown";
}

}  // namespace IeTest
