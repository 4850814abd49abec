// The message of the exception an action raises, or "<no error>" when it
// raises none, so that one expectation compares an error text. Only errors
// of kind E are caught: one of another kind escapes and fails the test, so
// MessageOf<EListError> also checks the kind.
#pragma once

#include <functional>
#include <optional>

#include "core/Exception.h"
#include "core/String.h"

namespace zo::test {

template <class E = Exception>
String MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.Message();
  }
  return u"<no error>";
}

// The error of kind E an action raises, for a look at more than its
// message; nothing when it raises none.
template <class E>
std::optional<E> ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e;
  }
  return std::nullopt;
}

}  // namespace zo::test
