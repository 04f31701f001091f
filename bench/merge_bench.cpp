// The merge of N friends' feeds (25 entries each, descriptions of 1 to 3 kB) beside the time
// TinyXML alone takes to load the same files, which is the floor for the merge.
#include <benchmark/benchmark.h>
#include <tinyxml.h>

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

}  // namespace

BENCHMARK(BM_TinyXmlLoadOnly)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeMerge)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
