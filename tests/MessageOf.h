// The message of the exception an action raises, or "<no error>" when it
// raises none, so that one expectation compares an error text.
#pragma once

#include <functional>

#include "core/Exception.h"
#include "core/String.h"

namespace zo::test {

inline String MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return u"<no error>";
}

}  // namespace zo::test
