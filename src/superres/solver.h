// Super-resolution solver: steepest descent on a regularized functional that
// turns a low-resolution luminance plane Y (w x h) into an estimate X of twice its
// width and height.
//
// Rules shared by every routine of this module:
// - Low-resolution pixel (x, y) sits on high-resolution pixel (2x, 2y); there is no
//   half-pixel shift. X, the weight map W and the gradient G are 2w x 2h.
// - Every neighbour read goes through the clamping accessor (edge replication); no
//   stencil has any other border handling.
// - Planes are float; each value is computed in double and rounded to float when
//   it is stored. Every addition to G is rounded to float before the next one.
// - sign(t) is +1, -1 or 0 for the difference of two floats widened to double.
// - Size mismatches between the planes throw EZorException(ecBadSize).
//
// Speed: every routine has a plain single-thread loop (selected by ReferenceKernels())
// and a fast path on the process arena with SIMD lanes; both give the same floats.
// Which loops depend on order, and how the fast path keeps it:
// - The mean residual of the data term is one float running sum, x outer, y inner.
//   The blurred samples it reads are computed in parallel; the sum itself runs
//   serially in that order, beside the rest of the step, which does not need it.
// - The Gaussian passes are float running sums over the taps in increasing order; the
//   fast path keeps the order per pixel and runs pixels in lanes and rows in threads.
// - G is rounded to float after every stabilizer offset, in the offsets' order; pixels
//   are independent, so they run in lanes and rows in threads.
// - Everything else (descent, Laplacian, colour and weight-map loops) writes each
//   pixel once from its own inputs, in any order.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/imagefmt.h"
#include "imaging/progress.h"
#include "imaging/settingdesc.h"

