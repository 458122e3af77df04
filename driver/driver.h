// Peak-area driver: the dialogue with the user, the point tables, the
// piecewise-linear profile, the two integrations and the result lines.
#pragma once

namespace driver {

inline constexpr int CAPACITY = 200000;

// Point tables, indexed from 1 like the points they hold: point i is (T[i], C[i]),
// i = 1..N, in file order. Slot 0 is the spare slot in front of the first point: the
// area report puts the added point (0, C(1)) there for the integration from t = 0.
extern float T[CAPACITY + 1];
extern float C[CAPACITY + 1];
extern int N;
extern float CMAX;

// Reads the pairs of the data file with `read_pair` (READ_PAIR in the program) into
// points 1, 2, ... of T and C, sets N and CMAX (the largest concentration, never
// below 0). A pair cut by the end of the file is not counted, though a time it
// read stays in T(N+1) when the tables have that slot. Returns false, with the tables full
// (N = CAPACITY), when a 200001st complete pair was read; it is not stored.
bool load_table(bool (*read_pair)(float& time, float& concentration));

// The same for pairs already in memory, `count` of them (at most CAPACITY): the tables,
// N and CMAX as load_table leaves them when its reader gives these pairs, in one copy
// (none for pairs already in place, at T + 1 and C + 1).
void load_pairs(const float time[], const float concentration[], int count);

// Selects the points the profile runs through, `first`..N of T and C (first is 1
// for the loaded points, 0 when the added point in slot 0 leads them), and builds
// the search index over them. Call it again whenever the tables change. It also
// pairs PROFILE with PROFILE_NODES for the quadrature (QSETNODES).
void use_profile_table(int first);

// The piecewise-linear profile through the selected points: at X the value of the
// first interval in index order with T(i-1) < X <= T(i), else C(first) at T(first),
// else the first falling interval with T(i) <= X < T(i-1), else 0.
float PROFILE(float X);

// The profile at n abscissae: FX[k] = PROFILE(X[k]), the same bits, in one call.
// Fastest for abscissae in ascending order, such as the 21 of one rule application.
void PROFILE_NODES(const float X[], float FX[], int n);

// Empties the point tables (every slot a run has written), sets N and CMAX to 0 and
// puts the profile's selection, index and search hints back as at the start of a run.
// For a process that loads many tables, each as if in a run of its own.
void reset();

// The whole run: banner, file name, loading, area report, pause and stop.
[[noreturn]] void main_driver();

// The program's version, as the banner names it.
inline constexpr const char* VERSION = "V.2";

// The selected profile as straight pieces, in increasing time: piece k (0 <= k <
// profile_piece_count()) spans from `left` to `right` (left <= right; a piece may be
// empty), and over the inside of that span the profile is the straight line of
// interval `owner` (points owner-1 and owner), or 0 where `owner` is 0. Outside the
// pieces, and at single points, the profile can differ; the integral cannot.
int profile_piece_count();
void profile_piece(int k, float& left, float& right, int& owner);

}  // namespace driver
