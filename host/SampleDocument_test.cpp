// The whole way a document travels before the window sees it: the real ktx-exchange hands out a
// copy of its sample invoice, the client fetches its name, the reader parses it, and the order's
// info lines load from it. Each layer has its own tests; this one catches a break between them
// (a path, an encoding, a member name) and keeps the demo's sample document readable.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "exchange/IPCValue.h"
#include "exchange/TestPipeFolder.h"
#include "json/JSONAccess.h"
#include "json/TKXJSONStreamer.h"
#include "json/ULinked.h"
#include "platform/Process.h"
#include "util/Files.h"

namespace rb {
namespace {

TEST(SampleDocument, TravelsFromTheHostToTheInfoLines) {
  platform::ChildProcess host =
      platform::ChildProcess::Start(KTX_EXCHANGE_PATH, {"--pipe-name", "ktx-sample-test"},
                                    {{"XDG_RUNTIME_DIR", TTestPipeFolder::Folder()}});
  ASSERT_TRUE(host.Running());
  for (int i = 0; i < 500 && ReadLocalServiceName().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  const std::string path = ReadIPCValueSync("GETJSON", true, "");
  ASSERT_FALSE(path.empty());
  TKXJSONPtr root = TKXJSONStreamer::ReadFile(path);
  EXPECT_TRUE(DeleteFileRetry(path));
  host.Kill();
  ASSERT_TRUE(root);

  TKXCustomJSON* orders = root->FindMember(doc::kOrder);
  ASSERT_NE(orders, nullptr);
  TKXCustomJSON* order = orders->ItemAt(0);
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(order->MemberAsText(doc::kLinkUid).size(), 38u);  // a GUID with braces
  TKXCustomJSON* parts = order->FindMember(doc::kParts);
  ASSERT_NE(parts, nullptr);
  EXPECT_GT(parts->ItemCount(), 5);
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
  EXPECT_EQ(lines.Info2, 2);
  ASSERT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines.Items(0).ORG_ID, 17);
  EXPECT_EQ(lines.Items(1).ORG_ID, 42);
  EXPECT_EQ(lines.Items(1)._1, "AR-2024-0142");
}

}  // namespace
}  // namespace rb
