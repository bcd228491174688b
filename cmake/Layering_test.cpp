// The include directions between the folders, checked over every source file of the tree. The
// table below is the one statement of the layering (the README draws the same graph):
//
//   platform <- util <- json <- recordset <- infolines (json/ULinked.*)
//               util <- exchange <- host, which also writes record sets (recordset)
//   live: platform, util, json, recordset, exchange, infolines      (no Qt)
//   ui:   platform, util, Qt
//   app:  everything but host, Qt
//   bench, fuzz: anything without Qt
//
// A file may include its own folder and the folders its row names, nothing else; only ui/ and
// app/ include Qt headers (<Q...>). A folder without files passes. Each line that breaks the
// rule is reported with its file and line number.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Layer {
  std::set<std::string> may_include;  // besides itself
  bool qt = false;
};

const std::map<std::string, Layer>& Layers() {
  static const std::map<std::string, Layer> layers = {
      {"platform", {{}, false}},
      {"util", {{"platform"}, false}},
      {"json", {{"platform", "util"}, false}},
      {"recordset", {{"platform", "util", "json"}, false}},
      {"infolines", {{"platform", "util", "json", "recordset"}, false}},
      {"exchange", {{"platform", "util"}, false}},
      {"host", {{"platform", "util", "json", "recordset", "exchange"}, false}},
      {"live", {{"platform", "util", "json", "recordset", "exchange", "infolines"}, false}},
      {"ui", {{"platform", "util"}, true}},
      {"app",
       {{"platform", "util", "json", "recordset", "infolines", "exchange", "live", "ui"}, true}},
      {"bench",
       {{"platform", "util", "json", "recordset", "infolines", "exchange", "host", "live"}, false}},
      {"fuzz",
       {{"platform", "util", "json", "recordset", "infolines", "exchange", "host", "live"}, false}},
  };
  return layers;
}

// Single files that cross a line on purpose, with the reason.
const std::map<std::string, std::set<std::string>>& Exceptions() {
  static const std::map<std::string, std::set<std::string>> exceptions = {
      // The end-to-end test: a document from ktx-exchange through the client into the lines.
      {"host/SampleDocument_test.cpp", {"json", "recordset", "infolines"}},
      // The view's load against a host in the test's own process, with a key made to fail.
      {"live/LiveImportFrm_test.cpp", {"host"}},
      // The window against hosts that misbehave, made from the stand-in's own request handling.
      {"app/HostileHost_test.cpp", {"host"}},
  };
  return exceptions;
}

// The layer of a file or include path given relative to the tree ("json/ULinked.h").
std::optional<std::string> LayerOf(const std::string& relative) {
  const size_t slash = relative.find('/');
  if (slash == std::string::npos) return std::nullopt;
  const std::string folder = relative.substr(0, slash);
  const std::string rest = relative.substr(slash + 1);
  if (folder == "json" && rest.rfind("ULinked", 0) == 0) return "infolines";
  if (Layers().count(folder) == 0) return std::nullopt;
  return folder;
}

