// The presence marker where the global namespace refuses it. Windows only: the subject is the
// mutex namespaces of a Windows session.
#include <gtest/gtest.h>

#include <string>

#include "platform/System.h"
#include "platform/Win32.h"

namespace platform {
namespace {

// A mutex under the name whose access list is present and empty: nobody may open it, as with
// another account's object that grants this one nothing.
HANDLE CreateClosedMutex(const std::string& name) {
  SECURITY_DESCRIPTOR descriptor{};
  ACL acl{};
  if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !::InitializeAcl(&acl, sizeof acl, ACL_REVISION) ||
      !::SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  return ::CreateMutexA(&attributes, FALSE, name.c_str());
}

TEST(PresenceMarkerWindows, RefusedGlobalNameFallsBackToTheSessionNamespace) {
  const Guid guid = NewGuid();
  const std::string bare = "rb-marker-test-" + std::to_string(guid.data1) + "-" +
                           std::to_string(::GetCurrentProcessId());
  const std::string global = "Global\\" + bare;
  HANDLE closed = CreateClosedMutex(global);
  ASSERT_NE(closed, nullptr) << ::GetLastError();
  HANDLE probe = ::CreateMutexA(nullptr, FALSE, global.c_str());
  if (probe != nullptr) {
    ::CloseHandle(probe);
    ::CloseHandle(closed);
    GTEST_SKIP() << "this system does not apply access lists to named mutexes";
  }
  ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  {
    PresenceMarker marker(global);
    EXPECT_TRUE(marker.Held());
    EXPECT_TRUE(PresenceMarker::IsPresent(global)) << "found where a second copy looks";
    HANDLE session = ::OpenMutexA(SYNCHRONIZE, FALSE, bare.c_str());
    EXPECT_NE(session, nullptr) << "the marker is in the session's namespace";
    if (session != nullptr) ::CloseHandle(session);
  }
  HANDLE after = ::OpenMutexA(SYNCHRONIZE, FALSE, bare.c_str());
  EXPECT_EQ(after, nullptr) << "closed with the marker";
  if (after != nullptr) ::CloseHandle(after);
  ::CloseHandle(closed);
}

}  // namespace
}  // namespace platform
