// The binding to the visit library: found beside the event message file, all four entry
// points or none, and E_UNEXPECTED from every call while unbound.
#include "mail/QvOutlookAddIn/visit_binding.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/temp_dir.h"
#include "context/language_module.h"
#include "context/test_context.h"
#include "mail/QvOutlookAddIn/addin.h"
#include "mail/QvOutlookAddIn/addin_constants.h"
#include "mail/QvOutlookAddIn/addin_test_support.h"

namespace qv::mail::addin {
namespace {

using platform::Hive;
using platform::RegValue;

TEST(VisitBinding, UnboundEveryCallIsUnexpectedAndDoesNothing) {
  VisitBinding none;
  EXPECT_FALSE(none.bound());
  EXPECT_EQ(none.Start(1, "outlook:01", 1), E_UNEXPECTED);
  EXPECT_EQ(none.Update(1, "outlook:01", 1), E_UNEXPECTED);
  EXPECT_EQ(none.End(1, 0), E_UNEXPECTED);
  EXPECT_EQ(none.IsRunning(), E_UNEXPECTED);
  // Three of four entry points are no binding either.
  VisitEntryPoints partial = testing::RecordedVisits::Points();
  partial.isRunning = nullptr;
  testing::RecordedVisits recorded;
  VisitBinding three(partial);
  EXPECT_EQ(three.Start(1, "outlook:01", 1), E_UNEXPECTED);
  EXPECT_TRUE(recorded.calls.empty());
}

TEST(VisitBinding, TheLibraryIsLookedForBesideTheEventMessageFile) {
  TestContext tc;
  std::filesystem::path path;
  EXPECT_EQ(VisitBinding::LibraryPath(tc.registry(), path),
            HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
  tc.registry().SetValue(Hive::LocalMachine, kEventSourceKey, "EventMessageFile",
                         RegValue::Sz("/opt/qv/bin/QvEvents.dll"));
  ASSERT_EQ(VisitBinding::LibraryPath(tc.registry(), path), S_OK);
  EXPECT_EQ(path, std::filesystem::path("/opt/qv/bin/libQvHooks.so"));
  // Nothing there: the add-in stays unbound and the client runs on.
  const VisitBinding binding = BindVisitInterface(tc.registry());
  EXPECT_FALSE(binding.bound());
  EXPECT_EQ(binding.Start(1, "outlook:", 2), E_UNEXPECTED);
}

TEST(VisitBinding, BindsTheRealLibraryByPathAndRefusesOneWithoutTheEntryPoints) {
  // The library finds the tracer through the user's runtime folder: an empty one here.
  TempDir runtime;
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  TestContext tc;
  const std::filesystem::path real(QVHOOKS_PATH);
  tc.registry().SetValue(Hive::LocalMachine, kEventSourceKey, "EventMessageFile",
                         RegValue::Sz((real.parent_path() / "QvEvents.dll").string()));
  const VisitBinding binding = BindVisitInterface(tc.registry());
  ASSERT_TRUE(binding.bound());
  EXPECT_EQ(binding.IsRunning(), S_FALSE);  // no tracer in this session
  EXPECT_EQ(binding.End(0, 0), E_INVALIDARG);

  VisitBinding other;
  EXPECT_EQ(VisitBinding::Load(runtime.path() / "missing.so", other), MakeHr(0x8007007E));
  EXPECT_FALSE(other.bound());
  // A real library without the visit interface.
  EXPECT_EQ(VisitBinding::Load("libm.so.6", other), MakeHr(0x8007007F));
  EXPECT_FALSE(other.bound());
  EXPECT_EQ(other.IsRunning(), E_UNEXPECTED);
  ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace qv::mail::addin
