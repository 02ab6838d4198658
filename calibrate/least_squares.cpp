#include "calibrate/least_squares.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace {

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;
using ConstVectorMap = Eigen::Map<const Vector>;
using ConstRowMajorMap = Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>;

// Columns scaled to unit length are dependent when a pivot of their QR with
// column pivoting falls below this share of the largest.
constexpr double kRankTolerance = 1e-12;
// A parameter is unconstrained when at least this share of its unit vector
// (the sum of its squared components there) lies in the null space.
constexpr double kNullShare = 0.01;
// The Jacobian is reduced this many rows at a time; a size fixed when
// compiling lets the reflections run on fixed-size columns.
constexpr int kBlockRows = 64;
using RowBlock = Eigen::Matrix<double, kBlockRows, Eigen::Dynamic>;

std::size_t At(int i) { return static_cast<std::size_t>(i); }

// The sum of term(i)^2 over i < n, in four interleaved partial sums: quick
// (the compiler keeps them in vector registers), and added in an order
// that the index alone fixes, whatever the alignment of the data.
template <typename Term>
double SumOfSquares(std::size_t n, const Term& term) {
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        for (std::size_t k = 0; k < 4; ++k) {
            const double d = term(i + k);
            partial[k] += d * d;
        }
    }
    for (; i < n; ++i) {
        const double d = term(i);
        partial[0] += d * d;
    }
    return (partial[0] + partial[1]) + (partial[2] + partial[3]);
}

// The length of `n` values from `v`.
double Length(const double* v, std::size_t n) {
    return std::sqrt(SumOfSquares(n, [v](std::size_t i) { return v[i]; }));
}

// (A^T A)^-1 from the QR with column pivoting of A D^-1 (A D^-1 P = Q S, of
// full rank): D^-1 P S^-1 S^-T P^T D^-1, for the parameter of each column
// of A (`parameter`, D the `scale` of each parameter). Symmetric to the bit.
// False when a value is not finite.
template <typename PivotedQr>
bool InverseNormal(const PivotedQr& qr, const std::vector<int>& parameter, const std::vector<double>& scale,
                   SquareMatrix& inverse) {
    const auto p = static_cast<int>(parameter.size());
    Matrix s = Matrix::Identity(p, p);
    qr.matrixR().topLeftCorner(p, p).template triangularView<Eigen::Upper>().solveInPlace(s);
    const auto& pivots = qr.colsPermutation().indices();
    inverse = SquareMatrix(p);
    bool finite = true;
    for (int a = 0; a < p; ++a) {
        for (int b = 0; b <= a; ++b) {
            const int ka = parameter[At(pivots[a])], kb = parameter[At(pivots[b])];
            const double value = s.row(a).dot(s.row(b)) / (scale[At(ka)] * scale[At(kb)]);
            inverse.at(ka, kb) = inverse.at(kb, ka) = value;
            finite = finite && std::isfinite(value);
        }
    }
    return finite;
}

// R of the Jacobian with its columns scaled to unit length (J D^-1 = Q R),
// beside the first values of Q^T r, r a residual. The rows are reduced in
// blocks, and the columns put in an order that keeps each block to the
// columns it can change: first those that are 0 (or not finite) throughout,
// left out; then those not 0 over at most half the rows, by the first row
// where they are not; then the others. A block meets the others and, of
// the short ones, those from the first that has not ended to the last that
// has started: the rows of R of the ended ones before it are final, and no
// row so far touched a column that has not started.
struct Factor {
    std::vector<double> scale;  // D: each column's length, 1 for one left at 0
    std::vector<int> order;     // the parameter of each position
    Matrix rc;                  // p x (p + 1): R, then Q^T r
    // Kept from call to call, so that a fit allocates once.
    std::vector<std::size_t> first, last;
    std::vector<int> zero, sparse, dense, active;
    Matrix top;
    RowBlock rows;
};

