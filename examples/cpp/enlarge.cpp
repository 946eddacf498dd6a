// Enlarges a picture file two times through libtvq: enlarge IN OUT.
#include <iostream>

#include <tvq/tvq.hpp>

int main(int argc, char** argv) {
  if (argc != 3) return std::cerr << "usage: enlarge IN OUT\n", 2;
  try {
    tvq::ResampleOptions options;
    options.progress = [](double done, std::string_view stage) {
      std::cerr << "\r" << static_cast<int>(done * 100) << " % " << stage << "        ";
      return true;
    };
    tvq::Write(argv[2], tvq::Resample(tvq::Read(argv[1]), options));
    std::cerr << "\n";
  } catch (const tvq::Error& e) {
    return std::cerr << "\nenlarge: " << e.what() << "\n", 1;
  }
}
