// Crafted files for the codec and command-line tests, and a child process whose
// address space is capped: an animated WebP whose canvas is far larger than its one
// frame, JPEG files whose ICC profile markers are damaged, and the check that a
// header read alone agrees with the decoded picture.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "imaging/io/picture.h"

namespace tvq::test {

using Bytes = std::vector<std::uint8_t>;

// An animated WebP with a canvas of width x height and one frame at (0, 0): the
// picture of `still`, a lossless WebP file (RIFF header, then one VP8L chunk), as
// EncodePicture writes at quality 100. A 2 x 2 frame gives a file of 94 bytes.
inline Bytes AnimationWithCanvas(const Bytes& still, std::uint32_t width, std::uint32_t height) {
  const Bytes frame(still.begin() + 12, still.end());  // the VP8L chunk with its padding
  // The frame's sides, from the VP8L header: 14 bits each after the signature byte.
  const std::uint32_t bits = still[21] | (still[22] << 8) | (still[23] << 16) |
                             (static_cast<std::uint32_t>(still[24]) << 24);
  const std::uint32_t frameWidth = (bits & 0x3FFF) + 1, frameHeight = ((bits >> 14) & 0x3FFF) + 1;
  const auto put = [](Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const auto chunk = [&](Bytes& b, const char* type, const Bytes& data) {
    b.insert(b.end(), type, type + 4);
    put(b, static_cast<std::uint32_t>(data.size()), 4);
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) b.push_back(0);
  };
  Bytes canvas = {0x02, 0, 0, 0};  // the animation flag
  put(canvas, width - 1, 3);
  put(canvas, height - 1, 3);
  Bytes anmf;
  put(anmf, 0, 3);  // x / 2
  put(anmf, 0, 3);  // y / 2
  put(anmf, frameWidth - 1, 3);
  put(anmf, frameHeight - 1, 3);
  put(anmf, 100, 3);  // duration
  anmf.push_back(0);
  anmf.insert(anmf.end(), frame.begin(), frame.end());
  Bytes body = {'W', 'E', 'B', 'P'};
  chunk(body, "VP8X", canvas);
  chunk(body, "ANIM", Bytes(6, 0));
  chunk(body, "ANMF", anmf);
  Bytes file = {'R', 'I', 'F', 'F'};
  put(file, static_cast<std::uint32_t>(body.size()), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// The JPEG file with the sequence number and count of its APP2 ICC_PROFILE markers
// changed: change(index, sequence, count) sees each marker in file order.
inline Bytes WithIccMarkers(Bytes jpeg,
                            const std::function<void(int, std::uint8_t&, std::uint8_t&)>& change) {
  static const char kTag[] = "ICC_PROFILE";
  int index = 0;
  for (std::size_t at = 2; at + 18 <= jpeg.size();) {
    if (jpeg[at] != 0xFF || jpeg[at + 1] == 0xDA) break;  // the scans start
    const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    if (jpeg[at + 1] == 0xE2 && std::equal(kTag, kTag + 12, jpeg.begin() + at + 4))
      change(index++, jpeg[at + 16], jpeg[at + 17]);
    at += 2 + length;
  }
  return jpeg;
}

// Where a header read alone disagrees with the decoded picture of the same file:
// "width 5 against 7", or empty when they agree. The stored channels and depth are
// not compared: decoding changes them (palettes, inks, transparency chunks).
inline std::string HeaderMismatch(const PictureHeader& header, const Picture& picture) {
  const auto differ = [](const char* what, long long a, long long b) {
    return a == b ? std::string()
                  : std::string(what) + " " + std::to_string(a) + " against " + std::to_string(b);
  };
  std::string text =
      differ("format", static_cast<int>(header.format), static_cast<int>(picture.format)) +
      differ("width", header.width, picture.width) +
      differ("height", header.height, picture.height) +
      differ("orientation", header.orientation, picture.orientation) +
      differ("ICC bytes", static_cast<long long>(header.iccBytes),
             static_cast<long long>(picture.icc.size())) +
      differ("alpha", header.alpha, picture.HasAlpha()) +
      differ("warnings", static_cast<long long>(header.warnings.size()),
             static_cast<long long>(picture.warnings.size()));
  const BmpInfo* fromHeader = std::get_if<BmpInfo>(&header.details);
  const BmpInfo* fromPicture = std::get_if<BmpInfo>(&picture.details);
  if (header.format == PictureFormat::kBmp && (fromHeader == nullptr || fromPicture == nullptr))
    text += "BMP facts missing";
  else if (header.format == PictureFormat::kBmp)
    text += differ("bits per pixel", fromHeader->bitsPerPixel, fromPicture->bitsPerPixel) +
            (fromHeader->compression == fromPicture->compression &&
                     fromHeader->headerType == fromPicture->headerType &&
                     fromHeader->topDown == fromPicture->topDown &&
                     fromHeader->masks == fromPicture->masks
                 ? ""
                 : "BMP facts");
  return text;
}

// Runs `work` in a child process whose address space may grow by at most `extra`
// bytes beyond its size when the child starts, and returns the text that `work`
// returned there ("the child ended abnormally" when it did not return).
inline std::string InLimitedAddressSpace(std::size_t extra,
                                         const std::function<std::string()>& work) {
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
      std::fclose(statm);
    }
    const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                       static_cast<rlim_t>(extra);
    const rlimit limit = {cap, cap};
    std::string text = pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0 ? work() : "no limit set";
    const char* p = text.data();
    for (std::size_t left = text.size(); left > 0;) {
      const ssize_t n = write(channel[1], p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(channel[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(channel[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return "the child ended abnormally";
  return text;
}

}  // namespace tvq::test
