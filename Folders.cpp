// The folder conversion: a walk of the input folder in sorted order, the
// files converted on a pool of threads, and their messages printed in the
// walk's order whatever thread finished first.
#include "Folders.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "BPlist.h"
#include "bplist/Platform.h"
#include "bplist/RuntimeFailure.h"

using namespace bplist;

namespace {

// Time between two updates of the progress line.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

bool IsSeparator(char c) {
  return c == '/' || c == platform::FolderSeparator();
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsSeparator(folder.back())) return folder + name;
  return folder + platform::FolderSeparator() + name;
}

// What each output file's name has appended to its input's.
const char* Suffix(OutputKind kind) {
  switch (kind) {
    case OutputKind::kJson:
      return ".json";
    case OutputKind::kBinary:
      return ".bplist";
    case OutputKind::kXml:
      break;
  }
  return ".xml";
}

// One item of the walk: a file to convert, or a folder that cannot be read.
struct Item {
  std::string relative;    // from the input folder, with the system's separator
  std::string unreadable;  // why the folder cannot be read; empty for a file
};

// Appends the files under input/relative to `items`, each folder's entries
// in the byte order of their names, a folder's files where its name falls.
void Walk(const std::string& input, const std::string& relative, std::vector<Item>* items) {
  std::vector<platform::FolderEntry> entries;
  try {
    entries = platform::ListFolder(Join(input, relative));
  } catch (const RuntimeFailure& failure) {
    if (relative.empty()) throw;
    items->push_back({relative, failure.Message});
    return;
  }
  std::sort(entries.begin(), entries.end(),
            [](const platform::FolderEntry& a, const platform::FolderEntry& b) {
              return a.name < b.name;
            });
  for (const platform::FolderEntry& e : entries) {
    std::string path = Join(relative, e.name);
    if (e.kind == platform::EntryKind::kFolder) Walk(input, path, items);
    if (e.kind == platform::EntryKind::kFile) items->push_back({path, ""});
  }
}

// Creates folder `path` and the folders above it that are missing.
void MakeFolders(const std::string& path) {
  if (platform::KindOf(path) == platform::PathKind::kDirectory) return;
  size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  size_t sep = end;
  while (sep > 0 && !IsSeparator(path[sep - 1])) --sep;
  if (sep > 0 && sep < end) MakeFolders(path.substr(0, sep));
  platform::MakeFolder(path.substr(0, end));
}

// The outcome of one item, kept until its turn to be reported.
struct Result {
  bool done = false;
  FileConversion conversion = FileConversion::kFailed;
  std::string messages;
  std::exception_ptr fatal;  // a failure that ends the whole conversion
};

// The files of a walk, converted on `threads` threads.
class Pool {
 public:
  Pool(const std::string& input, const std::string& output, OutputKind kind, bool unarchive,
       bool sorted, const std::vector<Item>& items)
      : input_(input),
        output_(output),
        kind_(kind),
        unarchive_(unarchive),
        sorted_(sorted),
        items_(items),
        results_(items.size()) {}

  // Starts the threads; when the system gives none, the calling thread
  // converts every file before the first is reported.
  void Start(unsigned threads) {
    try {
      for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      if (threads_.empty()) Work();
    }
  }

  // Waits for item i and hands over its result.
  Result Take(size_t i) {
    std::unique_lock<std::mutex> hold(lock_);
    ready_.wait(hold, [&] { return results_[i].done; });
    return std::move(results_[i]);
  }

