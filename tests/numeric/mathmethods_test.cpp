#include "numeric/mathmethods.h"

#include <gtest/gtest.h>

namespace tvq {
namespace {

Matrix FromRows(std::initializer_list<std::initializer_list<double>> rows) {
  Matrix m(static_cast<std::int32_t>(rows.size()), static_cast<std::int32_t>(rows.begin()->size()));
  std::int32_t i = 0;
  for (const auto& row : rows) {
    std::int32_t j = 0;
    for (double v : row) m.At(i, j++) = v;
    ++i;
  }
  return m;
}

Vector FromValues(std::initializer_list<double> values) {
  Vector v(static_cast<std::int32_t>(values.size()));
  std::int32_t i = 0;
  for (double x : values) v.At(i++) = x;
  return v;
}

TEST(Matrix, DimensionsAreClampedAndZeroFilled) {
  Matrix m(0, 20000);
  EXPECT_EQ(m.Rows(), 1);
  EXPECT_EQ(m.Cols(), 10000);
  EXPECT_EQ(m.At(0, 0), 0.0);
  EXPECT_EQ(m.At(0, 9999), 0.0);
  Vector v(-3);
  EXPECT_EQ(v.Length(), 1);
  EXPECT_EQ(v.At(0), 0.0);
}

TEST(Matrix, OneBasedItemClampsIntoRange) {
  Matrix m = FromRows({{1, 2, 3}, {4, 5, 6}});
  EXPECT_EQ(m.Item(0, 0), 1.0);
  EXPECT_EQ(m.Item(-7, 2), 2.0);
  EXPECT_EQ(m.Item(m.Rows() + 5, m.Cols() + 5), 6.0);
  m.Item(9, 1) = 40.0;
  EXPECT_EQ(m.At(1, 0), 40.0);
  Vector v = FromValues({7, 8, 9});
  EXPECT_EQ(v.Item(0), 7.0);
  EXPECT_EQ(v.Item(2), 8.0);
  EXPECT_EQ(v.Item(100), 9.0);
}

TEST(Matrix, ProductAndApply) {
  const Matrix a = FromRows({{1, 2, 3}, {4, 5, 6}});
  const Matrix b = FromRows({{1, 0}, {0, 1}, {2, -1}});
  const Matrix p = Matrix::Product(a, b);
  ASSERT_EQ(p.Rows(), 2);
  ASSERT_EQ(p.Cols(), 2);
  EXPECT_EQ(p.At(0, 0), 7.0);
  EXPECT_EQ(p.At(0, 1), -1.0);
  EXPECT_EQ(p.At(1, 0), 16.0);
  EXPECT_EQ(p.At(1, 1), -1.0);
  const Vector v = Matrix::Apply(a, FromValues({1, -1, 2}));
  ASSERT_EQ(v.Length(), 2);
  EXPECT_EQ(v.At(0), 5.0);
  EXPECT_EQ(v.At(1), 11.0);
}

TEST(Matrix, ShapeMismatchGivesZeroResultOfOuterShape) {
  const Matrix a = FromRows({{1, 2, 3}, {4, 5, 6}});
  const Matrix p = Matrix::Product(a, a);
  ASSERT_EQ(p.Rows(), 2);
  ASSERT_EQ(p.Cols(), 3);
  for (std::int32_t i = 0; i < 2; ++i)
    for (std::int32_t j = 0; j < 3; ++j) EXPECT_EQ(p.At(i, j), 0.0);
  const Vector v = Matrix::Apply(a, FromValues({1, 2}));
  ASSERT_EQ(v.Length(), 2);
  EXPECT_EQ(v.At(0), 0.0);
  EXPECT_EQ(v.At(1), 0.0);
}

TEST(Matrix, RowOperationsTransposeAndIdentity) {
  Matrix m = FromRows({{1, 2}, {3, 4}, {5, 6}});
  m.SwapRows(0, 2);
  m.AddRowMultiple(0, 1, -2.0);  // row 1 = (3, 4) - 2 (5, 6)
  m.ScaleRow(2, 0.5);
  EXPECT_EQ(m.At(0, 0), 5.0);
  EXPECT_EQ(m.At(1, 0), -7.0);
  EXPECT_EQ(m.At(1, 1), -8.0);
  EXPECT_EQ(m.At(2, 1), 1.0);
  Matrix t(1, 1);
  m.TransposeInto(t);
  ASSERT_EQ(t.Rows(), 2);
  ASSERT_EQ(t.Cols(), 3);
  EXPECT_EQ(t.At(1, 0), m.At(0, 1));
  EXPECT_EQ(t.At(0, 2), m.At(2, 0));
  t.MakeIdentity(3);
  ASSERT_EQ(t.Rows(), 3);
  for (std::int32_t i = 0; i < 3; ++i)
    for (std::int32_t j = 0; j < 3; ++j) EXPECT_EQ(t.At(i, j), i == j ? 1.0 : 0.0);
}

TEST(Matrix, InvertSwapsRowsForZeroPivot) {
  const Matrix m = FromRows({{0, 1}, {1, 0}});
  Matrix inverse(1, 1);
  ASSERT_TRUE(m.InvertInto(inverse));
  EXPECT_EQ(inverse.At(0, 0), 0.0);
  EXPECT_EQ(inverse.At(0, 1), 1.0);
  EXPECT_EQ(inverse.At(1, 0), 1.0);
  EXPECT_EQ(inverse.At(1, 1), 0.0);
  EXPECT_EQ(m.At(0, 1), 1.0);  // the matrix itself is unchanged
}

TEST(Matrix, InvertGivesTheInverse) {
  const Matrix m = FromRows({{2, -1, 0, 1}, {-1, 3, 1, 0}, {0, 1, 4, -2}, {1, 0, -2, 5}});
  Matrix inverse(1, 1);
  ASSERT_TRUE(m.InvertInto(inverse));
  const Matrix identity = Matrix::Product(m, inverse);
  for (std::int32_t i = 0; i < 4; ++i)
    for (std::int32_t j = 0; j < 4; ++j) EXPECT_NEAR(identity.At(i, j), i == j ? 1.0 : 0.0, 1e-12);
}

TEST(Matrix, InvertRefusesSingularAndNonSquare) {
  Matrix out(1, 1);
  EXPECT_FALSE(FromRows({{1e-10, 0}, {0, 1}}).InvertInto(out));
  EXPECT_FALSE(FromRows({{1, 2}, {2, 4}}).InvertInto(out));
  Matrix untouched = FromRows({{9}});
  EXPECT_FALSE(FromRows({{1, 2, 3}, {4, 5, 6}}).InvertInto(untouched));
  EXPECT_EQ(untouched.Rows(), 1);
  EXPECT_EQ(untouched.At(0, 0), 9.0);
}

TEST(SolveRidge, UnregularisedGivesOrdinaryLeastSquares) {
  LsqWorkspace workspace(3, 2);
  workspace.A = FromRows({{1, 0}, {0, 1}, {1, 1}});
  const Vector x = SolveRidge(workspace, FromValues({1, 2, 4}), 0.0);
  ASSERT_EQ(x.Length(), 2);
  EXPECT_NEAR(x.At(0), 4.0 / 3.0, 1e-14);
  EXPECT_NEAR(x.At(1), 7.0 / 3.0, 1e-14);
}

TEST(SolveRidge, RidgeShrinksTheSolution) {
  LsqWorkspace workspace(2, 2);
  workspace.A = FromRows({{1, 0}, {0, 1}});
  const Vector x = SolveRidge(workspace, FromValues({1, 2}), 1.0);
  EXPECT_DOUBLE_EQ(x.At(0), 0.5);
  EXPECT_DOUBLE_EQ(x.At(1), 1.0);
}

TEST(SolveRidge, ZeroDesignMatrix) {
  LsqWorkspace workspace(16, 4);
  const Vector b = FromValues({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const Vector uniform = SolveRidge(workspace, b, 0.0);
  ASSERT_EQ(uniform.Length(), 4);
  for (std::int32_t i = 0; i < 4; ++i) EXPECT_EQ(uniform.At(i), 0.25);
  const Vector zero = SolveRidge(workspace, b, 0.1);
  ASSERT_EQ(zero.Length(), 4);
  for (std::int32_t i = 0; i < 4; ++i) EXPECT_EQ(zero.At(i), 0.0);
}

}  // namespace
}  // namespace tvq