namespace tvq {

// Largest (bilateral) TV radius: the distance weight table has 101 entries,
// indexed by l^2 + m^2 of an offset.
inline constexpr std::int32_t kMaxStabilizerRadius = 7;
inline constexpr std::int32_t kDistanceTableSize = 101;

// The stabilizers of the "Stabilizer" choice, in the order of its items.
enum class Stabilizer : std::int32_t {
  kLaplace = 0,            // "Laplas (norm 2)"
  kTotalVariation = 1,     // "Total Variation (norm 1)"
  kBilateralTv3 = 2,       // "Bilateral TV 3x3 (norm 1)"
  kBilateralTv5 = 3,       // "Bilateral TV 5x5 (norm 1)"
  kBilateralTv3Mixed = 4,  // "Bilateral TV 3x3 (mixed)"
};
inline constexpr std::int32_t kStabilizerCount = 5;
inline constexpr const char* kStabilizerCaptions[kStabilizerCount] = {
    "Laplas (norm 2)", "Total Variation (norm 1)", "Bilateral TV 3x3 (norm 1)",
    "Bilateral TV 5x5 (norm 1)", "Bilateral TV 3x3 (mixed)"};

// How the step base changes from iteration to iteration.
enum class ConvergenceMode : std::int32_t {
  kFixedSteps = 0,   // "Fixed steps": never changes
  kExponential = 1,  // "Exponential"
  kConditional = 2,  // "Conditional"
};
inline constexpr std::int32_t kConvergenceModeCount = 3;
inline constexpr const char* kConvergenceCaptions[kConvergenceModeCount] = {
    "Fixed steps", "Exponential", "Conditional"};

// The solver's settings of the Resampling Settings dialog, from which the defaults of
// SolverSettings and IterationParams come. The ranges keep every value the dialog has
// ever offered by default working and refuse what makes the solver run away; the
// measurements are of the resample command on the sample photographs (128 x 128 to
// 192 x 192, default settings otherwise), reading the range of the result's grey levels.
inline constexpr const char* kConvergenceNames[kConvergenceModeCount] = {"fixed", "exponential",
                                                                         "conditional"};
inline constexpr ChoiceDesc kConvergenceSetting{
    .key = "resample/convergence",
    .caption = "Convergence",
    .flag = "convergence",
    .captions = kConvergenceCaptions,
    .names = kConvergenceNames,
    .defaultIndex = static_cast<std::int32_t>(ConvergenceMode::kExponential),
    .help = "step schedule"};
// 0 to 1000: the default stabilizer keeps the grey levels within about -40 .. 290 up to
// 1000 and runs away from 10^4 (-500 .. 690; 10^10 gives +-5e8, 1e308 NaN).
inline constexpr SettingDesc kInitialStepSetting{.key = "resample/initialStep",
                                                 .caption = "Initial step",
                                                 .flag = "step",
                                                 .valueName = "S",
                                                 .minimum = 0.0,
                                                 .maximum = 1000.0,
                                                 .defaultValue = 5.0,
                                                 .help = "initial step"};
// Above 0, at most 1000: the schedule divides or multiplies the step by it. In the
// Exponential mode a factor above 1 makes the step grow every iteration (1.1: -590 .. 830,
// 2: +-1.8e12), so there Validate() allows at most 1; in the Conditional mode a larger
// factor shrinks the step and stays sound up to 1e308, yet beyond 1000 the step is
// practically 0 after the first change. The Conditional mode grows the step by 1 / factor
// whenever the residual has risen twice, so a factor below 1 runs away gradually (0.9:
// -83 .. 318, the default 0.875: -117 .. 343, 0.6: +-6e3, 1e-10: inf) with no bound to
// draw that would keep the dialog's default; the result shows it.
inline constexpr SettingDesc kFactorSetting{
    .key = "resample/factor",
    .caption = "Factor",
    .flag = "factor",
    .valueName = "F",
    .minimum = 0.0,
    .maximum = 1000.0,
    .exclusiveMinimum = true,
    .defaultValue = 0.875,
    .help = "step factor; at most 1 with --convergence exponential"};
inline constexpr SettingDesc kIterationsSetting{
    .key = "resample/iterations",
    .caption = "Iterations",
    .flag = "iterations",
    .valueName = "N",
    .minimum = 0.0,
    .maximum = 100000.0,
    .whole = true,
    .defaultValue = 40.0,
    .help = "solver iterations, 0 = the initial approximation"};
// 0 to 2: above 1 far offsets weigh more than near ones; the 5 x 5 stabilizer runs away
// from 10 (-315 .. 598) and the 3 x 3 one from 100 (-491 .. 685; 1e38 gives NaN).
inline constexpr SettingDesc kBtvBaseSetting{.key = "resample/btvBase",
                                             .caption = "BTV base",
                                             .flag = "btv-base",
                                             .valueName = "B",
                                             .minimum = 0.0,
                                             .maximum = 2.0,
                                             .defaultValue = 0.8,
                                             .help = "bilateral TV distance base"};
// 0 to 100: the blur has seven taps, which are all but equal from a sigma of 10 on.
inline constexpr SettingDesc kGaussRadiusSetting{.key = "resample/gaussRadius",
                                                 .caption = "Gauss rad:",
                                                 .flag = "gauss-radius",
                                                 .valueName = "R",
                                                 .minimum = 0.0,
                                                 .maximum = 100.0,
                                                 .defaultValue = 1.0,
                                                 .help = "blur of the imaging model"};
// 1 to 2: the data term is meant for norms from 1 (sign) to 2 (the residual itself).
inline constexpr SettingDesc kNormSetting{
    .key = "resample/norm",
    .caption = "Norm:",
    .flag = "norm",
    .valueName = "P",
    .minimum = 1.0,
    .maximum = 2.0,
    .defaultValue = 1.0,
    .help =
        "data norm; the stabilizer sets its own (2 for laplace, 1 otherwise), so this value is "
        "checked but has no effect"};

// What every step reads: filled by the caller before the first iteration.
struct SolverSettings {
  // sigma of the blur of the imaging model; 0 = no blur
  double gaussRadius = kGaussRadiusSetting.defaultValue;
  // base of the distance weights, entry k = base^sqrt(k)
  double btvBase = kBtvBaseSetting.defaultValue;
  // norm of the data term; truncated, of the stabilizer
  double norm = kNormSetting.defaultValue;
  // The radius and step base that ConfigureStabilizer sets for the dialog's default
  // stabilizer, bilateral TV 3x3.
  std::int32_t stabilizerRadius = 1;  // 0 = TV, 1 = 3x3, 2 = 5x5, at most 7
  double stepBase = 50.0;             // the multiplier the schedule changes

