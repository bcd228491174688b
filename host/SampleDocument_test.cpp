// The whole way the demo's data travels before the window sees it: the real ktx-exchange, started
// with its sample database, hands out a copy of its sample invoice, the client fetches its name,
// the reader parses it, the order's info lines load from it, and the earlier invoices they name
// come back through "ANYQUERY" as the program asks for them. Each layer has its own tests; this
// one catches a break between them (a path, an encoding, a member name) and keeps the sample
// consistent: the invoices that count add up to the deduction line, so the demo shows "OK".
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "json/JSONAccess.h"
#include "json/TKXJSONStreamer.h"
#include "json/ULinked.h"
#include "platform/Locale.h"
#include "platform/Process.h"
#include "recordset/UVirtualDataset.h"
#include "util/Files.h"
#include "util/Numbers.h"

namespace rb {
namespace {

bool Hidden(const std::string& kind) {
  return kind == "t" || kind == "d" || kind == "a" || kind == "-" || kind == "\x81";
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

class SampleDocument : public ::testing::Test {
 protected:
  void SetUp() override {
    // The host writes JSON numbers; the program reads them as text in the user's locale, the
    // German one the demo is made for.
    platform::SetUserLocaleForTesting(platform::LocaleSeparators{',', ';'});
    host_ = platform::ChildProcess::Start(KTX_EXCHANGE_PATH,
                                          {"--pipe-name", "ktx-sample-test", "--data-folder",
                                           TempFolder("Beispieldaten"), "--sample"},
                                          {{"XDG_RUNTIME_DIR", TTestPipeFolder::Folder()}});
    ASSERT_TRUE(host_.Running());
    WaitForLocalService("ktx-sample-test");
    ASSERT_EQ(ReadLocalServiceName(), "ktx-sample-test");
  }
  void TearDown() override {
    host_.Kill();
    platform::SetUserLocaleForTesting(std::nullopt);
  }
  platform::ChildProcess host_;
};

TEST_F(SampleDocument, TravelsFromTheHostToTheInfoLinesAndTheEarlierInvoices) {
  const std::string path = ReadIPCValueSync("GETJSON", true, "");
  ASSERT_FALSE(path.empty());
  TKXJSONPtr root = TKXJSONStreamer::ReadFile(path);
  EXPECT_TRUE(DeleteFileRetry(path));
  ASSERT_TRUE(root);

  TKXCustomJSON* orders = root->FindMember(doc::kOrder);
  ASSERT_NE(orders, nullptr);
  TKXCustomJSON* order = orders->ItemAt(0);
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(order->MemberAsText(doc::kLinkUid).size(), 38u);  // a GUID with braces
  EXPECT_FALSE(order->MemberAsText(doc::kPrintName).empty());
  TKXCustomJSON* address = order->FindMember(doc::kAdress);
  ASSERT_NE(address, nullptr);
  ASSERT_EQ(address->ItemCount(), 1);
  EXPECT_FALSE(address->ItemAt(0)->MemberAsText(doc::kAdressSmart).empty());

  // Positions: every one with its "Row"; hidden kinds among them; the last shown one is the
  // deduction line.
  TKXCustomJSON* parts = order->FindMember(doc::kParts);
  ASSERT_NE(parts, nullptr);
  EXPECT_EQ(parts->ItemCount(), 16);
  int shown = 0;
  std::string hidden_kinds;
  double deduction = 0;
  for (int i = 0; i < parts->ItemCount(); ++i) {
    TKXCustomJSON* part = parts->ItemAt(i);
    SCOPED_TRACE(i);
    EXPECT_FALSE(part->MemberAsText(doc::kRow).empty());
    const std::string kind = part->MemberAsText(doc::kTypLine);
    if (Hidden(kind)) {
      if (hidden_kinds.find(kind) == std::string::npos) hidden_kinds += kind;
      continue;
    }
    ++shown;
    deduction = static_cast<double>(TextToNumber(part->MemberAsText(doc::kPrice)));
  }
  EXPECT_EQ(shown, 10);
  EXPECT_EQ(hidden_kinds, "tda-");
  // UTF-8 in the file arrives as code-page text: "Lindenstraße" holds the byte 0xDF.
  EXPECT_NE(parts->ItemAt(0)
                ->MemberAsText(doc::kDescription1)
                .find("Lindenstra\xDF"
                      "e"),
            std::string::npos);

  TAddInfoLines lines;
  ASSERT_TRUE(lines.LoadFromText(order->MemberAsText(doc::kInfoLines)));
  EXPECT_EQ(lines.Info1,
            "Abschlagsrechnungen Neubau Lindenstra\xDF"
            "e");
  EXPECT_EQ(lines.Info2, 4);
  ASSERT_EQ(lines.Count(), 4);
  const int ids[] = {17, 39, 42, 58};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(lines.Items(i).ORG_ID, ids[i]);
  EXPECT_EQ(lines.Items(2)._1, "AR-2024-0142");

  // The earlier invoices, asked for as the program asks.
  std::string condition;
  for (int i = 0; i < lines.Count(); ++i)
    condition += (i ? " OR ID=" : "ID=") + std::to_string(lines.Items(i).ORG_ID);
  const std::string folder = Lower(ReadIPCValueSync("DBPATH", true, ""));
  const std::string file = UniqueTempFileName();
  const std::string reply = ReadIPCValueSync(
      "ANYQUERY", false,
      folder + '\b' + "Select ID,WW_NETTO,POT,ID_ORDER,DATE from Auftraege where " + condition +
          '\b' + "vds" + '\b' + file);
  ASSERT_FALSE(reply.empty());
  TVirtualDataSet ds;
  ds.LoadFieldDefsFromText(reply, true);
  TBinaryStreamFormat format;
  EXPECT_EQ(ds.LoadFromFile(file, format), 4);
  EXPECT_TRUE(DeleteFileRetry(file));
  double previous = 0;
  std::vector<std::string> listed;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    if (ds.FieldByName("POT")->AsInteger() != 1) continue;
    previous += ds.FieldByName("WW_NETTO")->AsFloat();
    listed.push_back(ds.FieldByName("ID_ORDER")->AsString());
    EXPECT_GT(ds.FieldByName("DATE")->AsDateTime(), 45000);  // a date of 2023 or later
  }
  EXPECT_EQ(listed.size(), 2u);
  EXPECT_DOUBLE_EQ(previous, 58912.75);
  // The status "OK": the deduction line's price is the counting invoices' sum, negated.
  EXPECT_EQ(FormatAmount(deduction), FormatAmount(-previous));
}

}  // namespace
}  // namespace rb
