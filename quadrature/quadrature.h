// Adaptive quadrature: Q2AGS integrates a function of one real over a finite
// interval with the 21-point Gauss-Kronrod rule applied to subintervals bisected
// where the error is largest, extrapolating the sequence of sums with the epsilon
// algorithm.
//
// Arithmetic contract (deterministic): every stored quantity and every arithmetic
// operation of QRULE21, QEPSEX, QORDER and QADAPT is a 32-bit float operation, one
// at a time, in the left-to-right order of the formula, parentheses as written; the
// build uses no fused multiply-add contraction and no fast-math, and no wider
// accumulator is used. The one exception is the power 1.5 of the rule's error
// scaling, computed as x * sqrt(x) in double from the widened float and rounded once
// to float. The same input therefore gives the same RESULT bits on every IEEE 754
// build.
//
// Work lists are indexed from 1 in the descriptions below: entry i of a list is
// element [i - 1] of the array, and ERRORD holds subinterval numbers 1..NSUB.
// All working values are static: none of these routines is re-entrant, and an
// integrand must not call Q2AGS. No division is formed where its divisor can be
// zero, so the routines run with the division-by-zero trap enabled.
#pragma once

using Integrand = float (*)(float);

// The same integrand evaluated at n abscissae in one call: FX[k] = f(X[k]), k = 0..n-1.
using NodeIntegrand = void (*)(const float X[], float FX[], int n);

// Pairs integrand F with its form `nodes`, which must give for every abscissa exactly
// the value F gives. While the pair stands, QRULE21 applied to F evaluates its 21
// abscissae with one call of `nodes` (in ascending order when A < B), with user mode
// on around that call, instead of 21 calls of F; the results are the same bits.
// Other integrands are called one abscissa at a time. One pair stands at a time;
// QSETNODES(nullptr, nullptr) removes it.
void QSETNODES(Integrand F, NodeIntegrand nodes);

// Puts every routine's working storage back as it is when a run starts, the
// integrand pairing of QSETNODES removed. For a process that runs many pieces of work,
// each as if it were a run of its own. The work lists belong to the caller.
void quadrature_reset();

// Public integrator. Pushes "Q2AGS " on the routine-name stack, checks its
// arguments (TERMINAL messages, codes 1 to 5; the integration is then skipped and
// the outputs are left as they were), runs QADAPT and posts its outcome (code 1
// FATAL, 2 to 4 WARNING, 5 FATAL), then pops. Returns no status.
void Q2AGS(Integrand F, const float& A, const float& B, const float& ERRABS,
           const float& ERRREL, float& RESULT, float& ERRVAL, const int& MAXSUB,
           int& NFCALL, int& NSUB, float XLEFT[], float XRIGHT[], float SUBINT[],
           float SUBERR[], int ERRORD[]);

// Adaptive core; IER is the completion code: 0 success, 1 MAXSUB reached, 2
// roundoff, 3 a subinterval too small to bisect, 4 the extrapolation stalled, 5 the
// divergence test failed, 6 both tolerances negative (nothing computed). On return
// NFCALL = 42 * NSUB - 21 (0 for code 6). Posts no messages.
void QADAPT(Integrand F, const float& A, const float& B, const float& ERRABS,
            const float& ERRREL, const int& MAXSUB, float& RESULT, float& ERRVAL,
            int& NFCALL, int& IER, float XLEFT[], float XRIGHT[], float SUBINT[],
            float SUBERR[], int ERRORD[], int& NSUB);

// One application of the 21-point Gauss-Kronrod rule (and its embedded 10-point
// Gauss rule) over [A, B]; A > B is allowed. Calls F 21 times, each group of calls
// bracketed by E1USR("ON") and E1USR("OFF") (or F's paired form once: QSETNODES). ABSINT approximates the integral of
// abs(f), DEVINT that of abs(f - mean), both over the length abs(B - A).
void QRULE21(Integrand F, const float& A, const float& B, float& RESULT, float& ERRVAL,
             float& ABSINT, float& DEVINT);

// One step of the epsilon algorithm on ETAB(1..NTAB) (NTAB at most 50 on entry, at
// most 49 on return); ETAB has 52 places, the last two being scratch. LAST3 holds
// the last three results, NCALLS counts the calls of one integration (start at 0).
void QEPSEX(int& NTAB, float ETAB[], float& RESULT, float& ERRVAL, float LAST3[],
            int& NCALLS);

// Keeps ERRORD in descending order of SUBERR after a bisection and selects the
// next subinterval to bisect.
void QORDER(const int& MAXSUB, const int& NSUB, int& IBIS, float& EBIS,
            const float SUBERR[], int ERRORD[], int& KBIS);

// Machine constants. QMCONS gives AMACH(4), AMACH(1), AMACH(2). AMACH(N) outside
// 1..8 posts a TERMINAL message (code 5) under "AMACH " and returns a quiet NaN if
// the run goes on; IMACH(N) outside 1..12 writes its own message and stops the run.
void QMCONS(float& spacing, float& tiny, float& huge);
float AMACH(const int& N);
int IMACH(const int& N);

// The rule's constant tables (nodes in descending order, KX(11) = 0).
extern const float KX[11];
extern const float KW[11];
extern const float GW[5];
