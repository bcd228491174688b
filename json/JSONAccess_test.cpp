#include "json/JSONAccess.h"

#include <gtest/gtest.h>

#include "json/TKXJSONStreamer.h"
#include "platform/Locale.h"
#include "util/Errors.h"

namespace rb {
namespace {

class DocumentAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = TKXJSONStreamer::ReadText(R"({
      "Order": [{
        "LINKUID": 4711, "PrintName": "Rechnung \u20AC", "InfoLines": "",
        "Price": 1234.5, "Big": 1e20, "Tiny": 1e-10, "Whole": 100,
        "Yes": true, "No": false, "Nothing": null, "List": [1], "Obj": {"a": 1},
        "Far": "\u4E00", "Umlaut": "Gr\u00FC\u00DFe",
        "Adress": [{"AdressSmart": "Muster GmbH"}],
        "Parts": [{"Row": "1", "TypLine": "N", "Position": "1.1", "Price": 10},
                  {"Row": 2, "TypLine": "T", "Position": 2, "Price": -0.25}]
      }]})");
    ASSERT_NE(root_, nullptr);
    order_ = root_->FindMember(doc::kOrder)->ItemAt(0);
    ASSERT_NE(order_, nullptr);
  }
  void TearDown() override { platform::SetUserLocaleForTesting(std::nullopt); }

  TKXJSONPtr root_;
  TKXCustomJSON* order_ = nullptr;
};

TEST_F(DocumentAccess, MemberAsTextByKind) {
  struct Row {
    const char* member;
    char decimal;
    const char* text;
  };
  const Row rows[] = {
      {"Price", ',', "1234,5"},
      {"Price", '.', "1234.5"},
      {"LINKUID", ',', "4711"},
      {"Big", '.', "1E+20"},
      {"Tiny", ',', "1E-10"},
      {"Whole", ',', "100"},
      {"Yes", '.', "-1"},
      {"No", '.', "0"},
      {"Nothing", '.', ""},
      {"List", '.', ""},
      {"Obj", '.', ""},
      {"Missing", '.', ""},
      {"PrintName", '.', "Rechnung \x80"},
      {"Far", '.', "?"},
      {"Umlaut", '.',
       "Gr\xFC\xDF"
       "e"},
      {"InfoLines", '.', ""},
      {"price", '.', ""},
  };
  for (const Row& r : rows) {
    platform::SetUserLocaleForTesting({{r.decimal, ';'}});
    EXPECT_EQ(order_->MemberAsText(r.member), r.text) << r.member << " with " << r.decimal;
  }
}

TEST_F(DocumentAccess, WalkingTheOrderAsTheLiveViewDoes) {
  platform::SetUserLocaleForTesting({{',', ';'}});
  TKXCustomJSON* adress = order_->FindMember(doc::kAdress);
  ASSERT_EQ(adress->ItemCount(), 1);
  EXPECT_EQ(adress->ItemAt(0)->MemberAsText(doc::kAdressSmart), "Muster GmbH");
  TKXCustomJSON* parts = order_->FindMember(doc::kParts);
  ASSERT_EQ(parts->ItemCount(), 2);
  EXPECT_EQ(parts->ItemAt(0)->MemberAsText(doc::kPosition), "1.1");
  EXPECT_EQ(parts->ItemAt(1)->MemberAsText(doc::kPosition), "2");
  EXPECT_EQ(parts->ItemAt(1)->MemberAsText(doc::kRow), "2");
  EXPECT_EQ(parts->ItemAt(1)->MemberAsText(doc::kPrice), "-0,25");
  EXPECT_EQ(parts->ItemAt(0)->MemberAsText(doc::kTypLine), "N");
  EXPECT_EQ(parts->ItemAt(2), nullptr);
  EXPECT_EQ(parts->ItemAt(-1), nullptr);
}

TEST_F(DocumentAccess, ScalarsAndPairsAnswerForThemselves) {
  TKXCustomJSON* name = order_->FindMember("PrintName");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->FindMember("anything"), name);
  EXPECT_EQ(name->MemberAsText("anything"), "Rechnung \x80");
  EXPECT_EQ(name->ItemAt(0), nullptr);
  // On an object, position 0 is the first member pair, whose text is always empty.
  TKXCustomJSON* pair = order_->ItemAt(0);
  ASSERT_NE(pair, nullptr);
  EXPECT_STREQ(pair->GetKindName(), "js_Base");
  EXPECT_EQ(pair->MemberAsText("LINKUID"), "");
  EXPECT_EQ(pair->FindMember("x"), pair);
  EXPECT_EQ(order_->ItemAt(order_->ItemCount()), nullptr);
}

TEST(DocumentAccessRoots, AnArrayRootAnswersForEveryName) {
  TKXJSONPtr root = TKXJSONStreamer::ReadText("[{\"LINKUID\":\"x\"}]");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->FindMember("Order"), root.get());
  EXPECT_EQ(root->FindMember("Order")->ItemAt(0)->MemberAsText("LINKUID"), "x");
  EXPECT_EQ(root->MemberAsText("Order"), "");
}

TEST(DocumentAccessRoots, NamesGoThroughTheCodePage) {
  TKXJSONPtr root = TKXJSONStreamer::ReadText("{\"Gr\xC3\xB6\xC3\x9F\x65\":\"ok\"}");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->MemberAsText("Gr\xF6\xDF"
                               "e"),
            "ok");
}

TEST(DocumentAccessRoots, ANumberBeyondDoubleRaisesOnlyWhenRead) {
  TKXJSONPtr root = TKXJSONStreamer::ReadText("{\"x\":1e400,\"y\":1}");
  ASSERT_NE(root, nullptr);
  EXPECT_NE(root->FindMember("x"), nullptr);
  EXPECT_THROW(root->MemberAsText("x"), EVariantError);
  EXPECT_EQ(root->MemberAsText("y"), "1");
}

}  // namespace
}  // namespace rb
