// ktx-exchange against a temporary folder that others may use. POSIX only: folder modes are
// what makes a folder private there; Windows gives each account a temporary folder of its own
// behind its access list, which no environment variable can swap for a shared one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "exchange/TestPipeFolder.h"
#include "platform/Process.h"
#include "util/Files.h"

namespace rb {
namespace {

// A temporary folder that others may write to must not receive the service's files; the
// service says so and exits with 1 instead of ending on an uncaught exception.
TEST(KtxExchangeStart, UntrustedTemporaryFolderEndsWithAnError) {
  const std::string open_folder = TTestPipeFolder::Folder() + "/open-to-all";
  ASSERT_EQ(::mkdir(open_folder.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open_folder.c_str(), 0777), 0);
  for (const bool with_data_folder : {false, true}) {
    SCOPED_TRACE(with_data_folder);
    std::vector<std::string> args = {"--pipe-name", "ktx-untrusted"};
    if (with_data_folder) args.insert(args.end(), {"--data-folder", TempFolder()});
    platform::ChildProcess child =
        platform::ChildProcess::Start(KTX_EXCHANGE_PATH, args, {{"XDG_RUNTIME_DIR", open_folder}});
    ASSERT_TRUE(child.Running());
    EXPECT_EQ(child.Wait(5000), 1);
  }
}

}  // namespace
}  // namespace rb
