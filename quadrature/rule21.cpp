// One application of the 21-point Gauss-Kronrod rule, with the embedded 10-point
// Gauss rule giving the error estimate.

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "errors.h"
#include "quadrature.h"

static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float");

namespace {

// Working storage, shared by all calls (the rule is not re-entrant).
float centre = 0.0f;
float half = 0.0f;
float abshalf = 0.0f;
float gauss_sum = 0.0f;
float kronrod_sum = 0.0f;
float FLEFT[10];   // f(centre - half * KX(j)) at index j - 1
float FRIGHT[10];  // f(centre + half * KX(j)) at index j - 1
float spacing = 0.0f;
float tiny = 0.0f;
float huge = 0.0f;

// Evaluates the integrand at centre -+ half * KX(k) with user mode on around the two
// calls, keeps both values and returns their sum; adds their absolute values,
// weighted, to `absint`.
float node_pair(Integrand F, int k, float& absint) {
  const float x = KX[k - 1] * half;
  E1USR("ON");
  const float f1 = F(centre - x);
  const float f2 = F(centre + x);
  E1USR("OFF");
  FLEFT[k - 1] = f1;
  FRIGHT[k - 1] = f2;
  absint += KW[k - 1] * (std::fabs(f1) + std::fabs(f2));
  return f1 + f2;
}

// x raised to the power 1.5, evaluated as x * sqrt(x) in double and rounded once, so
// that the result does not depend on the platform's power function.
float power_1_5(float x) {
  const double wide = static_cast<double>(x);
  return static_cast<float>(wide * std::sqrt(wide));
}

}  // namespace

void QRULE21(Integrand F, const float& A, const float& B, float& RESULT, float& ERRVAL,
             float& ABSINT, float& DEVINT) {
  QMCONS(spacing, tiny, huge);

  centre = (B + A) * 0.5f;
  half = (B - A) * 0.5f;
  abshalf = std::fabs(half);
  gauss_sum = 0.0f;

  E1USR("ON");
  const float fc = F(centre);
  E1USR("OFF");

  kronrod_sum = KW[10] * fc;
  float absint = std::fabs(kronrod_sum);

  // Gauss nodes (even positions), outermost pair first.
  for (int j = 1; j <= 5; ++j) {
    const int k = 2 * j;
    const float s = node_pair(F, k, absint);
    gauss_sum += GW[j - 1] * s;
    kronrod_sum += KW[k - 1] * s;
  }
  // Nodes of the Kronrod extension (odd positions), outermost pair first.
  for (int j = 1; j <= 5; ++j) {
    const int k = 2 * j - 1;
    const float s = node_pair(F, k, absint);
    kronrod_sum += KW[k - 1] * s;
  }

  // Integral of abs(f - mean value) on [-1, 1], the yardstick of the error scaling.
  const float mean = kronrod_sum * 0.5f;
  float devint = KW[10] * std::fabs(fc - mean);
  for (int j = 1; j <= 10; ++j) {
    devint += KW[j - 1] * (std::fabs(FLEFT[j - 1] - mean) + std::fabs(FRIGHT[j - 1] - mean));
  }

  RESULT = kronrod_sum * half;
  absint = absint * abshalf;
  devint = devint * abshalf;
  float errval = std::fabs((kronrod_sum - gauss_sum) * half);

  // The raw difference of the two rules overstates the error of a well-resolved
  // integrand; scale it down, but never above the deviation integral. When
  // errval >= devint the formula gives devint exactly (the quotient times 200 is at
  // least 200, its power 1.5 above 1, the minimum 1, and devint * 1 is devint), so that
  // case is taken directly: the same bits, only less work. Where the formula is
  // evaluated, errval < devint keeps the quotient at most 1, however small devint is.
  if (devint != 0.0f && errval != 0.0f) {
    if (errval >= devint) {
      errval = devint;
    } else {
      const float ratio = errval / devint * 200.0f;
      errval = devint * std::min(1.0f, power_1_5(ratio));
    }
  }

  // No error estimate below what rounding in the sums can cause.
  const float floor_factor = 50.0f * spacing;
  if (absint > tiny / floor_factor) {
    errval = std::max(floor_factor * absint, errval);
  }

  ERRVAL = errval;
  ABSINT = absint;
  DEVINT = devint;
}
