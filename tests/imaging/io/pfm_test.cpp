#include "imaging/io/pfm.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>
#include "common/files.h"
#include "common/images.h"
#include "imaging/io/picture.h"

namespace tvq {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class PfmTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name)
      if (c == '/') c = '_';
    folder_ = test::TempPath("codecs_pfm_" + name);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  std::string WriteRaw(const std::string& name, const std::string& header, const Bytes& data) {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out << header;
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return path;
  }

  static Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  fs::path folder_;
};

// Values whose bits must survive exactly: signed zero, subnormals, infinities, a
// NaN with a payload, and ordinary fractions.
std::vector<float> SpecialValues() {
  return {0.0f,
          -0.0f,
          std::numeric_limits<float>::denorm_min(),
          -std::numeric_limits<float>::min(),
          std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity(),
          std::bit_cast<float>(0x7FC12345u),
          0.1f,
          255.49998f,
          -1e30f,
          1.0f / 3.0f,
          12345.678f};
}

TEST_F(PfmTest, GreyRoundTripKeepsExactBits) {
  const std::vector<float> values = SpecialValues();
  TImageF image(4, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) *image.Pixel(x, y) = values[(4 * y + x) % values.size()];
  const std::string path = Path("grey.pfm");
  WritePfm(image, path);

  // Header, then the bottom row first, little-endian.
  const Bytes bytes = FileBytes(path);
  const std::string header = "Pf\n4 3\n-1.0\n";
  ASSERT_EQ(bytes.size(), header.size() + 4 * 3 * 4);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
  std::uint32_t first = 0;
  for (int i = 3; i >= 0; --i) first = (first << 8) | bytes[header.size() + i];
  EXPECT_EQ(first, std::bit_cast<std::uint32_t>(*image.Pixel(0, 2)));

  const TImageF back = ReadPfmGrey(path);
  ASSERT_EQ(back.Width(), 4);
  ASSERT_EQ(back.Height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(std::bit_cast<std::uint32_t>(*back.Pixel(x, y)),
                std::bit_cast<std::uint32_t>(*image.Pixel(x, y)))
          << x << ", " << y;
}

TEST_F(PfmTest, ColourRoundTripWritesRedGreenBlue) {
  const std::vector<float> values = SpecialValues();
  TImageF4 image(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 4; ++c) image.Pixel(x, y)[c] = values[(12 * y + 4 * x + c) % 12] + c;
  const std::string path = Path("colour.pfm");
  WritePfm(image, path);

  const Bytes bytes = FileBytes(path);
  const std::string header = "PF\n3 2\n-1.0\n";
  ASSERT_EQ(bytes.size(), header.size() + 3 * 2 * 12);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
  // The first float of the file is the red (channel 2) of the bottom-left pixel.
  float first = 0;
  std::memcpy(&first, bytes.data() + header.size(), 4);
  if constexpr (std::endian::native == std::endian::little) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(first),
              std::bit_cast<std::uint32_t>(image.Pixel(0, 1)[2]));
  }

  const TImageF4 back = ReadPfmColour(path);
  ASSERT_EQ(back.Width(), 3);
  ASSERT_EQ(back.Height(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(std::bit_cast<std::uint32_t>(back.Pixel(x, y)[c]),
                  std::bit_cast<std::uint32_t>(image.Pixel(x, y)[c]));
      EXPECT_EQ(back.Pixel(x, y)[3], 0.0f);
    }
}

TEST_F(PfmTest, ReadsBigEndianAndLooseWhitespace) {
  // Two pixels, big-endian (positive scale): bottom row 1.5 then top row -2.
  const Bytes data = {0x3F, 0xC0, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00};
  const TImageF image = ReadPfmGrey(WriteRaw("big.pfm", "Pf \n 1\t2\r\n4.0\n", data));
  EXPECT_EQ(*image.Pixel(0, 1), 1.5f);
  EXPECT_EQ(*image.Pixel(0, 0), -2.0f);

  const Bytes rgb = {0x3F, 0x80, 0, 0, 0x40, 0, 0, 0, 0x40, 0x40, 0, 0};  // 1, 2, 3
  const TImageF4 colour = ReadPfmColour(WriteRaw("rgb.pfm", "PF\n1 1\n1\n", rgb));
  EXPECT_EQ(colour.Pixel(0, 0)[2], 1.0f);
  EXPECT_EQ(colour.Pixel(0, 0)[1], 2.0f);
  EXPECT_EQ(colour.Pixel(0, 0)[0], 3.0f);
}

struct BadPfm {
  const char* name;
  const char* header;
  std::size_t dataBytes;
  bool colour;  // read as colour
  const char* message;
};

void PrintTo(const BadPfm& c, std::ostream* out) {
  *out << c.name;
}

