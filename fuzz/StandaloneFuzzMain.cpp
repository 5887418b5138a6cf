// StandaloneFuzzMain: runs a fuzz target over files, without libFuzzer.
//
// Every argument is a file or a directory of files; each file is handed to
// LLVMFuzzerTestOneInput once. A crash or sanitizer report fails the run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
int RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(p))
        if (e.is_regular_file()) runs += RunFile(e.path());
    } else {
      runs += RunFile(p);
    }
  }
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("%d inputs run\n", runs);
  return runs > 0 ? 0 : 1;
}
