#include "numeric/mathmethods.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tvq {

namespace {

std::int32_t ClampSide(std::int32_t n) {
  return std::clamp(n, 1, Matrix::kMaxSide);
}

}  // namespace

Vector::Vector(std::int32_t length)
    : data_(static_cast<std::size_t>(std::max(length, 1)), 0.0), length_(std::max(length, 1)) {}

double& Vector::Item(std::int32_t i) {
  return At(std::clamp(i, 1, length_) - 1);
}

double Vector::Item(std::int32_t i) const {
  return At(std::clamp(i, 1, length_) - 1);
}

Matrix::Matrix(std::int32_t rows, std::int32_t cols)
    : rows_(ClampSide(rows)),
      cols_(ClampSide(cols)),
      data_(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_), 0.0) {}

double& Matrix::Item(std::int32_t i, std::int32_t j) {
  return At(std::clamp(i, 1, rows_) - 1, std::clamp(j, 1, cols_) - 1);
}

double Matrix::Item(std::int32_t i, std::int32_t j) const {
  return At(std::clamp(i, 1, rows_) - 1, std::clamp(j, 1, cols_) - 1);
}

Matrix Matrix::Product(const Matrix& a, const Matrix& b) {
  Matrix result(a.rows_, b.cols_);
  if (b.rows_ != a.cols_) return result;
  for (std::int32_t i = 0; i < a.rows_; ++i) {
    for (std::int32_t k = 0; k < b.cols_; ++k) {
      double sum = 0.0;
      for (std::int32_t j = 0; j < a.cols_; ++j) sum = sum + b.At(j, k) * a.At(i, j);
      result.At(i, k) = sum;
    }
  }
  return result;
}

Vector Matrix::Apply(const Matrix& a, const Vector& v) {
  Vector result(a.rows_);
  if (v.Length() != a.cols_) return result;
  for (std::int32_t i = 0; i < a.rows_; ++i) {
    double sum = 0.0;
    for (std::int32_t j = 0; j < a.cols_; ++j) sum = sum + a.At(i, j) * v.At(j);
    result.At(i) = sum;
  }
  return result;
}

void Matrix::MakeIdentity(std::int32_t n) {
  n = ClampSide(n);
  if (rows_ != n || cols_ != n) {
    rows_ = n;
    cols_ = n;
    data_.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
  } else {
    std::fill(data_.begin(), data_.end(), 0.0);
  }
  for (std::int32_t i = 0; i < n; ++i) At(i, i) = 1.0;
}

void Matrix::SwapRows(std::int32_t a, std::int32_t b) {
  if (a == b) return;
  for (std::int32_t j = 0; j < cols_; ++j) std::swap(At(a, j), At(b, j));
}

void Matrix::AddRowMultiple(std::int32_t a, std::int32_t b, double x) {
  for (std::int32_t j = 0; j < cols_; ++j) At(b, j) = At(b, j) + x * At(a, j);
}

void Matrix::ScaleRow(std::int32_t a, double x) {
  for (std::int32_t j = 0; j < cols_; ++j) At(a, j) = At(a, j) * x;
}

void Matrix::TransposeInto(Matrix& out) const {
  if (out.data_.size() != data_.size()) out.data_.assign(data_.size(), 0.0);
  out.rows_ = cols_;
  out.cols_ = rows_;
  for (std::int32_t i = 0; i < rows_; ++i)
    for (std::int32_t j = 0; j < cols_; ++j) out.At(j, i) = At(i, j);
}

bool Matrix::InvertInto(Matrix& out) const {
  if (rows_ != cols_) return false;
  const std::int32_t n = rows_;
  out.MakeIdentity(n);
  Matrix q = *this;
  for (std::int32_t i = 0; i < n; ++i) {
    double largest = 0.0;
    std::int32_t pivot = i;
    for (std::int32_t j = i; j < n; ++j) {
      const double magnitude = std::fabs(q.At(j, i));
      if (magnitude > largest) {
        largest = magnitude;
        pivot = j;
      }
    }
    if (largest < 1e-9) return false;
    if (pivot != i) {
      q.SwapRows(i, pivot);
      out.SwapRows(i, pivot);
    }
    const double r = 1.0 / q.At(i, i);
    q.ScaleRow(i, r);
    out.ScaleRow(i, r);
    for (std::int32_t j = i + 1; j < n; ++j) {
      const double x = -q.At(j, i);
      out.AddRowMultiple(i, j, x);
      q.AddRowMultiple(i, j, x);
    }
  }
  for (std::int32_t i = n - 1; i >= 1; --i) {
    for (std::int32_t j = 0; j < i; ++j) {
      const double x = -q.At(j, i);
      out.AddRowMultiple(i, j, x);
      q.AddRowMultiple(i, j, x);
    }
  }
  return true;
}

Vector SolveRidge(LsqWorkspace& workspace, const Vector& b, double lambda) {
  workspace.A.TransposeInto(workspace.transpose);
  workspace.normal = Matrix::Product(workspace.transpose, workspace.A);
  const std::int32_t n = workspace.A.Cols();
  for (std::int32_t i = 1; i <= n; ++i) workspace.normal.Item(i, i) += lambda;
  if (workspace.normal.InvertInto(workspace.inverse))
    return Matrix::Apply(workspace.inverse, Matrix::Apply(workspace.transpose, b));
  Vector uniform(n);
  for (std::int32_t i = 0; i < n; ++i) uniform.At(i) = 1.0 / n;
  return uniform;
}

}  // namespace tvq
