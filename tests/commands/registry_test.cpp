// The registry's preparations from settings structs (the application's dialogs) against
// its preparations from flags (the command-line tool, the library): the same memory
// model and estimate, and the remedies named the way each face names its settings.
#include "commands/registry.h"

#include <gtest/gtest.h>

#include <string>

namespace tvq {
namespace {

TEST(RegistryTest, RemediesNameFlagsOrCaptions) {
  EXPECT_EQ(SolverRemedy(ConvergenceMode::kExponential, SettingNames::kFlags),
            "lower --step, --maximum or --btv-base");
  EXPECT_EQ(SolverRemedy(ConvergenceMode::kConditional, SettingNames::kFlags),
            "lower --step, --maximum or --btv-base, or raise --factor");
  EXPECT_EQ(SolverRemedy(ConvergenceMode::kConditional, SettingNames::kCaptions),
            "lower \"Initial step\", \"Maximum\" or \"BTV base\", or raise \"Factor\"");
  EXPECT_EQ(DeringRemedy(SettingNames::kFlags), "lower --factor");
  EXPECT_EQ(DeringRemedy(SettingNames::kCaptions), "lower \"Factor\"");
}

struct PreparedCase {
  const char* command;
  SettingInputs flags;
  PreparedCommand (*typed)();
};

PreparedCommand TypedResample() {
  ResampleParams p;
  p.fractalSubstitution = true;
  EdgeMaskParams mask;
  DeringParams dering;
  dering.method = 3;
  OutputSizeParams size;
  size.enlarging = true;
  size.scale = 3.0;
  return PrepareResample(p, dering, mask, size, SizeRoute::kDirect, SettingNames::kCaptions);
}

PreparedCommand TypedDering() {
  return PrepareDering(DeringParams{}, std::nullopt, SettingNames::kCaptions);
}

PreparedCommand TypedResize() {
  OutputSizeParams size;
  size.enlarging = false;
  size.scale = 0.5;
  return PrepareResize(size, ResizeFilter::kMitchell);
}

PreparedCommand TypedMask() {
  return PrepareEdgeMask(EdgeMaskParams{});
}

TEST(RegistryTest, TypedPreparationsMatchTheFlags) {
  const PreparedCase cases[] = {
      {"resample",
       {{"fractal", true}, {"dering", 3.0}, {"mask", true}, {"scale", 3.0}},
       TypedResample},
      {"dering", {}, TypedDering},
      {"resize", {{"scale", 0.5}, {"filter", std::string("mitchell")}}, TypedResize},
      {"mask", {}, TypedMask},
  };
  for (const PreparedCase& c : cases) {
    SCOPED_TRACE(c.command);
    const PreparedCommand fromFlags = FindCommand(c.command)->prepare(c.flags, Spelling::kCallers);
    const PreparedCommand typed = c.typed();
    EXPECT_EQ(typed.memory, fromFlags.memory);
    EXPECT_EQ(typed.features.dering, fromFlags.features.dering);
    EXPECT_EQ(typed.features.mask, fromFlags.features.mask);
    EXPECT_EQ(typed.features.fractal, fromFlags.features.fractal);
    EXPECT_EQ(typed.doubles, fromFlags.doubles);
    EXPECT_EQ(typed.deringMethod, fromFlags.deringMethod);
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{33, 7000}})
      EXPECT_EQ(typed.Estimate(typed.features, w, h, 1000),
                fromFlags.Estimate(fromFlags.features, w, h, 1000));
  }
}

}  // namespace
}  // namespace tvq
