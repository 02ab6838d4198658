#include "calibrate/least_squares.h"

#include <algorithm>
#include <cmath>

namespace {

// The lower triangle l with a = l l^T; false when a is not positive definite.
bool Cholesky(const SquareMatrix& a, SquareMatrix& l) {
    const int n = a.size;
    l = SquareMatrix(n);
    for (int j = 0; j < n; ++j) {
        double diagonal = a.at(j, j);
        for (int k = 0; k < j; ++k) diagonal -= l.at(j, k) * l.at(j, k);
        if (!(diagonal > 0.0) || !std::isfinite(diagonal)) return false;
        l.at(j, j) = std::sqrt(diagonal);
        for (int i = j + 1; i < n; ++i) {
            double sum = a.at(i, j);
            for (int k = 0; k < j; ++k) sum -= l.at(i, k) * l.at(j, k);
            l.at(i, j) = sum / l.at(j, j);
        }
    }
    return true;
}

void SolveWithCholesky(const SquareMatrix& l, const std::vector<double>& b, std::vector<double>& x) {
    const int n = l.size;
    std::vector<double> y(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        double sum = b[static_cast<std::size_t>(i)];
        for (int k = 0; k < i; ++k) sum -= l.at(i, k) * y[static_cast<std::size_t>(k)];
        y[static_cast<std::size_t>(i)] = sum / l.at(i, i);
    }
    x.assign(static_cast<std::size_t>(n), 0.0);
    for (int i = n - 1; i >= 0; --i) {
        double sum = y[static_cast<std::size_t>(i)];
        for (int k = i + 1; k < n; ++k) sum -= l.at(k, i) * x[static_cast<std::size_t>(k)];
        x[static_cast<std::size_t>(i)] = sum / l.at(i, i);
    }
}

// A^T A and A^T r of the columns over the rows. A column's products are
// taken over the rows where it is not 0 only (a source's derivatives are 0
// away from it).
void NormalEquations(const std::vector<std::vector<double>>& columns, const std::vector<double>& r,
                     SquareMatrix& normal, std::vector<double>& right) {
    const int m = static_cast<int>(columns.size());
    normal = SquareMatrix(m);
    right.assign(static_cast<std::size_t>(m), 0.0);
    std::vector<std::size_t> first(static_cast<std::size_t>(m)), last(static_cast<std::size_t>(m));
    for (std::size_t j = 0; j < columns.size(); ++j) {
        const std::vector<double>& c = columns[j];
        std::size_t a = 0, b = r.size();
        while (a < b && c[a] == 0.0) ++a;
        while (b > a && c[b - 1] == 0.0) --b;
        first[j] = a;
        last[j] = b;
    }
    for (int j = 0; j < m; ++j) {
        const auto uj = static_cast<std::size_t>(j);
        const std::vector<double>& cj = columns[uj];
        double sum = 0.0;
        for (std::size_t i = first[uj]; i < last[uj]; ++i) sum += cj[i] * r[i];
        right[uj] = sum;
        for (int k = 0; k <= j; ++k) {
            const auto uk = static_cast<std::size_t>(k);
            const std::vector<double>& ck = columns[uk];
            double product = 0.0;
            for (std::size_t i = std::max(first[uj], first[uk]); i < std::min(last[uj], last[uk]); ++i)
                product += cj[i] * ck[i];
            normal.at(j, k) = normal.at(k, j) = product;
        }
    }
}

double SumOfSquares(const std::vector<double>& y, const std::vector<double>& model) {
    double sum = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) sum += (y[i] - model[i]) * (y[i] - model[i]);
    return sum;
}

}  // namespace

bool SolveSymmetric(const SquareMatrix& a, const std::vector<double>& b, std::vector<double>& x) {
    SquareMatrix l;
    if (!Cholesky(a, l)) return false;
    SolveWithCholesky(l, b, x);
    return true;
}

bool InvertSymmetric(const SquareMatrix& a, SquareMatrix& inverse) {
    SquareMatrix l;
    if (!Cholesky(a, l)) return false;
    const int n = a.size;
    inverse = SquareMatrix(n);
    std::vector<double> unit(static_cast<std::size_t>(n)), column;
    for (int j = 0; j < n; ++j) {
        std::fill(unit.begin(), unit.end(), 0.0);
        unit[static_cast<std::size_t>(j)] = 1.0;
        SolveWithCholesky(l, unit, column);
        for (int i = 0; i < n; ++i) inverse.at(i, j) = column[static_cast<std::size_t>(i)];
    }
    return true;
}

bool LinearFit(const std::vector<std::vector<double>>& columns, const std::vector<double>& y,
               std::vector<double>& coefficients, SquareMatrix* covariance) {
    SquareMatrix normal;
    std::vector<double> right;
    NormalEquations(columns, y, normal, right);
    if (!SolveSymmetric(normal, right, coefficients)) return false;
    return covariance == nullptr || InvertSymmetric(normal, *covariance);
}

NonlinearFit FitNonlinear(const ModelFunction& model, const ClampFunction& clamp, const std::vector<double>& y,
                          std::vector<double> start, int iterations) {
    NonlinearFit fit;
    clamp(start);
    std::vector<double> values, trialValues, residual(y.size()), step;
    std::vector<std::vector<double>> jacobian;
    model(start, values, &jacobian);
    double best = SumOfSquares(y, values);
    std::vector<double> p = start;
    double lambda = 1e-3;
    SquareMatrix normal;
    std::vector<double> right;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        for (std::size_t i = 0; i < y.size(); ++i) residual[i] = y[i] - values[i];
        NormalEquations(jacobian, residual, normal, right);
        bool improved = false;
        for (int attempt = 0; attempt < 12 && !improved; ++attempt) {
            SquareMatrix damped = normal;
            for (int k = 0; k < damped.size; ++k)
                damped.at(k, k) += lambda * std::max(normal.at(k, k), 1e-300);
            if (!SolveSymmetric(damped, right, step)) {
                lambda *= 10.0;
                continue;
            }
            std::vector<double> trial = p;
            for (std::size_t k = 0; k < trial.size(); ++k) trial[k] += step[k];
            clamp(trial);
            model(trial, trialValues, nullptr);
            const double sum = SumOfSquares(y, trialValues);
            if (std::isfinite(sum) && sum < best) {
                const double gain = best - sum;
                p = trial;
                best = sum;
                lambda = std::max(lambda / 10.0, 1e-9);
                improved = true;
                model(p, values, &jacobian);
                if (gain <= 1e-8 * best) iteration = iterations;  // converged
            } else {
                lambda *= 10.0;
            }
        }
        if (!improved) break;
    }
    fit.parameters = p;
    fit.sumOfSquares = best;
    NormalEquations(jacobian, residual, normal, right);
    fit.covarianceKnown = InvertSymmetric(normal, fit.covariance);
    return fit;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return 0.5 * (lower + upper);
}
