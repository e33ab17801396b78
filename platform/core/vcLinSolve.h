// Small dense solvers shared by the fitters (a handful of unknowns, so plain elimination).
#pragma once

#include <vector>

// Solves the n-by-n system A x = b in place (A row-major, destroyed; b becomes x) by Gaussian
// elimination with partial pivoting. Returns false when a pivot falls below `relTol` times the
// largest absolute entry of A, i.e. the system is singular or too close to it to trust.
bool vfSolveLinearSystem(std::vector<double>& a, std::vector<double>& b, int n,
                         double relTol = 1e-12);
// The same on caller-owned arrays (a: n * n entries, b: n), for loops that must not allocate.
bool vfSolveLinearSystem(double* a, double* b, int n, double relTol = 1e-12);
