#pragma once
// Where the nodes of a Lamm solution sit between the meniscus m and the
// bottom b: the rules of both the solver object and the global-array solvers
// of the model evaluation. Radii go to r[1..N] (r[0] unused).

// Even nodes with the ends on the meniscus and the bottom:
// r_i = m + (i - 1)(b - m)/(N - 1). The last node lands on b only up to
// rounding: a caller that needs it exact sets r[N] = b.
void EvenNodes(double m, double b, int N, double* r);

// Even cells, a node in the middle of each: r_i = m + (i - 1/2)(b - m)/N.
void CellCentredNodes(double m, double b, int N, double* r);

// The moving frame's geometric grid, r_{i+1} / r_i = (b/m)^(1/(N-1)), with
// the second node half a step from the meniscus when the frame moves
// towards the bottom (s* >= 0) and one and a half steps when it moves
// towards the meniscus; the last node on b.
void MovingFrameNodes(double m, double b, int N, bool towardsBottom, double* r);

// The graded static grid for an equilibrium gradient steep at the bottom:
// spacing h0 from the meniscus up to the first node beyond the transition
// radius Rt, then r -> r + h0 sqrt((Rt/r)(r - m)/(Rt - m)), fine where the
// gradient is steep; the bottom is the last node. Returns the number of
// nodes and writes them to r when given; 0 when more than maxNodes would be
// needed (a spacing that does not advance). No element is shorter than
// h0 / 100: a last node closer to b than that is moved onto b.
int GradedNodes(double m, double b, double Rt, double h0, int maxNodes, double* r);
