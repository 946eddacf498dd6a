// The Python module `tvq`: numpy arrays in and out of the public API. Bindings only:
// the work, the settings' names, defaults, ranges and messages come from libtvq.
//
// Arrays are H x W (grey), H x W x 2 (grey, alpha), H x W x 3 (RGB) or H x W x 4 (RGBA)
// of uint8, uint16 or float32 (0..255 scale); rows are read through their strides and
// other layouts copied first. The GIL is released while a command runs; the progress
// hook takes it back on the calling thread to call the user's callable and to look for
// Ctrl+C, which then raises KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <signal.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "tvq/tvq.hpp"

namespace py = pybind11;

namespace {

// A raised Python error kept until the call returns; the GIL is held whenever one is
// made or dropped (inside the hook, and after the call).
struct PendingError {
  std::optional<py::error_already_set> error;
};

py::object StoppedType() {
  static py::object type = py::module_::import("tvq").attr("Stopped");
  return type;
}

// Raises the Python exception for an Error: ValueError for settings and pictures that
// cannot be processed (OSError for files being read or written), MemoryError, and
// tvq.Stopped when the progress callable returned False.
[[noreturn]] void Raise(const tvq::Error& e, bool files) {
  switch (e.kind()) {
    case tvq::Error::Kind::kSetting:
      throw py::value_error(e.what());
    case tvq::Error::Kind::kFile:
      if (files) {
        PyErr_SetString(PyExc_OSError, e.what());
        throw py::error_already_set();
      }
      throw py::value_error(e.what());
    case tvq::Error::Kind::kMemory:
      PyErr_SetString(PyExc_MemoryError, e.what());
      throw py::error_already_set();
    case tvq::Error::Kind::kStopped:
      PyErr_SetString(StoppedType().ptr(), e.what());
      throw py::error_already_set();
  }
  throw py::value_error(e.what());
}

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) text += (i ? ", " : "") + std::to_string(a.shape(i));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

// The view of an array, which `keep` holds (a contiguous copy when its pixels are not
// laid out as interleaved samples).
tvq::ImageView ViewOf(const py::handle& object, const char* what, py::array& keep) {
  if (!py::isinstance<py::array>(object))
    throw py::type_error(std::string(what) + ": expected a numpy array of uint8, uint16 or " +
                         "float32, got " +
                         std::string(py::str(object.get_type().attr("__name__"))));
  keep = py::reinterpret_borrow<py::array>(object);
  tvq::ImageView view;
  if (keep.dtype().is(py::dtype::of<std::uint8_t>()) ||
      keep.dtype().equal(py::dtype::of<std::uint8_t>()))
    view.type = tvq::SampleType::kUInt8;
  else if (keep.dtype().equal(py::dtype::of<std::uint16_t>()))
    view.type = tvq::SampleType::kUInt16;
  else if (keep.dtype().equal(py::dtype::of<float>()))
    view.type = tvq::SampleType::kFloat32;
  else
    throw py::type_error(std::string(what) + ": dtype " + std::string(py::str(keep.dtype())) +
                         " is not supported; expected uint8, uint16 or float32 (native order)");
  const bool shapeOk =
      keep.ndim() == 2 || (keep.ndim() == 3 && keep.shape(2) >= 1 && keep.shape(2) <= 4);
  if (!shapeOk)
    throw py::value_error(std::string(what) + ": shape " + ShapeText(keep) +
                          " is not an image; expected H x W, H x W x 3 or H x W x 4 (RGB, alpha " +
                          "last; H x W x 1 and H x W x 2 for grey and grey with alpha)");
  if (keep.shape(0) < 1 || keep.shape(1) < 1 || keep.shape(0) > 65535 || keep.shape(1) > 65535)
    throw py::value_error(std::string(what) + ": shape " + ShapeText(keep) +
                          "; each side must lie in 1..65535");
  const py::ssize_t channels = keep.ndim() == 3 ? keep.shape(2) : 1;
  const py::ssize_t item = keep.itemsize();
  const bool interleaved =
      keep.strides(1) == item * channels && (keep.ndim() == 2 || keep.strides(2) == item);
  const py::ssize_t rowBytes = keep.shape(1) * channels * item;
  if (!interleaved || (keep.shape(0) > 1 && std::abs(keep.strides(0)) < rowBytes))
    keep = py::module_::import("numpy").attr("ascontiguousarray")(keep);
  view.data = keep.data();
  view.height = static_cast<std::int32_t>(keep.shape(0));
  view.width = static_cast<std::int32_t>(keep.shape(1));
  view.channels = static_cast<std::int32_t>(channels);
  view.rowStride = keep.shape(0) > 1 ? keep.strides(0) : rowBytes;
  return view;
}