// Householder reflections that take the first m columns of `rows` into the
// upper triangle `top` (m x (m + 1)); the column after them, in both, is a
// right-hand side that goes along.
void Reduce(Eigen::Ref<Matrix> top, RowBlock& rows, int m) {
    for (int t = 0; t < m; ++t) {
        auto x = rows.col(t);
        const double below = x.squaredNorm();
        if (below == 0.0) continue;
        const double alpha = top(t, t);
        const double beta = -std::copysign(std::sqrt(alpha * alpha + below), alpha);
        const double tau = (beta - alpha) / beta;
        x /= alpha - beta;
        top(t, t) = beta;
        for (int u = t + 1; u <= m; ++u) {
            auto c = rows.col(u);
            const double w = tau * (top(t, u) + x.dot(c));
            top(t, u) -= w;
            c -= w * x;
        }
    }
}

void Factorise(const std::vector<std::vector<double>>& columns, const std::vector<double>& r, Factor& f) {
    const auto p = static_cast<int>(columns.size());
    const std::size_t n = r.size();
    f.scale.assign(At(p), 1.0);
    f.first.assign(At(p), 0);
    f.last.assign(At(p), 0);
    f.zero.clear();
    f.sparse.clear();
    f.dense.clear();
    for (int k = 0; k < p; ++k) {
        const std::vector<double>& c = columns[At(k)];
        std::size_t a = 0, b = n;
        while (a < b && c[a] == 0.0) ++a;
        while (b > a && c[b - 1] == 0.0) --b;
        const double length = Length(c.data() + a, b - a);
        if (!(length > 0.0) || !std::isfinite(length)) {
            f.zero.push_back(k);
            continue;
        }
        f.scale[At(k)] = length;
        f.first[At(k)] = a;
        f.last[At(k)] = b;
        (2 * (b - a) > n ? f.dense : f.sparse).push_back(k);
    }
    std::stable_sort(f.sparse.begin(), f.sparse.end(), [&](int a, int b) { return f.first[At(a)] < f.first[At(b)]; });
    f.order = f.zero;
    f.order.insert(f.order.end(), f.sparse.begin(), f.sparse.end());
    f.order.insert(f.order.end(), f.dense.begin(), f.dense.end());
    const auto skip = static_cast<int>(f.zero.size()), sparse = static_cast<int>(f.sparse.size());

    f.rc.setZero(p, p + 1);
    if (f.rows.cols() < p + 1) f.rows.resize(kBlockRows, p + 1);
    if (f.top.rows() < p || f.top.cols() < p + 1) f.top.resize(p, p + 1);
    int lo = 0, hi = 0;  // the sparse columns that have started and not all ended: [lo, hi)
    for (std::size_t i0 = 0; i0 < n; i0 += kBlockRows) {
        const std::size_t i1 = std::min(n, i0 + kBlockRows);
        while (hi < sparse && f.first[At(f.sparse[At(hi)])] < i1) ++hi;
        while (lo < hi && f.last[At(f.sparse[At(lo)])] <= i0) ++lo;
        f.active.clear();
        for (int s = lo; s < hi; ++s) f.active.push_back(skip + s);
        for (int s = skip + sparse; s < p; ++s) f.active.push_back(s);
        const auto m = static_cast<int>(f.active.size());
        const auto rows = static_cast<Eigen::Index>(i1 - i0);
        auto top = f.top.topLeftCorner(m, m + 1);
        for (int u = 0; u < m; ++u) {
            const int k = f.order[At(f.active[At(u)])];
            f.rows.col(u).head(rows) = ConstVectorMap(columns[At(k)].data() + i0, rows);
            for (int t = 0; t <= u; ++t) top(t, u) = f.rc(f.active[At(t)], f.active[At(u)]);
            top.col(u).tail(m - u - 1).setZero();
        }
        f.rows.col(m).head(rows) = ConstVectorMap(r.data() + i0, rows);
        for (int t = 0; t < m; ++t) top(t, m) = f.rc(f.active[At(t)], p);
        if (rows < kBlockRows) f.rows.block(rows, 0, kBlockRows - rows, m + 1).setZero();
        Reduce(top, f.rows, m);
        for (int u = 0; u < m; ++u)
            for (int t = 0; t <= u; ++t) f.rc(f.active[At(t)], f.active[At(u)]) = top(t, u);
        for (int t = 0; t < m; ++t) f.rc(f.active[At(t)], p) = top(t, m);
    }
    // Householder QR is backward stable column by column, so the columns are
    // scaled in R rather than in each block: J D^-1 = Q (R D^-1).
    for (int a = 0; a < p; ++a) f.rc.col(a) /= f.scale[At(f.order[At(a)])];
}

