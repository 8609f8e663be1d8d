// Runs a fuzz target without a fuzzing engine in every test run: each file of its corpus, then
// COUNT inputs of a fixed-seed generator. A disagreement aborts.   replay_<name> CORPUS_DIR COUNT [SEED]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

constexpr size_t kMaxLength = 4096;

std::vector<std::string> ReadCorpus(const std::string& dir) {
  std::vector<std::string> names, inputs;
  std::error_code error;
  for (const auto& e : std::filesystem::directory_iterator(dir, error))
    if (e.path().filename().string()[0] != '.') names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::ifstream f(name, std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  return inputs;
}

// A corpus input with one to eight edits (three times in four), else random bytes.
std::string Generate(std::mt19937_64& rng, const std::vector<std::string>& corpus) {
  auto below = [&rng](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
  auto byte = [&rng] { return static_cast<char>(rng() & 0xff); };
  std::string s;
  if (corpus.empty() || below(4) == 0) {
    s.resize(below(below(2) ? 64 : kMaxLength));
    for (char& c : s) c = byte();
    return s;
  }
  s = corpus[below(corpus.size())];
  for (size_t edits = 1 + below(8); edits > 0; --edits) {
    const size_t edit = below(6), at = edit == 3 || edit == 4 ? below(s.size()) : 0;
    if (s.empty() && edit != 2 && edit != 5) continue;
    if (edit == 0) {  // flip one bit
      s[below(s.size())] ^= static_cast<char>(1 << below(8));
    } else if (edit == 1) {  // replace one byte
      s[below(s.size())] = byte();
    } else if (edit == 2) {  // insert random bytes
      std::string bytes(1 + below(16), '\0');
      for (char& c : bytes) c = byte();
      s.insert(below(s.size() + 1), bytes);
    } else if (edit == 3) {  // erase a range
      s.erase(at, 1 + below(s.size() - at));
    } else if (edit == 4) {  // repeat a range
      s.insert(below(s.size() + 1), s.substr(at, 1 + below(16)));
    } else {  // splice with another corpus input
      const std::string& other = corpus[below(corpus.size())];
      s = s.substr(0, below(s.size() + 1)) + other.substr(below(other.size() + 1));
    }
  }
  if (s.size() > kMaxLength) s.resize(kMaxLength);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return std::fprintf(stderr, "usage: %s CORPUS_DIR COUNT [SEED]\n", argv[0]), 2;
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  const std::vector<std::string> corpus = ReadCorpus(argv[1]);
  const long count = std::strtol(argv[2], nullptr, 10);
  std::mt19937_64 rng(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  auto run = [](const std::string& s) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  for (const std::string& input : corpus) run(input);
  for (long i = 0; i < count; ++i) run(Generate(rng, corpus));
  std::printf("%zu corpus inputs and %ld generated inputs ran clean\n", corpus.size(), count);
  return 0;
}