// Empty when the line may stand in the file, else what is wrong.
std::string Violation(const std::string& file, const std::string& line) {
  static const std::regex local(R"(^\s*#\s*include\s*"([A-Za-z_]+/[^"]+)\")");
  static const std::regex qt(R"(^\s*#\s*include\s*<(Q[A-Za-z]+|Qt[A-Za-z]+/[^>]*)>)");
  const std::optional<std::string> from = LayerOf(file);
  if (!from) return "";
  const Layer& layer = Layers().at(*from);
  std::smatch m;
  if (std::regex_search(line, m, qt)) {
    return layer.qt ? "" : *from + " may not include Qt (" + m[1].str() + ")";
  }
  if (!std::regex_search(line, m, local)) return "";
  const std::optional<std::string> to = LayerOf(m[1].str());
  if (!to || *to == *from || layer.may_include.count(*to) != 0) return "";
  const auto exception = Exceptions().find(file);
  if (exception != Exceptions().end() && exception->second.count(*to) != 0) return "";
  return *from + " may not include " + *to + " (" + m[1].str() + ")";
}

TEST(Layering, TheRuleRefusesEveryForbiddenDirection) {
  struct Case {
    const char* name;
    std::string file, line;
    bool allowed;
  } cases[] = {
      {"own folder", "util/Files.cpp", "#include \"util/Errors.h\"", true},
      {"downward", "json/TKXJSON.cpp", "#include \"util/Variant.h\"", true},
      {"upward", "util/Files.cpp", "#include \"json/Utf8.h\"", false},
      {"platform includes util", "platform/file_posix.cpp", "#include \"util/Errors.h\"", false},
      {"json includes recordset", "json/TKXJSON.cpp", "#include \"recordset/TXFiler.h\"", false},
      {"infolines includes recordset", "json/ULinked.cpp", "#include \"recordset/TXFiler.h\"",
       true},
      {"recordset includes infolines", "recordset/UVirtualDataset.cpp",
       "#  include \"json/ULinked.h\"", false},
      {"recordset includes json", "recordset/UVirtualDataset.cpp", "#include \"json/CSVReader.h\"",
       true},
      {"exchange includes json", "exchange/IPCValue.cpp", "#include \"json/Utf8.h\"", false},
      {"host includes exchange", "host/ExchangeHost.cpp", "#include \"exchange/Frame.h\"", true},
      {"host writes record sets", "host/AnyQuery.cpp", "#include \"recordset/TXFiler.h\"", true},
      {"host includes live", "host/AnyQuery.cpp", "#include \"live/Notes.h\"", false},
      {"exchange includes host", "exchange/IPCClient.cpp", "#include \"host/ExchangeHost.h\"",
       false},
      {"live includes infolines", "live/Table.cpp", "#include \"json/ULinked.h\"", true},
      {"live includes host", "live/Table.cpp", "#include \"host/ExchangeHost.h\"", false},
      {"live includes ui", "live/Table.cpp", "#include \"ui/Grid.h\"", false},
      {"live includes Qt", "live/Table.cpp", "#include <QString>", false},
      {"ui includes Qt", "ui/Grid.cpp", "#include <QtWidgets/QTableView>", true},
      {"ui includes live", "ui/Grid.cpp", "#include \"live/Table.h\"", false},
      {"ui includes app", "ui/Grid.cpp", "#include \"app/Main.h\"", false},
      {"app includes live and Qt", "app/Frm.cpp", "#include \"live/Table.h\"", true},
      {"app includes host", "app/Frm.cpp", "#include \"host/ExchangeHost.h\"", false},
      {"util includes Qt", "util/Numbers.cpp", "#include <QLocale>", false},
      {"bench includes host", "bench/ipc_bench.cpp", "#include \"host/ExchangeHost.h\"", true},
      {"fuzz includes Qt", "fuzz/json_fuzz.cpp", "#include <QString>", false},
      {"the end-to-end test", "host/SampleDocument_test.cpp", "#include \"json/ULinked.h\"", true},
      {"another host test", "host/ExchangeHost_test.cpp", "#include \"json/ULinked.h\"", false},
      {"system header", "util/Files.cpp", "#include <string>", true},
      {"a comment", "util/Files.cpp", "// #include \"json/Utf8.h\" would be wrong", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Violation(c.file, c.line).empty(), c.allowed) << Violation(c.file, c.line);
  }
}

TEST(Layering, EverySourceFileKeepsTheLayering) {
  const fs::path root = RB_SOURCE_DIR;
  int files = 0;
  std::vector<std::string> violations;
  for (const auto& [folder, layer] : Layers()) {
    (void)layer;
    const fs::path dir = root / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
      ++files;
      const std::string relative = fs::relative(entry.path(), root).generic_string();
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        const std::string wrong = Violation(relative, line);
        if (!wrong.empty()) {
          violations.push_back(relative + ":" + std::to_string(number) + ": " + wrong);
        }
      }
    }
  }
  EXPECT_GT(files, 50) << "the tree was not found at " << root;
  EXPECT_TRUE(violations.empty()) << [&] {
    std::string all;
    for (const std::string& v : violations)
      all += v + "\n";
    return all;
  }();
}

}  // namespace