// The step of the scaled parameters z minimising |R z - c|^2 + lambda |z|^2
// (R and c from `f.rc`), in the parameters' own units and order: R stacked
// on sqrt(lambda) I and reduced by reflections (column t meets rows 0 to t
// of sqrt(lambda) I only), then solved backwards. False when not finite.
bool DampedStep(const Factor& f, double lambda, Matrix& top, Matrix& lower, Vector& z, std::vector<double>& step) {
    const Eigen::Index p = f.rc.rows();
    top = f.rc;
    lower.setZero(p, p + 1);
    lower.diagonal().setConstant(std::sqrt(lambda));
    for (Eigen::Index t = 0; t < p; ++t) {
        auto x = lower.col(t).head(t + 1);
        const double alpha = top(t, t);
        const double beta = -std::copysign(std::sqrt(alpha * alpha + x.squaredNorm()), alpha);
        const double tau = (beta - alpha) / beta;
        x /= alpha - beta;
        top(t, t) = beta;
        for (Eigen::Index u = t + 1; u <= p; ++u) {
            auto c = lower.col(u).head(t + 1);
            const double w = tau * (top(t, u) + x.dot(c));
            top(t, u) -= w;
            c -= w * x;
        }
    }
    z = top.leftCols(p).triangularView<Eigen::Upper>().solve(top.col(p));
    if (!z.allFinite()) return false;
    step.assign(At(static_cast<int>(p)), 0.0);
    for (Eigen::Index a = 0; a < p; ++a) {
        const auto k = At(f.order[At(static_cast<int>(a))]);
        step[k] = z[a] / f.scale[k];
    }
    return true;
}

// The rank of the Jacobian at the solution, and its covariance or the
// parameters it leaves unconstrained.
void DescribeSolution(const Factor& f, NonlinearFit& fit) {
    const auto p = static_cast<int>(f.rc.rows());
    fit.unconstrained.clear();
    if (p == 0) {
        fit.rank = 0;
        fit.covariance = SquareMatrix();
        fit.covarianceKnown = true;
        return;
    }
    const Matrix r = f.rc.leftCols(p).triangularView<Eigen::Upper>();
    Eigen::ColPivHouseholderQR<Matrix> qr(r);
    qr.setThreshold(kRankTolerance);
    fit.rank = static_cast<int>(qr.rank());
    if (fit.rank == p) {
        fit.covarianceKnown = InverseNormal(qr, f.order, f.scale, fit.covariance);
        if (fit.covarianceKnown) return;
        // Full rank, yet beyond the range of doubles (columns of tiny length).
        for (int a = 0; a < p; ++a)
            for (int b = 0; b < p; ++b)
                if (!std::isfinite(fit.covariance.at(a, b))) fit.unconstrained.push_back(a);
        fit.unconstrained.erase(std::unique(fit.unconstrained.begin(), fit.unconstrained.end()),
                                fit.unconstrained.end());
    } else {
        // The null space: the right singular vectors of the smallest singular values.
        const Eigen::JacobiSVD<Matrix> svd(r, Eigen::ComputeFullV);
        for (int a = 0; a < p; ++a)
            if (svd.matrixV().row(a).tail(p - fit.rank).squaredNorm() >= kNullShare)
                fit.unconstrained.push_back(f.order[At(a)]);
        std::sort(fit.unconstrained.begin(), fit.unconstrained.end());
    }
    fit.covarianceKnown = false;
    fit.covariance = SquareMatrix();
    fit.stop = FitStop::Singular;
}