// An array that owns the image: H x W for one channel, H x W x C otherwise.
py::array ArrayOf(tvq::Image&& image) {
  auto* owned = new tvq::Image(std::move(image));
  py::capsule free(owned, [](void* p) { delete static_cast<tvq::Image*>(p); });
  const py::dtype dtype = owned->Type() == tvq::SampleType::kUInt8 ? py::dtype::of<std::uint8_t>()
                          : owned->Type() == tvq::SampleType::kUInt16
                              ? py::dtype::of<std::uint16_t>()
                              : py::dtype::of<float>();
  const auto item = static_cast<py::ssize_t>(tvq::SampleBytes(owned->Type()));
  std::vector<py::ssize_t> shape{owned->Height(), owned->Width()};
  std::vector<py::ssize_t> strides{owned->RowStride(), item * owned->Channels()};
  if (owned->Channels() > 1) {
    shape.push_back(owned->Channels());
    strides.push_back(item);
  }
  return py::array(dtype, shape, strides, owned->Data(), free);
}

// threads= and progress= of every call; a hook that also hears Ctrl+C.
struct CallSetup {
  tvq::CallOptions options;
  std::shared_ptr<PendingError> pending = std::make_shared<PendingError>();
  std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
};

// While a call runs on the main thread, SIGINT also sets the call's stop flag, which the
// library polls between rows on every thread, and then goes on to Python's own handler,
// which records the KeyboardInterrupt raised when the call returns. Without it a stop
// would wait for the next progress report, seconds apart in some stages.
class InterruptRelay {
 public:
  explicit InterruptRelay(std::atomic<bool>* stop) {
    struct sigaction current {};
    if (!OnMainThread() || sigaction(SIGINT, nullptr, &current) != 0) return;
    const bool plain = !(current.sa_flags & SA_SIGINFO);
    if (plain && (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)) return;
    Previous() = current;
    Flag().store(stop);
    struct sigaction relay {};
    relay.sa_sigaction = &Relay;
    relay.sa_flags = SA_SIGINFO | (current.sa_flags & SA_RESTART);
    sigemptyset(&relay.sa_mask);
    installed_ = sigaction(SIGINT, &relay, nullptr) == 0;
  }
  ~InterruptRelay() {
    if (!installed_) return;
    sigaction(SIGINT, &Previous(), nullptr);
    Flag().store(nullptr);
  }
  InterruptRelay(const InterruptRelay&) = delete;
  InterruptRelay& operator=(const InterruptRelay&) = delete;

 private:
  static bool OnMainThread() {
    const py::module_ threading = py::module_::import("threading");
    return threading.attr("current_thread")().is(threading.attr("main_thread")());
  }
  static std::atomic<std::atomic<bool>*>& Flag() {
    static std::atomic<std::atomic<bool>*> flag{nullptr};
    return flag;
  }
  static struct sigaction& Previous() {
    static struct sigaction previous {};
    return previous;
  }
  static void Relay(int signal, siginfo_t* info, void* context) {
    if (std::atomic<bool>* stop = Flag().load()) stop->store(true);
    const struct sigaction& previous = Previous();
    if (previous.sa_flags & SA_SIGINFO)
      previous.sa_sigaction(signal, info, context);
    else
      previous.sa_handler(signal);
  }

  bool installed_ = false;
};