  // Throws SettingError for a Gauss radius below 0 (or not finite), a
  // stabilizer radius outside 0..7, a negative or non-finite BTV base, a norm that
  // is not finite or whose integer part does not fit 32 bits, a non-finite step
  // base. The step functions and RunIterations call it first.
  void Validate() const;
};

// What every step reports.
struct SolverMeasures {
  // Mean absolute residual |D H X - Y| of the last data term in norm 1; any other
  // norm leaves it 0.
  float meanResidual = 0.0f;
};

// G = H^T D^T psi(D H X - Y): G is overwritten entirely. r is the Gauss radius of
// the blur H (7 taps; r <= 0 skips the forward blur, the back-projection blur runs
// with r), p the data norm: 2 gives psi = identity, 1 the sign (and the mean
// residual), any other value the signed power |d|^(p-1).
void DataFidelityGradient(const TImageF& x, const TImageF& y, TImageF& g, double r, double p,
                          SolverMeasures& measures);

// Adds the TV (radius 0) or bilateral TV (radius 1..7) subgradient, multiplied
// per pixel by W, to G. The term is the norm-1 one: sign differences weighted by
// base^sqrt(l^2 + m^2) for bilateral TV, by 1 for TV. Throws SettingError
// for a radius outside 0..7.
void BtvGradient(const TImageF& x, TImageF& g, const TImageF& w, double base, std::int32_t radius);

// Adds the Laplacian stabilizer gradient in norm p (an integer), multiplied per
// pixel by W, to G. The Laplacian is clamped to [-1e10, 1e10].
void LaplaceGradient(const TImageF& x, TImageF& g, const TImageF& w, std::int32_t p);

// X = X - s * G, in place (equal sizes; EZorException(ecBadSize) otherwise).
void Descend(TImageF& x, const TImageF& g, double s);

// One descent step X = X - s * G, in place. The data term uses the norm of the
// settings; the stabilizer is BtvGradient with the settings' radius. Invalid
// settings (SolverSettings::Validate) throw before X is touched.
void SolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                const SolverSettings& settings, SolverMeasures& measures);
// Data term in norm 2, BtvGradient (norm 1) with the settings' radius.
void MixedSolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                     const SolverSettings& settings, SolverMeasures& measures);
// Data term in the settings' norm, LaplaceGradient in that norm truncated.
void LaplaceSolverStep(TImageF& x, const TImageF& y, const TImageF& w, double s,
                       const SolverSettings& settings, SolverMeasures& measures);

// Sets norm, radius and step base for a stabilizer: Laplace -> norm 2, radius
// unchanged, step base 0.5; TV -> 1, 0, 50; bilateral 3x3 -> 1, 1, 50; mixed -> 1, 1,
// 0.5; bilateral 5x5 -> 1, 2, 50. The Gauss radius and BTV base are left as they are.
void ConfigureStabilizer(Stabilizer stabilizer, SolverSettings& settings);

// Runs one step of the chosen stabilizer's step function.
void StabilizerStep(Stabilizer stabilizer, TImageF& x, const TImageF& y, const TImageF& w, double s,
                    const SolverSettings& settings, SolverMeasures& measures);

// The step-base schedule of the iteration control.
class StepSchedule {
 public:
  StepSchedule(ConvergenceMode mode, double factor, bool blackStart, double stepBase)
      : mode_(mode), factor_(factor), blackStart_(blackStart), stepBase_(stepBase) {}

