// README's table of deringing methods is the method table (dering.h) written out:
// adding or changing a method changes the README in the same commit.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "deringing/dering.h"

namespace tvq {
namespace {

const char* RoutineText(DeringFamily family) {
  switch (family) {
    case DeringFamily::kGlobal:
      return "every row and column, offset refitted";
    case DeringFamily::kGlobalFixed:
      return "every row and column, offset fitted once";
    case DeringFamily::kWindows:
      return "a window around every pixel";
    case DeringFamily::kBlocks:
      return "overlapping blocks";
    case DeringFamily::kSimplest:
      return "none; after resample, a clamp into the low-resolution range";
  }
  return "";
}

std::string ShapeText(const DeringMethod& m) {
  switch (m.family) {
    case DeringFamily::kGlobal:
    case DeringFamily::kGlobalFixed:
      return "whole lines";
    case DeringFamily::kWindows:
      return std::to_string(m.shape.size) + " samples";
    case DeringFamily::kBlocks:
      return std::to_string(m.shape.size) + " x " + std::to_string(m.shape.size) + ", step " +
             std::to_string(m.shape.step);
    case DeringFamily::kSimplest:
      break;
  }
  return "-";
}

// The table as README holds it between its two marker lines.
std::string MethodTable() {
  std::ostringstream out;
  out << "| `--method` | Caption | Routine | Window or block | Memory per input pixel |\n"
      << "|---|---|---|---|---|\n";
  for (std::int32_t i = 0; i < kDeringMethodCount; ++i) {
    const DeringMethod& m = kDeringMethods[static_cast<std::size_t>(i)];
    out << "| " << i << " | " << m.caption << " | " << RoutineText(m.family) << " | "
        << ShapeText(m) << " | " << m.bytesPerPixel << " B |\n";
  }
  return out.str();
}

TEST(DeringReadmeTest, TableOfMethodsIsTheMethodTable) {
  std::ifstream in(TVQ_README);
  ASSERT_TRUE(in) << TVQ_README;
  std::stringstream text;
  text << in.rdbuf();
  const std::string readme = text.str();
  const std::string begin = "<!-- methods of dering.h: begin -->\n";
  const std::string end = "<!-- methods of dering.h: end -->";
  const std::size_t from = readme.find(begin);
  const std::size_t to = readme.find(end);
  ASSERT_NE(from, std::string::npos);
  ASSERT_NE(to, std::string::npos);
  ASSERT_LT(from, to);
  EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), MethodTable());
}

}  // namespace
}  // namespace tvq
