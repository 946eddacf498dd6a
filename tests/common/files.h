// Paths of the tests' scratch files.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace tvq::test {

// `name` under the system's temporary folder, made unique to this process, since every
// test case runs in a process of its own and several may run at once.
inline std::filesystem::path TempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("tvq_" + std::to_string(::getpid()) + "_" + name);
}

}  // namespace tvq::test
