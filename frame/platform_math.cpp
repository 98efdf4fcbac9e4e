#include "frame/platform_math.h"

#include <limits>

namespace fm {

double sin(double t) {
  if (std::isinf(t)) {
    errno = EDOM;
    return std::numeric_limits<double>::quiet_NaN();
  }
  const int saved = errno;
  return drop_underflow(std::sin(t), saved);
}

double cos(double t) {
  if (std::isinf(t)) {
    errno = EDOM;
    return std::numeric_limits<double>::quiet_NaN();
  }
  return std::cos(t);
}

}  // namespace fm