  // Updates and returns the step base for iteration k, given the mean residuals
  // of the iterations finished so far (residuals[i] of iteration i).
  double Next(std::int32_t k, const std::vector<float>& residuals);

  double StepBase() const { return stepBase_; }
  std::int32_t IncreaseCount() const { return increases_; }

 private:
  ConvergenceMode mode_;
  double factor_;
  bool blackStart_;
  double stepBase_;
  std::int32_t increases_ = 0;
};

// How a schedule of `mode` judges a series of mean residuals, for parts of a picture
// that are to step as the whole does (SharedResiduals): fixed steps and the exponential
// decay from a black start never read residuals; the exponential mode has decided every
// later step once the residual has risen twice; the conditional mode keeps deciding
// from residuals that only a run under its own decisions gives.
ScheduleOutlook ScheduleOutlookOf(ConvergenceMode mode, bool blackStart,
                                  const std::vector<float>& residuals);

// The residuals one solve's schedule reads: the progress's shared ones when it shares
// them (the solve announces itself on construction, with the grid of `y`), the solve's
// own otherwise. `sum` adds up the residuals of a rectangle of the grid for the current
// iterate (empty for data norms whose residual is not measured).
class ResidualFeed {
 public:
  ResidualFeed(Progress& progress, ConvergenceMode mode, bool blackStart, const TImageF& y,
               ResidualSum sum);
  // The residual the schedule reads for iteration k, which ended with `own`.
  float operator()(std::int32_t k, float own) const {
    return shared_ ? shared_->Residual(solve_, k, own) : own;
  }

 private:
  SharedResiduals* shared_;
  std::int32_t solve_ = 0;
};

// The sum, in double, of |B(2 lx, 2 ly) - Y(lx, ly)| over [x0, x1) x [y0, y1) of the
// grid of `y`, B the estimate `x` blurred as the two-times data term blurs it (Gauss
// radius r; none for r <= 0): the residual that term measures in norm 1, per pixel.
double TwoTimesResidualSum(const TImageF& x, const TImageF& y, double r, std::int32_t x0,
                           std::int32_t y0, std::int32_t x1, std::int32_t y1);

// Inputs of the iteration control besides the planes and the solver settings.
struct IterationParams {
  std::int32_t iterations = static_cast<std::int32_t>(kIterationsSetting.defaultValue);  // N
  double initialStep = kInitialStepSetting.defaultValue;  // s0; each step is step base * s0
  double factor = kFactorSetting.defaultValue;            // f
  ConvergenceMode mode = static_cast<ConvergenceMode>(kConvergenceSetting.defaultIndex);
  bool blackStart = false;     // the initial approximation is "Black image"
  bool showIterations = true;  // hand every iterate to Progress::ShowIterate
  // maximum of the progress bar (N + 15)
  std::int32_t progressMaximum = static_cast<std::int32_t>(kIterationsSetting.defaultValue) + 15;
  std::int32_t progressOffset = 15;  // position of iteration k is k + offset
};

// Runs up to N iterations on X in place: "Iterations [k]" progress, schedule,
// step, ShowIterate (when wanted), then leaves the loop if StopRequested.
// `settings.stepBase` must already hold the stabilizer's (scaled) step base.
// Returns the mean residuals of the finished iterations (a stopped iteration is
// not recorded).
std::vector<float> RunIterations(TImageF& x, const TImageF& y, const TImageF& w,
                                 Stabilizer stabilizer, const SolverSettings& settings,
                                 const IterationParams& params, Progress& progress);
// The same with the weight `weight` at every pixel, without a weight plane.
std::vector<float> RunIterations(TImageF& x, const TImageF& y, float weight, Stabilizer stabilizer,
                                 const SolverSettings& settings, const IterationParams& params,
                                 Progress& progress);

}  // namespace tvq