double SumOfSquares(const std::vector<double>& y, const std::vector<double>& model) {
    return SumOfSquares(y.size(), [&](std::size_t i) { return y[i] - model[i]; });
}

}  // namespace

bool LinearFit(const std::vector<std::vector<double>>& columns, const std::vector<double>& y,
               std::vector<double>& coefficients, SquareMatrix* covariance) {
    const auto m = static_cast<int>(columns.size());
    const auto n = static_cast<Eigen::Index>(y.size());
    if (m == 0) {
        coefficients.clear();
        if (covariance) *covariance = SquareMatrix();
        return true;
    }
    Matrix a(n, m);
    std::vector<double> scale(At(m));
    std::vector<int> parameter(At(m));
    for (int k = 0; k < m; ++k) {
        const double length = Length(columns[At(k)].data(), y.size());
        if (!(length > 0.0) || !std::isfinite(length)) return false;
        scale[At(k)] = length;
        parameter[At(k)] = k;
        a.col(k) = ConstVectorMap(columns[At(k)].data(), n) / length;
    }
    Eigen::ColPivHouseholderQR<Eigen::Ref<Matrix>> qr(a);
    qr.setThreshold(kRankTolerance);
    if (qr.rank() < m) return false;
    const Vector z = qr.solve(ConstVectorMap(y.data(), n));
    coefficients.resize(At(m));
    for (int k = 0; k < m; ++k) coefficients[At(k)] = z[k] / scale[At(k)];
    return covariance == nullptr || InverseNormal(qr, parameter, scale, *covariance);
}

const char* FitStopName(FitStop stop) {
    switch (stop) {
        case FitStop::Converged: return "converged";
        case FitStop::IterationLimit: return "iteration limit";
        case FitStop::Singular: return "singular";
    }
    return "?";
}

NonlinearFit FitNonlinear(const ModelFunction& model, const ClampFunction& clamp, const std::vector<double>& y,
                          std::vector<double> start, int iterations) {
    NonlinearFit fit;
    clamp(start);
    std::vector<double> values, trialValues, residual(y.size()), step, trial;
    std::vector<std::vector<double>> jacobian;
    model(start, values, &jacobian);
    double best = SumOfSquares(y, values);
    std::vector<double> p = std::move(start);
    double lambda = 1e-3;
    Factor factor;
    Matrix top, lower;
    Vector z;
    bool factored = false;  // `factor` holds the Jacobian at p
    for (int iteration = 0; iteration < iterations; ++iteration) {
        fit.iterations = iteration + 1;
        for (std::size_t i = 0; i < y.size(); ++i) residual[i] = y[i] - values[i];
        Factorise(jacobian, residual, factor);
        factored = true;
        bool improved = false, converged = false;
        for (int attempt = 0; attempt < 12 && !improved; ++attempt) {
            if (!DampedStep(factor, lambda, top, lower, z, step)) {
                lambda *= 10.0;
                continue;
            }
            trial = p;
            for (std::size_t k = 0; k < trial.size(); ++k) trial[k] += step[k];
            clamp(trial);
            model(trial, trialValues, nullptr);
            const double sum = SumOfSquares(y, trialValues);
            if (std::isfinite(sum) && sum < best) {
                const double gain = best - sum;
                p.swap(trial);
                best = sum;
                lambda = std::max(lambda / 10.0, 1e-9);
                improved = true;
                model(p, values, &jacobian);
                factored = false;
                converged = gain <= 1e-8 * best;
            } else {
                lambda *= 10.0;
            }
        }
        // No step lowering the sum even when damped to almost nothing: a minimum.
        if (!improved || converged) {
            fit.stop = FitStop::Converged;
            break;
        }
    }
    fit.parameters = p;
    fit.sumOfSquares = best;
    if (!factored) Factorise(jacobian, residual, factor);  // R only: the right-hand side is not used
    DescribeSolution(factor, fit);
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