CallSetup SetupCall(py::object threads, py::object progress) {
  CallSetup setup;
  if (!threads.is_none()) {
    if (py::isinstance<py::bool_>(threads) || !py::isinstance<py::int_>(threads))
      throw py::type_error("threads= takes a whole number");
    setup.options.threads = threads.cast<std::int32_t>();
  }
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error("progress= takes a callable(fraction, stage)");
  setup.options.stop = setup.stop.get();
  std::shared_ptr<PendingError> pending = setup.pending;
  setup.options.progress = [progress, pending](double fraction, std::string_view stage) {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      pending->error.emplace();
      return false;
    }
    if (progress.is_none()) return true;
    try {
      const py::object answer = progress(fraction, std::string(stage));
      return answer.is_none() || answer.cast<bool>();
    } catch (py::error_already_set& e) {
      pending->error.emplace(std::move(e));
      return false;
    }
  };
  return setup;
}

// Runs work without the GIL; an error raised in the hook (KeyboardInterrupt, the
// callable's own) is raised again in its place.
template <typename Work>
auto Unlocked(const CallSetup& setup, bool files, Work work) {
  try {
    const InterruptRelay relay(setup.stop.get());
    py::gil_scoped_release release;
    return work();
  } catch (const tvq::Error& e) {
    // Ctrl+C during the call: Python's handler raises KeyboardInterrupt now.
    if (!setup.pending->error && PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (setup.pending->error) {
      py::error_already_set error = std::move(*setup.pending->error);
      setup.pending->error.reset();
      throw error;
    }
    Raise(e, files);
  }
}

std::string PythonName(const std::string& command) {
  static const std::map<std::string, std::string> names = {
      {"mask", "edge_mask"}, {"noise", "add_noise"}, {"grey", "greyscale"}};
  const auto it = names.find(command);
  std::string name = it != names.end() ? it->second : command;
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

std::string Keyword(const std::string& flag) {
  std::string name = flag;
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string Capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

std::string Docstring(const tvq::CommandInfo& command) {
  std::string doc = PythonName(command.name) + "(image, **settings) -> numpy.ndarray\n\n" +
                    Capitalised(command.summary) + ".\n\n" +
                    "image: H x W, H x W x 3 or H x W x 4 numpy array (RGB, alpha last) of uint8, "
                    "uint16 or float32 (0..255 scale); the result has its dtype.\n";
  if (!command.settings.empty()) doc += "\nSettings (keyword: meaning; default; range):\n";
  using Type = tvq::SettingInfo::Type;
  for (const tvq::SettingInfo& s : command.settings) {
    doc += "  " + Keyword(s.name) + ": " + s.help;
    switch (s.type) {
      case Type::kNumber:
      case Type::kWhole:
        doc += "; default " + Number(*s.defaultNumber) + "; " +
               (s.type == Type::kWhole ? "a whole number " : "") + s.range;
        break;
      case Type::kChoice: {
        std::string list;
        for (const auto& c : s.choices) list += (list.empty() ? "" : ", ") + ("'" + c + "'");
        doc += !s.defaultChoice.empty() ? "; default '" + s.defaultChoice + "'" : "; required";
        doc += "; one of " + list + " (or its index)";
        break;
      }
      case Type::kSwitchOrChoice:
        doc += "; default off; True (the default method), a method caption or its index 0.." +
               std::to_string(s.choices.size() - 1);
        break;
      case Type::kSwitch:
        doc += "; default False";
        break;
      case Type::kText:
        doc += "; a text";
        break;
    }
    if (!s.needs.empty()) doc += " (needs " + s.needs + ")";
    doc += "\n";
  }
  doc +=
      "\nEvery call also takes threads= (threads of the shared pool; 0 leaves it as it is) and "
      "progress=callable(fraction, stage), called on the calling thread; returning False stops "
      "the work and raises tvq.Stopped. Ctrl+C raises KeyboardInterrupt. A value out of range "
      "raises ValueError with the command line's message.";
  return doc;
}

// The settings of a call's keywords, refused with TypeError when the command has no
// such keyword or the value's type fits no setting.
tvq::Settings SettingsOf(const tvq::CommandInfo& command, const py::kwargs& keywords,
                         py::object& threads, py::object& progress) {
  tvq::Settings settings;
  const std::string function = PythonName(command.name);
  for (const auto& [key, value] : keywords) {
    const std::string name = py::str(key);
    if (name == "threads") {
      threads = py::reinterpret_borrow<py::object>(value);
      continue;
    }
    if (name == "progress") {
      progress = py::reinterpret_borrow<py::object>(value);
      continue;
    }
    std::string flag;
    for (const tvq::SettingInfo& s : command.settings)
      if (Keyword(s.name) == name) flag = s.name;
    if (flag.empty())
      throw py::type_error(function + "() got an unexpected keyword argument '" + name + "'");
    if (value.is_none()) continue;
    if (py::isinstance<py::bool_>(value))
      settings[flag] = value.cast<bool>();
    else if (py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value))
      settings[flag] = value.cast<double>();
    else if (py::isinstance<py::str>(value))
      settings[flag] = value.cast<std::string>();
    else
      throw py::type_error(function + "(): " + name + "= takes a number, a text or a bool, not " +
                           std::string(py::str(value.get_type().attr("__name__"))));
  }
  return settings;
}

py::dict InfoDict(const tvq::FileInfo& info, const std::vector<std::uint8_t>& icc) {
  py::dict d;
  d["format"] = info.format;
  d["width"] = info.width;
  d["height"] = info.height;
  d["channels"] = info.channels;
  d["bits_per_channel"] = info.bitsPerChannel;
  d["alpha"] = info.alpha;
  d["orientation"] = info.orientation;
  d["icc"] = py::bytes(reinterpret_cast<const char*>(icc.data()), icc.size());
  d["warnings"] = info.warnings;
  return d;
}

// Docstrings must outlive the module's functions.
std::deque<std::string>& Docs() {
  static std::deque<std::string> docs;
  return docs;
}

}  // namespace

PYBIND11_MODULE(tvq, m) {
  m.doc() =
      "tvq: two-times super-resolution enlargement, deringing and the tvq tool's other "
      "picture commands on numpy arrays.";
  m.attr("__version__") = tvq::Version();
  py::object exception = py::module_::import("builtins").attr("Exception");
  m.attr("Stopped") = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "tvq.Stopped", "The progress callable returned False.", exception.ptr(), nullptr));

  m.def(
      "read",
      [](const std::string& path) {
        tvq::FileInfo info;
        tvq::Image image = Unlocked(CallSetup{}, true, [&] { return tvq::Read(path, &info); });
        std::vector<std::uint8_t> icc = std::move(image.icc);
        image.icc.clear();
        py::array array = ArrayOf(std::move(image));
        return py::make_tuple(array, InfoDict(info, icc));
      },
      py::arg("path"),
      "read(path) -> (array, info)\n\nReads a BMP, PFM, PNG, JPEG, TIFF or WebP file (by its "
      "content): uint8 for 8-bit files, uint16 for 16-bit ones, float32 for PFM; H x W for grey, "
      "H x W x 3 or x 4 (RGB, alpha last). info holds format, width, height, channels, "
      "bits_per_channel, alpha, orientation, icc (bytes) and warnings. OSError when the file "
      "cannot be read.");

  m.def(
      "write",
      [](const std::string& path, py::object array, int quality, py::object icc) {
        py::array keep;
        tvq::ImageView view = ViewOf(array, "image", keep);
        std::string profile;
        if (!icc.is_none()) profile = icc.cast<py::bytes>();
        view.icc = reinterpret_cast<const std::uint8_t*>(profile.data());
        view.iccSize = profile.size();
        Unlocked(CallSetup{}, true, [&] { tvq::Write(path, view, {.quality = quality}); });
      },
      py::arg("path"), py::arg("image"), py::arg("quality") = 95, py::arg("icc") = py::none(),
      "write(path, image, quality=95, icc=None)\n\nWrites the array in the format of the path's "
      "extension (.bmp .pfm .png .jpg .jpeg .tif .tiff .webp): uint16 and float32 as 16 bits where "
      "the format holds them (PFM: floats), alpha where it holds it; quality 1..100 for JPEG and "
      "WebP; icc: a colour profile (bytes) to embed.");

  m.def(
      "psnr",
      [](py::object a, py::object b, bool crop, py::object threads) {
        py::array keepA, keepB;
        const tvq::ImageView viewA = ViewOf(a, "a", keepA);
        const tvq::ImageView viewB = ViewOf(b, "b", keepB);
        CallSetup setup = SetupCall(threads, py::none());
        tvq::PsnrOptions options;
        options.threads = setup.options.threads;
        options.crop = crop;
        const tvq::Comparison c =
            Unlocked(setup, false, [&] { return tvq::Psnr(viewA, viewB, options); });
        return py::make_tuple(c.mse, c.psnr);
      },
      py::arg("a"), py::arg("b"), py::arg("crop") = false, py::arg("threads") = py::none(),
      "psnr(a, b, crop=False) -> (mse, psnr)\n\nMSE and PSNR between the grey levels of two "
      "arrays of one size (psnr is inf for equal ones); crop compares only the top-left part "
      "both share.");

  m.def(
      "compare",
      [](py::object a, py::object b, int shave, bool crop, py::object threads) {
        py::array keepA, keepB;
        const tvq::ImageView viewA = ViewOf(a, "a", keepA);
        const tvq::ImageView viewB = ViewOf(b, "b", keepB);
        CallSetup setup = SetupCall(threads, py::none());
        tvq::CompareOptions options{.shave = shave, .crop = crop, .call = {}};
        options.call.threads = setup.options.threads;
        const tvq::CompareResult r =
            Unlocked(setup, false, [&] { return tvq::Compare(viewA, viewB, options); });
        // As `tvq compare --json` prints them: None for NaN and the infinities.
        const auto number = [](double v) -> py::object {
          return std::isfinite(v) ? py::object(py::float_(v)) : py::object(py::none());
        };
        py::dict edge;
        edge["threshold"] = number(r.edge.threshold);
        edge["band"] = py::make_tuple(r.edge.inner, r.edge.outer);
        edge["edge_pixels"] = r.edge.edgePixels;
        edge["band_pixels"] = r.edge.bandPixels;
        edge["mse_y"] = number(r.edge.mse);
        edge["psnr_y"] = number(r.edge.psnr);
        edge["overshoot"] = number(r.edge.overshoot);
        py::dict d;
        d["reference_size"] = py::make_tuple(r.referenceWidth, r.referenceHeight);
        d["test_size"] = py::make_tuple(r.testWidth, r.testHeight);
        d["cropped"] = r.cropped;
        d["shave"] = r.shave;
        d["measured_size"] = py::make_tuple(r.measuredWidth, r.measuredHeight);
        d["mse_rgb"] = number(r.rgb.mse);
        d["psnr_rgb"] = number(r.rgb.psnr);
        d["mse_y"] = number(r.y.mse);
        d["psnr_y"] = number(r.y.psnr);
        d["ssim"] = number(r.ssim);
        d["ms_ssim"] = number(r.msSsim);
        d["gmsd"] = number(r.gmsd);
        d["edge"] = edge;
        return d;
      },
      py::arg("a"), py::arg("b"), py::arg("shave") = 0, py::arg("crop") = false,
      py::arg("threads") = py::none(),
      "compare(a, b, shave=0, crop=False) -> dict\n\nEvery measure of b against the reference a, "
      "with the keys of `tvq compare --json` but the paths: reference_size, test_size, cropped, "
      "shave, measured_size, mse_rgb, psnr_rgb, mse_y, psnr_y, ssim, ms_ssim, gmsd and edge "
      "(threshold, band, edge_pixels, band_pixels, mse_y, psnr_y, overshoot); None for NaN and "
      "the infinities (PSNR of equal arrays). shave leaves a border out; crop measures the "
      "top-left part both share.");

  for (const tvq::CommandInfo& command : tvq::Commands()) {
    Docs().push_back(Docstring(command));
    m.def(
        PythonName(command.name).c_str(),
        [&command](py::object image, py::kwargs keywords) {
          py::object threads = py::none(), progress = py::none();
          const tvq::Settings settings = SettingsOf(command, keywords, threads, progress);
          py::array keep;
          const tvq::ImageView view = ViewOf(image, "image", keep);
          const CallSetup setup = SetupCall(threads, progress);
          tvq::Image result = Unlocked(
              setup, false, [&] { return tvq::Run(command.name, view, settings, setup.options); });
          result.icc.clear();
          return ArrayOf(std::move(result));
        },
        py::arg("image"), Docs().back().c_str());
  }
}
