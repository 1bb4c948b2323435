// Converts every FILE on four threads at once, each file four ways (through
// a write callback and into a buffer, on one thread and on all), and writes
// to OUT_DIR/NAME the outcome as consumer.c prints it. Ends with status 1
// when the outcomes of a file differ. Usage: consumer_cpp OUT_DIR FILE...
#include <tarnwick.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;  // conversions at once
constexpr int kWays = 4;     // outcomes per file

int Append(void* text, const char* bytes, size_t size) {
  static_cast<std::string*>(text)->append(bytes, size);
  return 0;
}

std::string Outcome(const tarnwick_error& e, const std::string& document) {
  if (e.code == TARNWICK_OK) return document;
  if (e.code == TARNWICK_DAMAGED) return std::string("damaged: ") + e.reason;
  return "failed " + std::to_string(e.code);
}

void AddOutcomes(const std::string& data, std::vector<std::string>* outcomes) {
  for (unsigned options : {0u, unsigned(TARNWICK_ALL_THREADS)}) {
    tarnwick_error e;
    std::string streamed;
    tarnwick_convert(data.data(), data.size(), TARNWICK_XML, options, Append, &streamed, &e);
    outcomes->push_back(Outcome(e, streamed));
    char* document = nullptr;
    size_t length = 0;
    tarnwick_convert_to_buffer(data.data(), data.size(), TARNWICK_XML, options, &document, &length,
                               &e);
    outcomes->push_back(Outcome(e, document ? std::string(document, length) : ""));
    tarnwick_free(document);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::vector<std::string>> outcomes(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        AddOutcomes(std::string(std::istreambuf_iterator<char>(in), {}), &outcomes[t]);
      }
    });
  for (std::thread& t : threads) t.join();
  int status = 0;
  for (size_t k = 0; k < outcomes[0].size(); ++k)
    for (int t = 0; t < kThreads; ++t)
      if (outcomes[t][k] != outcomes[0][k - k % kWays]) status = 1;
  for (int i = 2; i < argc; ++i) {
    std::string path = argv[i];
    std::ofstream(std::string(argv[1]) + "/" + path.substr(path.find_last_of("/\\") + 1),
                  std::ios::binary)
        << outcomes[0][size_t(i - 2) * kWays];
  }
  return status;
}
