#include "util/Errors.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/File.h"
#include "platform/SysError.h"

namespace rb {
namespace {

// The system's message for a code. On Windows it comes from the system itself (FormatMessage),
// whose wording differs between Windows and Wine, so the tests there take the system's word
// and check what we make of it; elsewhere it is our own table, written as Windows words it.
std::string SystemText(uint32_t code, const char* windows_words) {
  return platform::kPathDelim == '\\' ? platform::SysErrorMessage(code) : windows_words;
}

TEST(RaiseOSError, NamesTheCodeAndTheSystemMessageOnTwoLines) {
  struct Row {
    uint32_t code;
    std::string message;
  };
  const Row rows[] = {
      {2,
       "System Error.  Code: 2.\r\n" + SystemText(2, "The system cannot find the file specified.")},
      {32, "System Error.  Code: 32.\r\n" +
               SystemText(32,
                          "The process cannot access the file because it is being used by another "
                          "process.")},
      {0, "A call to an OS function failed"},
  };
  for (const Row& row : rows) {
    try {
      RaiseOSError(row.code);
      FAIL() << "no error for " << row.code;
    } catch (const EOSError& e) {
      EXPECT_EQ(e.what(), row.message);
      EXPECT_EQ(e.ErrorCode(), row.code);
    }
  }
}

TEST(RaiseOSError, LastErrorIsTheThreadsLastError) {
  platform::SetLastError(5);
  try {
    RaiseLastOSError();
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 5u);
    EXPECT_EQ(e.what(), "System Error.  Code: 5.\r\n" + SystemText(5, "Access is denied."));
  }
}

// Retrying file operations catch rb::Exception; callers catch stream errors as EStreamError.
TEST(Exceptions, EveryErrorIsAnExceptionWithItsText) {
  const auto message_of = [](auto&& raise) -> std::string {
    try {
      raise();
    } catch (const EStreamError& e) {
      return "stream: " + e.Message();
    } catch (const Exception& e) {
      return "other: " + e.Message();
    }
    return "none";
  };
  EXPECT_EQ(message_of([] { throw EFOpenError("open"); }), "stream: open");
  EXPECT_EQ(message_of([] { throw EFCreateError("create"); }), "stream: create");
  EXPECT_EQ(message_of([] { throw EReadError("read"); }), "stream: read");
  EXPECT_EQ(message_of([] { throw EWriteError("write"); }), "stream: write");
  EXPECT_EQ(message_of([] { throw EInOutError("io", 3); }), "other: io");
  EXPECT_EQ(message_of([] { throw EVariantOverflowError("overflow"); }), "other: overflow");
  EXPECT_EQ(message_of([] { throw EDatabaseError("Feld \xFC"); }), "other: Feld \xFC");
}

}  // namespace
}  // namespace rb
