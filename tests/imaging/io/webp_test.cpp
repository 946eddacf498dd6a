#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/pictures.h"
#include "imaging/io/codecs.h"

namespace tvq::codec {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Smooth ramps (lossy coding keeps them well), or noise; alpha varies across the picture.
Picture Make(int width, int height, int channels, bool noise) {
  std::mt19937 random(static_cast<unsigned>(channels));
  return test::MakePicture(width, height, channels, 8, [&](int x, int y, int c) {
    return static_cast<float>(noise ? random() & 0xFF
                                    : std::min(255, x * (1 + c) + 2 * y + 20 * c));
  });
}

// The samples a WebP file gives back for p: grey as three equal channels.
std::vector<float> AsRgb(const Picture& p) {
  std::vector<float> out;
  for (std::size_t i = 0; i < p.samples.size(); i += static_cast<std::size_t>(p.channels)) {
    for (int c = 0; c < 3; ++c) out.push_back(p.samples[i + (p.channels >= 3 ? c : 0)]);
    if (p.HasAlpha()) out.push_back(p.samples[i + p.channels - 1]);
  }
  return out;
}

struct RoundTrip {
  int channels;
  int quality;
  double meanError;  // largest mean absolute colour error allowed; 0 = exact
};

TEST(WebpRoundTrip, ChannelsQualityAlphaAndProfile) {
  const RoundTrip cases[] = {{1, 100, 0},  {2, 100, 0},  {3, 100, 0}, {4, 100, 0},
                             {3, 90, 1.5}, {4, 90, 1.5}, {2, 60, 2.5}};
  for (const RoundTrip& t : cases) {
    SCOPED_TRACE(std::to_string(t.channels) + " channels, quality " + std::to_string(t.quality));
    Picture in = Make(67, 45, t.channels, t.meanError == 0);
    in.icc = {'p', 'r', 'o', 'f', 0, static_cast<std::uint8_t>(t.quality)};
    const Bytes file = EncodeWebp(in, t.quality);
    const Picture out = DecodeWebp(file.data(), file.size());
    EXPECT_EQ(out.width, in.width);
    EXPECT_EQ(out.height, in.height);
    ASSERT_EQ(out.channels, in.HasAlpha() ? 4 : 3);
    EXPECT_EQ(out.bitsPerChannel, 8);
    EXPECT_EQ(out.icc, in.icc);
    const std::vector<float> expected = AsRgb(in);
    ASSERT_EQ(out.samples.size(), expected.size());
    double colourError = 0;
    int alphaWrong = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (out.HasAlpha() && i % 4 == 3)
        alphaWrong += out.samples[i] != expected[i];
      else
        colourError += std::abs(out.samples[i] - expected[i]);
    }
    colourError /= static_cast<double>(expected.size() / out.channels * 3);
    EXPECT_EQ(alphaWrong, 0);
    EXPECT_LE(colourError, t.meanError);
  }
}

// A WebP file with an EXIF chunk holding only the orientation, in either byte order
// and with or without the "Exif\0\0" prefix that some writers put first.
Bytes WithExif(const Bytes& file, int orientation, bool prefix, bool bigEndian) {
  Bytes exif;
  if (prefix) exif = {'E', 'x', 'i', 'f', 0, 0};
  const auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      exif.push_back(static_cast<std::uint8_t>(v >> (8 * (bigEndian ? n - 1 - i : i))));
  };
  exif.push_back(bigEndian ? 'M' : 'I');
  exif.push_back(bigEndian ? 'M' : 'I');
  put(42, 2), put(8, 4), put(1, 2);  // header, one entry
  put(0x0112, 2), put(3, 2), put(1, 4), put(orientation, 2), put(0, 2), put(0, 4);
  const WebPData image = {file.data(), file.size()};
  WebPMux* mux = WebPMuxCreate(&image, 1);
  const WebPData chunk = {exif.data(), exif.size()};
  WebPData assembled;
  WebPDataInit(&assembled);
  EXPECT_EQ(WebPMuxSetChunk(mux, "EXIF", &chunk, 1), WEBP_MUX_OK);
  EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
  Bytes out(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return out;
}

TEST(WebpDecode, ExifOrientationIsApplied) {
  const Picture in = Make(5, 3, 3, true);
  const Bytes plain = EncodeWebp(in, 100);
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const Bytes file = WithExif(plain, o, o % 2 == 0, o > 4);
    Picture expected = in;
    ApplyOrientation(expected, o);
    const Picture out = DecodeWebp(file.data(), file.size());
    EXPECT_EQ(out.orientation, o);
    EXPECT_EQ(out.width, expected.width);
    EXPECT_EQ(out.height, expected.height);
    EXPECT_TRUE(out.samples == expected.samples);
  }
}

TEST(WebpDecode, AnimationGivesItsFirstFrame) {
  const int w = 8;
  const int h = 6;
  WebPAnimEncoderOptions options;
  ASSERT_TRUE(WebPAnimEncoderOptionsInit(&options));
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(w, h, &options);
  ASSERT_NE(encoder, nullptr);
  WebPConfig config;
  ASSERT_TRUE(WebPConfigInit(&config));
  config.lossless = 1;
  for (int frame = 0; frame < 2; ++frame) {
    const Bytes rgba = [&] {
      Bytes b;
      for (int i = 0; i < w * h; ++i)
        b.insert(b.end(), {static_cast<std::uint8_t>(200 * frame), static_cast<std::uint8_t>(i * 5),
                           60, 255});
      return b;
    }();
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = w;
    picture.height = h;
    ASSERT_TRUE(WebPPictureImportRGBA(&picture, rgba.data(), w * 4));
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config));
    WebPPictureFree(&picture);
  }
  EXPECT_TRUE(WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr));
  WebPData data;
  WebPDataInit(&data);
  EXPECT_TRUE(WebPAnimEncoderAssemble(encoder, &data));
  WebPAnimEncoderDelete(encoder);
  const Bytes file(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);

  const Picture out = DecodeWebp(file.data(), file.size());
  ASSERT_EQ(out.width, w);
  ASSERT_EQ(out.height, h);
  const std::size_t n = static_cast<std::size_t>(out.channels);
  int wrong = 0;
  for (std::size_t i = 0; i < std::size_t{w * h}; ++i)
    wrong += out.samples[n * i] != 0 || out.samples[n * i + 1] != static_cast<float>(i * 5) ||
             (n == 4 && out.samples[n * i + 3] != 255);
  EXPECT_EQ(wrong, 0);
}

TEST(WebpDecode, TruncatedFilesAreRefused) {
  for (int quality : {100, 80}) {
    Picture in = Make(40, 30, 4, true);
    in.icc = {1, 2, 3};
    const Bytes file = EncodeWebp(in, quality);
    for (std::size_t size :
         {std::size_t{0}, std::size_t{12}, std::size_t{30}, file.size() / 2, file.size() - 1}) {
      SCOPED_TRACE(std::to_string(quality) + ": " + std::to_string(size));
      EXPECT_THROW(DecodeWebp(file.data(), size), FileError);
    }
  }
}

}  // namespace
}  // namespace tvq::codec
