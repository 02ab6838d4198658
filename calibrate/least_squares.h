// Small dense least squares: linear fits, the inverse of a normal matrix and
// Levenberg-Marquardt for a few nonlinear parameters. Plain procedures over
// vectors; nothing here knows about scans.
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

// Solves a x = b for a symmetric positive definite a (Cholesky); false when a
// is not positive definite.
bool SolveSymmetric(const SquareMatrix& a, const std::vector<double>& b, std::vector<double>& x);
// The inverse of a symmetric positive definite matrix; false when it has none.
bool InvertSymmetric(const SquareMatrix& a, SquareMatrix& inverse);

// Linear least squares: the coefficients c minimising the sum over rows of
// (y[i] - sum_k c[k] columns[k][i])^2, and their covariance for unit noise
// ((A^T A)^-1). False when the columns are not independent.
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
enum class FitStop { Converged, IterationLimit, Singular };

struct NonlinearFit {
    FitStop stop = FitStop::Converged;
    std::vector<int> unconstrained;  // parameters the data do not determine
    std::vector<double> parameters;
    SquareMatrix covariance;  // for unit noise: (J^T J)^-1 at the solution
    double sumOfSquares = 0.0;
    bool covarianceKnown = false;
};

// Levenberg-Marquardt from `start`, at most `iterations` steps; the data
// `y` are fitted by the model. Returns the best parameters found.
NonlinearFit FitNonlinear(const ModelFunction& model, const ClampFunction& clamp, const std::vector<double>& y,
                          std::vector<double> start, int iterations);

// The median of the values (0 for none).
double Median(std::vector<double> values);
