// Small dense linear algebra in double precision, sized for the per-pixel
// least-squares fits of the NEDI interpolator (at most 16 equations, 12 unknowns).
//
// Rules shared by the routines of this module:
// - Every element and every partial sum is a double; sums run in increasing index.
// - Matrix dimensions are clamped into 1..10000, vector lengths to at least 1.
// - 0-based accessors (At) do no checking; 1-based accessors (Item) clamp the
//   index into range.
// - Shape mismatches give zero results of the outer shape, never an exception.
#pragma once

#include <cstdint>
#include <vector>

namespace tvq {

class Vector {
 public:
  // length below 1 becomes 1; all elements 0.0.
  explicit Vector(std::int32_t length);

  double& At(std::int32_t i) { return data_[static_cast<std::size_t>(i)]; }
  double At(std::int32_t i) const { return data_[static_cast<std::size_t>(i)]; }
  // 1-based, i clamped into 1..Length().
  double& Item(std::int32_t i);
  double Item(std::int32_t i) const;
  std::int32_t Length() const { return length_; }

 private:
  std::vector<double> data_;
  std::int32_t length_;
};

class Matrix {
 public:
  static constexpr std::int32_t kMaxSide = 10000;

  // Each dimension is clamped into 1..10000; all elements 0.0.
  Matrix(std::int32_t rows, std::int32_t cols);

  // Row-major element (i, j), 0-based, unchecked.
  double& At(std::int32_t i, std::int32_t j) {
    return data_[static_cast<std::size_t>(i) * static_cast<std::size_t>(cols_) +
                 static_cast<std::size_t>(j)];
  }
  double At(std::int32_t i, std::int32_t j) const {
    return data_[static_cast<std::size_t>(i) * static_cast<std::size_t>(cols_) +
                 static_cast<std::size_t>(j)];
  }
  // 1-based element with i clamped into 1..Rows() and j into 1..Cols().
  double& Item(std::int32_t i, std::int32_t j);
  double Item(std::int32_t i, std::int32_t j) const;
  std::int32_t Rows() const { return rows_; }
  std::int32_t Cols() const { return cols_; }

  // A.Rows() x B.Cols(); element (i, k) = sum over j of B(j, k) * A(i, j) when
  // B.Rows() == A.Cols(), otherwise all zero.
  static Matrix Product(const Matrix& a, const Matrix& b);
  // Length A.Rows(); element i = sum over j of A(i, j) * v(j) when v.Length() ==
  // A.Cols(), otherwise all zero.
  static Vector Apply(const Matrix& a, const Vector& v);

  // Becomes the n x n identity (n clamped like a dimension).
  void MakeIdentity(std::int32_t n);
  // Row operations, 0-based rows, over all columns.
  void SwapRows(std::int32_t a, std::int32_t b);
  void AddRowMultiple(std::int32_t a, std::int32_t b, double x);  // row b += x * row a
  void ScaleRow(std::int32_t a, double x);                        // row a *= x
  // out becomes Cols() x Rows() with out(j, i) = this(i, j).
  void TransposeInto(Matrix& out) const;
  // Gauss-Jordan inversion with partial pivoting (a later row is taken as pivot
  // only when strictly larger in magnitude). False for a non-square matrix (out
  // untouched) or when a pivot falls below 1e-9 (out then holds partial work).
  // This matrix is not changed.
  bool InvertInto(Matrix& out) const;

 private:
  std::int32_t rows_;
  std::int32_t cols_;
  std::vector<double> data_;
};

// The design matrix of a least-squares fit and three work matrices that
// SolveRidge reshapes and overwrites; reusable for many solves of one shape.
struct LsqWorkspace {
  // A is m x n; the work matrices start as 1 x 1.
  LsqWorkspace(std::int32_t m, std::int32_t n)
      : A(m, n), inverse(1, 1), normal(1, 1), transpose(1, 1) {}
  Matrix A;
  Matrix inverse;
  Matrix normal;
  Matrix transpose;
};

// Ridge-regularised least squares: (A^T A + lambda I)^-1 A^T b, of length
// A.Cols(). When the normal matrix is singular, every element is 1 / A.Cols().
Vector SolveRidge(LsqWorkspace& workspace, const Vector& b, double lambda);

}  // namespace tvq