class PfmBadFileTest : public PfmTest, public testing::WithParamInterface<BadPfm> {};

TEST_P(PfmBadFileTest, RefusedWithClearMessage) {
  const BadPfm& c = GetParam();
  const std::string path = WriteRaw("bad.pfm", c.header, Bytes(c.dataBytes, 0));
  const std::string message = test::MessageOf<FileError>([&] {
    if (c.colour) {
      ReadPfmColour(path);
    } else {
      ReadPfmGrey(path);
    }
  });
  EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
  EXPECT_NE(message.find(c.message), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, PfmBadFileTest,
    testing::Values(
        BadPfm{"Empty", "", 0, false, "not a PFM file"},
        BadPfm{"Magic", "P6\n1 1\n255\n", 4, false, "not a PFM file"},
        BadPfm{"NoSpaceAfterMagic", "Pf1 1\n-1\n", 4, false, "not a PFM file"},
        BadPfm{"NoHeight", "Pf\n1", 0, false, "ends before its height"},
        BadPfm{"NoScale", "Pf\n1 1\n", 0, false, "ends before its scale"},
        BadPfm{"NothingAfterScale", "Pf\n1 1\n-1.0", 0, false, "ends after its header"},
        BadPfm{"WidthNotNumber", "Pf\nx 1\n-1\n", 4, false, "width \"x\" is not a number"},
        BadPfm{"NegativeWidth", "Pf\n-1 1\n-1\n", 4, false, "width -1 is not positive"},
        BadPfm{"ZeroHeight", "Pf\n1 0\n-1\n", 4, false, "height 0 is not positive"},
        BadPfm{"WideSide", "Pf\n65536 1\n-1\n", 4, false, "larger than 65535"},
        BadPfm{"HugeSide", "Pf\n99999999999999999999 1\n-1\n", 4, false, "larger than 65535"},
        BadPfm{"TooManyBytes", "PF\n65535 65535\n-1\n", 4, true, "MiB allowed"},
        BadPfm{"ZeroScale", "Pf\n1 1\n0.0\n", 4, false, "scale \"0.0\""},
        BadPfm{"BadScale", "Pf\n1 1\n-1.0x\n", 4, false, "scale \"-1.0x\""},
        BadPfm{"Truncated", "Pf\n2 2\n-1\n", 15, false, "truncated: 16 bytes"},
        BadPfm{"TruncatedColour", "PF\n2 1\n-1\n", 20, true, "truncated: 24 bytes"},
        BadPfm{"ColourAsGrey", "PF\n1 1\n-1\n", 12, false, "a grey one"},
        BadPfm{"GreyAsColour", "Pf\n1 1\n-1\n", 4, true, "a colour one"}),
    [](const testing::TestParamInfo<BadPfm>& info) { return std::string(info.param.name); });

// Header text echoed in a message is cut to 40 bytes and "...", however long it is.
TEST(PfmMessageTest, EchoedHeaderTextIsCut) {
  const std::string nines(100000, '9'), x(100000, 'x');
  const std::string zeros = std::string(99995, '0') + "70000";
  const struct {
    std::string header;
    std::string message;
  } cases[] = {
      {"Pf\n" + nines + " 1\n-1\n", "the width " + nines.substr(0, 40) + "... is larger than"},
      {"Pf\n" + zeros + " 1\n-1\n", "the width " + zeros.substr(0, 40) + "... is larger than"},
      {"Pf\n1 " + x + "\n-1\n", "the PFM height \"" + x.substr(0, 40) + "...\" is not a number"},
      {"Pf\n1 1\n" + x + "\n", "the PFM scale \"" + x.substr(0, 40) + "...\" is not a non-zero"},
      {"Pf\n1 1\n-1.0x\n", "the PFM scale \"-1.0x\" is not a non-zero number"},
  };
  for (const auto& c : cases) {
    const std::string message = test::MessageOf<FileError>([&] {
      DecodePicture(reinterpret_cast<const std::uint8_t*>(c.header.data()), c.header.size());
    });
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message.substr(0, 200);
    EXPECT_LT(message.size(), 120u);
  }
}

TEST_F(PfmTest, WriteErrorsNameThePath) {
  const std::string nowhere = Path("missing/x.pfm");
  const std::string message = test::MessageOf<FileError>([&] { WritePfm(TImageF(2, 2), nowhere); });
  EXPECT_EQ(message.rfind(nowhere + ": cannot write", 0), 0u) << message;
  EXPECT_THROW(WritePfm(TImageF(), Path("empty.pfm")), FileError);
  EXPECT_THROW(ReadPfmGrey(Path("absent.pfm")), FileError);
}

}  // namespace
}  // namespace tvq
