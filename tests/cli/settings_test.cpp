// Every setting descriptor: its bounds are accepted and values just outside them are
// refused, by the parameter structs' Validate() and by the command line (exit 2, one line
// naming the option, the value and the range).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "deringing/dering.h"
#include "deringing/edgemask.h"
#include "filters/canny.h"
#include "imaging/settingdesc.h"
#include "interpolation/interpolation.h"
#include "superres/resample.h"

namespace tvq {
namespace {

struct Case {
  const SettingDesc& setting;
  const char* command;             // nullptr: no command-line option
  std::vector<std::string> needs;  // options the option needs besides itself
  std::string prefix;
  std::function<void(double)> validate;  // nullptr: no parameter struct
};

template <typename Params, typename Member>
std::function<void(double)> Validates(Member Params::*member) {
  return [member](double value) {
    Params p;
    p.*member = static_cast<Member>(value);
    p.Validate();
  };
}

std::vector<Case> Cases() {
  const std::vector<std::string> none;
  const std::vector<std::string> mask = {"--mask"};
  const std::vector<std::string> dering = {"--dering", "0"};
  return {
      {kInitialStepSetting, "resample", none, "", Validates(&ResampleParams::initialStep)},
      // Up to 1000 only with a schedule that shrinks the step.
      {kFactorSetting,
       "resample",
       {"--convergence", "conditional"},
       "",
       [](double v) {
         ResampleParams p;
         p.convergence = ConvergenceMode::kConditional;
         p.factor = v;
         p.Validate();
       }},
      {kIterationsSetting, "resample", none, "", Validates(&ResampleParams::iterations)},
      {kMaximumSetting, "resample", none, "", Validates(&ResampleParams::maximum)},
      {kMinFactorSetting, "resample", none, "", Validates(&ResampleParams::minFactor)},
      {kThreshMinSetting, "resample", none, "", Validates(&ResampleParams::threshMin)},
      {kThreshMaxSetting, "resample", none, "", Validates(&ResampleParams::threshMax)},
      {kBtvBaseSetting, "resample", none, "", Validates(&ResampleParams::btvBase)},
      {kGaussRadiusSetting, "resample", none, "", Validates(&ResampleParams::gaussRadius)},
      {kNormSetting, "resample", none, "", Validates(&ResampleParams::norm)},
      {kDeringIterationsSetting, "dering", none, "", Validates(&DeringParams::iterations)},
      {kDeringFactorSetting, "dering", none, "", Validates(&DeringParams::factor)},
      {kDeringIterationsSetting, "resample", dering, "dering-", nullptr},
      {kDeringFactorSetting, "resample", dering, "dering-", nullptr},
      {kMaskGaussSetting, "mask", none, "", Validates(&EdgeMaskParams::gaussRadius)},
      {kMaskFilterRadiusSetting, "mask", none, "", Validates(&EdgeMaskParams::filterRadius)},
      {kMaskMultiplierSetting, "mask", none, "", Validates(&EdgeMaskParams::multiplier)},
      {kMaskNoiseLevelSetting, "dering", mask, "", Validates(&EdgeMaskParams::noiseLevel)},
      {kMaskMinimumBlockSizeSetting, nullptr, none, "",
       Validates(&EdgeMaskParams::minimumBlockSize)},
      {kMaskDilationSetting, "resample", mask, "", Validates(&EdgeMaskParams::dilationRadius)},
      {kMaskSmoothSetting, "mask", none, "", Validates(&EdgeMaskParams::smoothRadius)},
      {kMaskThresholdSetting, "mask", none, "", Validates(&EdgeMaskParams::threshold)},
      {kCannySigmaSetting, "canny", none, "", nullptr},
  };
}

std::string Text(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

test::RunResult RunTvq(const Case& c, const std::string& value) {
  std::vector<std::string> args(c.needs.begin(), c.needs.end());
  args.insert(args.end(), {"--" + c.prefix + c.setting.flag, value, "--quiet",
                           "/nonexistent-tvq-dir/in.bmp", "/nonexistent-tvq-dir/out.bmp"});
  return test::RunTvq(c.command, args);
}

TEST(SettingDescriptors, BoundsAreAcceptedAndValuesOutsideRefused) {
  for (const Case& c : Cases()) {
    const SettingDesc& d = c.setting;
    const std::string name = std::string(d.key) + " " + c.prefix;
    // Just outside: the next whole number, or a step a float still tells apart.
    const double step = d.whole ? 1.0 : std::max(std::fabs(d.maximum) * 1e-3, 1e-3);
    std::vector<double> accepted = {d.maximum, d.defaultValue};
    std::vector<double> refused = {d.maximum + step, std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity()};
    (d.exclusiveMinimum ? refused : accepted).push_back(d.minimum);
    refused.push_back(d.minimum - step);
    if (d.whole) refused.push_back(d.minimum + 0.5);

    // A whole-number member holds only whole numbers.
    const auto holds = [&d](double v) {
      return !d.whole || (std::isfinite(v) && v == std::floor(v));
    };
    for (double v : accepted) {
      if (c.validate) {
        EXPECT_NO_THROW(c.validate(v)) << name << " " << v;
      }
      // Accepted options go on to read the input, which does not exist.
      if (c.command) {
        EXPECT_EQ(RunTvq(c, Text(v)).status, 1) << name << " " << v;
      }
    }
    for (double v : refused) {
      if (c.validate && holds(v)) {
        try {
          c.validate(v);
          ADD_FAILURE() << name << " accepted " << v;
        } catch (const std::invalid_argument& e) {
          EXPECT_EQ(std::string(e.what()).rfind(CaptionName(d.caption) + ": ", 0), 0u) << e.what();
        }
      }
      if (!c.command || std::isnan(v)) continue;
      const std::string text = std::isinf(v) ? "inf" : Text(v);
      const test::RunResult r = RunTvq(c, text);
      EXPECT_EQ(r.status, 2) << name << " " << text;
      const std::string line = r.err.substr(0, r.err.find('\n'));
      EXPECT_EQ(line, "tvq " + std::string(c.command) + ": --" + c.prefix + d.flag + ": " +
                          RangeProblem(d, v, text))
          << r.err;
      EXPECT_NE(line.find(" the range is " + RangeText(d)), std::string::npos) << line;
    }
  }
}

TEST(SettingDescriptors, ChoicesListAsManyNamesAsCaptions) {
  for (const ChoiceDesc* c : {&kStabilizerSetting, &kInitialApproximationSetting,
                              &kConvergenceSetting, &kDeringMethodSetting, &kDeringInitialSetting,
                              &kEdgeMeasurementSetting, &kUpscaleMethodSetting}) {
    if (!c->captions.empty() && !c->names.empty()) {
      EXPECT_EQ(c->captions.size(), c->names.size()) << c->key;
    }
    EXPECT_TRUE(c->defaultIndex == -1 || c->Contains(c->defaultIndex)) << c->key;
    EXPECT_FALSE(c->Contains(c->Count())) << c->key;
  }
}

// The settings that only make sense together.
TEST(SettingDescriptors, ExponentialConvergenceTakesAFactorOfAtMostOne) {
  ResampleParams p;
  p.factor = 1.0;
  EXPECT_NO_THROW(p.Validate());
  p.factor = 1.5;
  EXPECT_THROW(p.Validate(), SettingError);
  p.convergence = ConvergenceMode::kConditional;
  EXPECT_NO_THROW(p.Validate());
}

}  // namespace
}  // namespace tvq
