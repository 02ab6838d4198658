// Small dense least squares: linear fits and
// Levenberg-Marquardt for a few nonlinear parameters. Plain procedures over
// vectors; nothing here knows about scans. Both fits factor the design (or
// Jacobian) itself by orthogonal transformations, with its columns scaled to
// unit length, rather than its normal matrix, whose condition is the square.
#pragma once

#include <functional>
#include <vector>

// A square matrix of `size` rows, row after row.
struct SquareMatrix {
    int size = 0;
    std::vector<double> values;

    explicit SquareMatrix(int n = 0) : size(n), values(static_cast<std::size_t>(n) * n, 0.0) {}
    double& at(int row, int column) { return values[static_cast<std::size_t>(row) * size + column]; }
    double at(int row, int column) const { return values[static_cast<std::size_t>(row) * size + column]; }
};


// Linear least squares: the coefficients c minimising the sum over rows of
// (y[i] - sum_k c[k] columns[k][i])^2, and their covariance for unit noise
// ((A^T A)^-1), by QR with column pivoting. False when the columns are not
// independent: one is 0 or not finite, or the pivots of the unit-length
// columns fall below 1e-12 of the largest.
bool LinearFit(const std::vector<std::vector<double>>& columns, const std::vector<double>& y,
               std::vector<double>& coefficients, SquareMatrix* covariance = nullptr);

// A model of the data with parameters p: fills `model` (one value per data
// point) and, when `jacobian` is not null, its derivatives, one column per
// parameter (jacobian[k][i] = d model[i] / d p[k]).
using ModelFunction =
    std::function<void(const std::vector<double>& p, std::vector<double>& model,
                       std::vector<std::vector<double>>* jacobian)>;
// Keeps parameters within their bounds after each step.
using ClampFunction = std::function<void(std::vector<double>& p)>;

// Why a nonlinear fit stopped.
enum class FitStop {
    Converged,       // a step gained at most 1e-8 of the sum of squares, or no step lowered it
    IterationLimit,  // the iterations ran out first
    Singular,        // the data do not constrain every parameter at the solution
};

// "converged", "iteration limit", "singular".
const char* FitStopName(FitStop stop);

struct NonlinearFit {
    std::vector<double> parameters;
    // For unit noise: (J^T J)^-1 at the solution, finite; empty unless covarianceKnown.
    SquareMatrix covariance;
    double sumOfSquares = 0.0;
    bool covarianceKnown = false;
    FitStop stop = FitStop::IterationLimit;
    int rank = 0;        // of the Jacobian at the solution
    int iterations = 0;  // Levenberg-Marquardt iterations used
    // When Singular: the parameters (by index, ascending) that the data do not
    // constrain, those that lie largely in the null space of the Jacobian.
    std::vector<int> unconstrained;
};

// Levenberg-Marquardt from `start`, at most `iterations` steps; the data
// `y` are fitted by the model. Returns the best parameters found. Each step
// solves the damped problem by orthogonal transformations of the
// column-scaled Jacobian (Marquardt's scaling); the covariance and the rank
// come from the Jacobian at the solution.
NonlinearFit FitNonlinear(const ModelFunction& model, const ClampFunction& clamp, const std::vector<double>& y,
                          std::vector<double> start, int iterations);

// The median of the values (0 for none).
double Median(std::vector<double> values);
