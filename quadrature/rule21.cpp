// One application of the 21-point Gauss-Kronrod rule, with the embedded 10-point
// Gauss rule giving the error estimate.

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "errors.h"
#include "internal.h"
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

// The integrand paired with a form that evaluates many abscissae at once.
Integrand paired = nullptr;
NodeIntegrand paired_nodes = nullptr;

// The 21 abscissae in ascending order when half > 0: centre - half * KX(1), ...,
// centre - half * KX(10), centre, centre + half * KX(10), ..., centre + half * KX(1).
float abscissa[21];
float value[21];

// Evaluates the integrand at the centre and at centre -+ half * KX(k), k = 1..10,
// into fc, FLEFT and FRIGHT. One at a time: the centre, then the pairs of the Gauss
// nodes (even k), outermost first, then those of the Kronrod extension (odd k), each
// call or pair of calls with user mode on around it. With a paired form: all of them
// in one call, with user mode on around it.
float evaluate_nodes(Integrand F) {
  if (F != nullptr && F == paired && paired_nodes != nullptr) {
    for (int k = 1; k <= 10; ++k) {
      const float x = KX[k - 1] * half;
      abscissa[k - 1] = centre - x;
      abscissa[21 - k] = centre + x;
    }
    abscissa[10] = centre;
    E1USR("ON");
    paired_nodes(abscissa, value, 21);
    E1USR("OFF");
    for (int k = 1; k <= 10; ++k) {
      FLEFT[k - 1] = value[k - 1];
      FRIGHT[k - 1] = value[21 - k];
    }
    return value[10];
  }
  E1USR("ON");
  const float fc = F(centre);
  E1USR("OFF");
  for (int k : {2, 4, 6, 8, 10, 1, 3, 5, 7, 9}) {
    const float x = KX[k - 1] * half;
    E1USR("ON");
    FLEFT[k - 1] = F(centre - x);
    FRIGHT[k - 1] = F(centre + x);
    E1USR("OFF");
  }
  return fc;
}

// The two values at node k summed; their absolute values, weighted, are added to
// `absint`.
float node_pair(int k, float& absint) {
  const float f1 = FLEFT[k - 1];
  const float f2 = FRIGHT[k - 1];
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

void quadrature_internal::reset_rule21() {
  centre = half = abshalf = 0.0f;
  gauss_sum = kronrod_sum = 0.0f;
  spacing = tiny = huge = 0.0f;
  std::fill(std::begin(FLEFT), std::end(FLEFT), 0.0f);
  std::fill(std::begin(FRIGHT), std::end(FRIGHT), 0.0f);
  std::fill(std::begin(abscissa), std::end(abscissa), 0.0f);
  std::fill(std::begin(value), std::end(value), 0.0f);
  paired = nullptr;
  paired_nodes = nullptr;
}

void QSETNODES(Integrand F, NodeIntegrand nodes) {
  paired = F;
  paired_nodes = nodes;
}

void QRULE21(Integrand F, const float& A, const float& B, float& RESULT, float& ERRVAL,
             float& ABSINT, float& DEVINT) {
  QMCONS(spacing, tiny, huge);

  centre = (B + A) * 0.5f;
  half = (B - A) * 0.5f;
  abshalf = std::fabs(half);
  gauss_sum = 0.0f;

  const float fc = evaluate_nodes(F);

  kronrod_sum = KW[10] * fc;
  float absint = std::fabs(kronrod_sum);

  // Gauss nodes (even positions), outermost pair first.
  for (int j = 1; j <= 5; ++j) {
    const int k = 2 * j;
    const float s = node_pair(k, absint);
    gauss_sum += GW[j - 1] * s;
    kronrod_sum += KW[k - 1] * s;
  }
  // Nodes of the Kronrod extension (odd positions), outermost pair first.
  for (int j = 1; j <= 5; ++j) {
    const int k = 2 * j - 1;
    const float s = node_pair(k, absint);
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
