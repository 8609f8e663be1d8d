// Runs a fuzz target without a fuzzing engine, so that its model checks the
// library in every test run: first every file of the target's committed corpus
// (seed and regression inputs), then COUNT inputs from a generator with a fixed
// seed: corpus inputs with a few random edits, and plain random bytes. A
// disagreement with the model aborts the program, which fails the test.
//
//   replay_<name> CORPUS_DIR COUNT [SEED]
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> inputs;
  for (const std::string& name : names) {
    std::ifstream f(dir + "/" + name, std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  return inputs;
}

void Run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

// One generated input: a corpus input with one to eight edits (three in four
// times, when there is a corpus), else random bytes of a random length.
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
    switch (below(6)) {
      case 0:  // flip one bit
        if (!s.empty()) s[below(s.size())] ^= static_cast<char>(1 << below(8));
        break;
      case 1:  // replace one byte
        if (!s.empty()) s[below(s.size())] = byte();
        break;
      case 2: {  // insert random bytes
        std::string bytes(1 + below(16), '\0');
        for (char& c : bytes) c = byte();
        s.insert(below(s.size() + 1), bytes);
        break;
      }
      case 3:  // erase a range
        if (!s.empty()) {
          size_t at = below(s.size());
          s.erase(at, 1 + below(s.size() - at));
        }
        break;
      case 4:  // repeat a range
        if (!s.empty()) {
          size_t at = below(s.size());
          s.insert(below(s.size() + 1), s.substr(at, 1 + below(16)));
        }
        break;
      default: {  // splice with another corpus input
        const std::string& other = corpus[below(corpus.size())];
        s = s.substr(0, below(s.size() + 1)) + other.substr(below(other.size() + 1));
        break;
      }
    }
  }
  if (s.size() > kMaxLength) s.resize(kMaxLength);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR COUNT [SEED]\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  const std::vector<std::string> corpus = ReadCorpus(argv[1]);
  const long count = std::strtol(argv[2], nullptr, 10);
  std::mt19937_64 rng(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  for (const std::string& input : corpus) Run(input);
  for (long i = 0; i < count; ++i) Run(Generate(rng, corpus));
  std::printf("%zu corpus inputs and %ld generated inputs ran clean\n", corpus.size(), count);
  return 0;
}
