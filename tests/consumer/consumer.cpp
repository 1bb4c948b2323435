// Converts every FILE with libtarnwick on several threads at once, each
// conversion both through a write callback and into a buffer, on one thread
// and on all, and writes what they agree on to OUT_DIR/NAME as consumer.c
// does. Any disagreement ends it with status 1.
// Usage: consumer_cpp OUT_DIR FILE...
#include <tarnwick.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

// Threads converting the whole list at once.
constexpr int kThreads = 4;

int Append(void* context, const char* bytes, size_t size) {
  static_cast<std::string*>(context)->append(bytes, size);
  return 0;
}

// The document, or the failure as consumer.c writes it.
std::string Outcome(const tarnwick_error& e, std::string document) {
  if (e.code == TARNWICK_OK) return document;
  if (e.code == TARNWICK_DAMAGED) return std::string("damaged: ") + e.reason;
  return "failed " + std::to_string(e.code);
}

// Every way of converting `data` gives the same outcome, which is returned;
// else an empty text.
std::string ConvertAllWays(const std::string& data) {
  std::string first;
  for (unsigned options : {0u, unsigned(TARNWICK_ALL_THREADS)}) {
    tarnwick_error e;
    std::string streamed;
    tarnwick_convert(data.data(), data.size(), TARNWICK_XML, options, Append, &streamed, &e);
    std::string byCallback = Outcome(e, streamed);
    char* document = nullptr;
    size_t length = 0;
    tarnwick_convert_to_buffer(data.data(), data.size(), TARNWICK_XML, options, &document,
                               &length, &e);
    std::string inBuffer = Outcome(e, document ? std::string(document, length) : "");
    tarnwick_free(document);
    if (byCallback != inBuffer || (options != 0 && byCallback != first)) return "";
    first = byCallback;
  }
  return first;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::vector<std::string> inputs;
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::vector<std::string>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (const std::string& data : inputs) results[t].push_back(ConvertAllWays(data));
    });
  for (std::thread& t : threads) t.join();
  int status = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::string path = argv[i + 2];
    for (int t = 1; t < kThreads; ++t)
      if (results[t][i] != results[0][i] || results[0][i].empty()) {
        std::cerr << path << ": the conversions disagree\n";
        status = 1;
      }
    std::ofstream(std::string(argv[1]) + "/" + path.substr(path.find_last_of('/') + 1),
                  std::ios::binary)
        << results[0][i];
  }
  return status;
}
