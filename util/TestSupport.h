// Helpers shared by the test programs (not linked into the product).
#pragma once

#include <string>

namespace rb {

// Runs f and returns the message text of the exception of type E that it raises, or "" when it
// raises none. Other exceptions pass through, so a wrong kind of error fails the test.
template <typename E, typename F>
std::string ErrorText(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

}  // namespace rb
