// The merge of N friends' feeds (25 entries each, descriptions of 1 to 3 kB) beside the time
// TinyXML alone takes to load the same files, which is the floor for the merge; and the peak
// memory of a merge of friends with 400,000 short entries each, measured in a process of its own.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tinyxml.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "feed/merged_feed.h"

namespace {

constexpr int kItemsPerFeed = 25;

// A directory of generated friend feeds, made once per friend count and removed at exit.
class FeedCorpus {
 public:
  explicit FeedCorpus(int friends) {
    std::random_device seedless;
    directory_ = std::filesystem::temp_directory_path() /
                 ("zv-bench-" + std::to_string(seedless()) + "-" + std::to_string(friends));
    std::filesystem::create_directories(directory_);
    std::mt19937 random(friends);
    for (int i = 0; i < friends; ++i) {
      names_.push_back("friend" + std::to_string(i));
      std::string xml = FeedText(names_.back(), random);
      bytes_ += xml.size();
      std::ofstream(directory_ / names_.back(), std::ios::binary) << xml;
    }
  }
  ~FeedCorpus() { std::filesystem::remove_all(directory_); }

  std::string directory() const { return directory_.string(); }
  const std::vector<std::string>& names() const { return names_; }
  std::size_t bytes() const { return bytes_; }

 private:
  static std::string FeedText(const std::string& name, std::mt19937& random) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
        "xmlns:zarnik=\"http://www.zarnik.example/rss/\">\n<channel>\n<title>" +
        name + "</title>\n<link>http://" + name + ".zarnik.example/</link>\n<description>" + name +
        " - Zarnik</description>\n<lastBuildDate>Mon, 05 Jan 2009 10:00:00 "
        "GMT</lastBuildDate>\n";
    for (int item = 0; item < kItemsPerFeed; ++item) {
      char date[64];
      std::snprintf(date, sizeof date, "Mon, %02d %s 20%02d %02d:%02d:%02d GMT",
                    int(random() % 28 + 1), kMonths[random() % 12], int(random() % 15),
                    int(random() % 24), int(random() % 60), int(random() % 60));
      xml += "<item>\n<guid isPermaLink='true'>http://" + name + ".zarnik.example/" +
             std::to_string(item) + ".html</guid>\n<pubDate>" + date + "</pubDate>\n<title>Entry " +
             std::to_string(item) + " of " + name + "</title>\n<link>http://" + name +
             ".zarnik.example/" + std::to_string(item) + ".html</link>\n<description>" +
             Description(1000 + random() % 2000, random) + "</description>\n<comments>http://" +
             name + ".zarnik.example/" + std::to_string(item) +
             ".html</comments>\n<zarnik:security>public</zarnik:security>\n"
             "</item>\n";
    }
    return xml + "</channel>\n</rss>\n";
  }

  // Escaped HTML as journal services send it: words, tags as entities, line breaks.
  static std::string Description(std::size_t size, std::mt19937& random) {
    static const char* const kPieces[] = {
        "the ",   "journal ", "entry ",
        "with ",  "some ",    "&lt;b&gt;bold&lt;/b&gt; ",
        "&amp; ", "words\n",  "&lt;a href=&quot;http://x.example/&quot;&gt;link&lt;/a&gt; "};
    std::string text;
    while (text.size() < size) {
      text += kPieces[random() % std::size(kPieces)];
    }
    return text;
  }

  std::filesystem::path directory_;
  std::vector<std::string> names_;
  std::size_t bytes_ = 0;
};

const FeedCorpus& Corpus(int friends) {
  static std::map<int, std::unique_ptr<FeedCorpus>> corpora;
  std::unique_ptr<FeedCorpus>& corpus = corpora[friends];
  if (!corpus) {
    corpus = std::make_unique<FeedCorpus>(friends);
  }
  return *corpus;
}

void Report(benchmark::State& state, const FeedCorpus& corpus) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(corpus.bytes()));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(corpus.names().size()) *
                          kItemsPerFeed);
}

void BM_TinyXmlLoadOnly(benchmark::State& state) {
  const FeedCorpus& corpus = Corpus(int(state.range(0)));
  for (auto _ : state) {
    for (const std::string& name : corpus.names()) {
      TiXmlDocument document;
      benchmark::DoNotOptimize(document.LoadFile(corpus.directory() + "/" + name));
    }
  }
  Report(state, corpus);
}

void BM_WholeMerge(benchmark::State& state) {
  const FeedCorpus& corpus = Corpus(int(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(MergeFriendFeeds(corpus.directory(), corpus.names(), "abc"));
  }
  Report(state, corpus);
}

constexpr int kLongFeedEntries = 400000;
constexpr char kMergeOnce[] = "--merge-once";

// Friends whose feeds hold kLongFeedEntries short entries each (about 45 MB a file), in a
// directory removed at exit.
class LongFeeds {
 public:
  explicit LongFeeds(int friends) {
    std::random_device seedless;
    directory_ = std::filesystem::temp_directory_path() /
                 ("zv-bench-long-" + std::to_string(seedless()) + "-" + std::to_string(friends));
    std::filesystem::create_directories(directory_);
    for (int i = 0; i < friends; ++i) {
      const std::string name = "friend" + std::to_string(i);
      std::ofstream file(directory_ / name, std::ios::binary);
      file << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>"
           << name << "</title><link>http://" << name << ".example/</link><description>" << name
           << "</description>\n";
      for (int entry = 0; entry < kLongFeedEntries; ++entry) {
        char date[64];
        std::snprintf(date, sizeof date, "Mon, %02d Jan 20%02d %02d:00:00 GMT", entry % 28 + 1,
                      (entry / 28) % 15, (entry + i) % 24);
        file << "<item><title>Entry " << entry << "</title><link>http://" << name << ".example/"
             << entry << "</link><pubDate>" << date << "</pubDate></item>\n";
      }
      file << "</channel></rss>\n";
    }
  }
  ~LongFeeds() { std::filesystem::remove_all(directory_); }

  std::string directory() const { return directory_.string(); }

 private:
  std::filesystem::path directory_;
};

std::vector<std::string> FriendNames(int friends) {
  std::vector<std::string> names;
  for (int i = 0; i < friends; ++i) {
    names.push_back("friend" + std::to_string(i));
  }
  return names;
}

// The peak resident memory of one merge of `friends` long feeds, run in a new process of this
// program so that nothing else the benchmark holds counts.
void BM_MergePeakMemory(benchmark::State& state) {
  const int friends = int(state.range(0));
  const LongFeeds feeds(friends);
  const std::string count = std::to_string(friends);
  const std::string directory = feeds.directory();
  double peakMiB = 0;
  for (auto _ : state) {
    const char* arguments[] = {"merge_bench", kMergeOnce, directory.c_str(), count.c_str(),
                               nullptr};
    pid_t child;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, const_cast<char**>(arguments),
                    environ) != 0) {
      state.SkipWithError("cannot start the merging process");
      return;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("the merging process failed");
      return;
    }
    peakMiB = double(usage.ru_maxrss) / 1024;  // ru_maxrss is in KiB
  }
  state.counters["peak_MiB"] = peakMiB;
}

}  // namespace

BENCHMARK(BM_TinyXmlLoadOnly)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeMerge)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergePeakMemory)->Arg(1)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  // The process BM_MergePeakMemory starts: merge the given number of long feeds, once.
  if (argc == 4 && std::string(argv[1]) == kMergeOnce) {
    return MergeFriendFeeds(argv[2], FriendNames(std::stoi(argv[3])), "abc") ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