  // Stops handing out items and waits for the threads.
  void Finish() {
    stop_ = true;
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  ~Pool() { Finish(); }

 private:
  void Work() {
    for (;;) {
      size_t i = next_++;
      if (i >= items_.size() || stop_) return;
      Result r;
      try {
        Convert(items_[i], &r);
      } catch (...) {
        r.fatal = std::current_exception();
        stop_ = true;
      }
      r.done = true;
      std::lock_guard<std::mutex> hold(lock_);
      results_[i] = std::move(r);
      ready_.notify_all();
    }
  }

  void Convert(const Item& item, Result* r) {
    std::string in = Join(input_, item.relative);
    if (!item.unreadable.empty()) {
      r->messages = "Folder " + in + " cannot be read: " + item.unreadable + "\r\n";
      return;
    }
    std::string out = Join(output_, item.relative) + Suffix(kind_);
    size_t sep = item.relative.size();
    while (sep > 0 && !IsSeparator(item.relative[sep - 1])) --sep;
    try {
      if (sep > 0) MakeParent(item.relative.substr(0, sep - 1));
      r->conversion = ConvertOneOfMany(in, out, kind_, unarchive_, sorted_, &r->messages);
    } catch (const RuntimeFailure& failure) {
      // An output that cannot be made for its path alone (a name too long
      // or not allowed, a file where its folder goes) fails that file with
      // the report -c prints for it, and the others go on. Any other cause,
      // or an output folder gone, is the output's as a whole and ends the
      // run as it ends -c.
      if (!failure.InvalidName || platform::KindOf(output_) != platform::PathKind::kDirectory)
        throw;
      r->messages += RuntimeFailureReport(failure);
      r->conversion = FileConversion::kFailed;
    }
  }

  // Creates output/relative once, however many files it receives.
  void MakeParent(const std::string& relative) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (made_.count(relative) != 0) return;
    }
    MakeFolders(Join(output_, relative));
    std::lock_guard<std::mutex> hold(lock_);
    made_.insert(relative);
  }

  const std::string& input_;
  const std::string& output_;
  const OutputKind kind_;
  const bool unarchive_, sorted_;
  const std::vector<Item>& items_;
  std::vector<Result> results_;
  std::set<std::string> made_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

// The progress line on a terminal: files done of the total, redrawn in place.
class Progress {
 public:
  explicit Progress(size_t total) : total_(total), shown_(platform::ProgressShown()) {}

  void Update(size_t done) {
    if (!shown_) return;
    auto now = std::chrono::steady_clock::now();
    if (done != total_ && now - last_ < kProgressInterval) return;
    last_ = now;
    std::string line = std::to_string(done) + " of " + std::to_string(total_) + " files";
    width_ = line.size();
    platform::WriteProgress("\r" + line);
  }

  // Takes the line away, before a message or at the end.
  void Clear() {
    if (!shown_ || width_ == 0) return;
    platform::WriteProgress("\r" + std::string(width_, ' ') + "\r");
    width_ = 0;
  }

 private:
  size_t total_;
  bool shown_;
  size_t width_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

// True, after printing why, when the output folder is the input folder or
// either lies inside the other, so that something would be written inside
// the input.
bool Overlapping(const std::string& input, const std::string& output) {
  std::string in = platform::ComparablePath(input);
  std::string out = platform::ComparablePath(output);
  auto inside = [](const std::string& inner, const std::string& outer) {
    if (inner.size() <= outer.size() || inner.compare(0, outer.size(), outer) != 0) return false;
    return IsSeparator(outer.back()) || IsSeparator(inner[outer.size()]);
  };
  if (in == out) {
    PrintLine("Output folder " + output + " is the input folder " + input + "!");
  } else if (inside(out, in)) {
    PrintLine("Output folder " + output + " is inside the input folder " + input + "!");
  } else if (inside(in, out)) {
    PrintLine("Input folder " + input + " is inside the output folder " + output + "!");
  } else {
    return false;
  }
  return true;
}

}  // namespace

FolderOutcome ConvertFolder(const std::string& input, const std::string& output, OutputKind kind,
                            bool unarchive, bool sorted) {
  if (platform::KindOf(input) != platform::PathKind::kDirectory) {
    PrintLine("Folder " + input + " not found!");
    return FolderOutcome::kRefused;
  }
  if (Overlapping(input, output)) return FolderOutcome::kRefused;
  std::vector<Item> items;
  Walk(input, "", &items);
  MakeFolders(output);

  unsigned threads = std::min<unsigned>(platform::ProcessorCount(), platform::kMaxTempFiles);
  threads = unsigned(std::min<size_t>(threads, items.size()));
  Pool pool(input, output, kind, unarchive, sorted, items);
  pool.Start(threads);
  Progress progress(items.size());
  size_t converted = 0, failed = 0, skipped = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    Result r = pool.Take(i);
    if (r.fatal) {
      progress.Clear();
      pool.Finish();
      std::rethrow_exception(r.fatal);
    }
    if (!r.messages.empty()) {
      progress.Clear();
      platform::WriteMessage(r.messages);
    }
    if (r.conversion == FileConversion::kConverted) ++converted;
    if (r.conversion == FileConversion::kFailed) ++failed;
    if (r.conversion == FileConversion::kNotBinaryPlist) ++skipped;
    progress.Update(i + 1);
  }
  pool.Finish();
  progress.Clear();
  PrintLine(std::to_string(converted) + " converted, " + std::to_string(failed) + " failed, " +
            std::to_string(skipped) + " skipped");
  return failed == 0 ? FolderOutcome::kAllConverted : FolderOutcome::kSomeFailed;
}
