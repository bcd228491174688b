#include "ui/BusyCursor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QTemporaryDir>

#include "ui/QtText.h"
#include "ui/TestApp.h"
#include "util/Files.h"

namespace rb::ui {
namespace {

// A private temporary folder of this test run, so that the cursor files land where the test
// can look.
class BusyCursorTest : public ::testing::Test {
 protected:
  BusyCursorTest() {
    static QTemporaryDir runtime;
    static const bool set = qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    EXPECT_TRUE(set && runtime.isValid());
    TestApp();
  }
  ~BusyCursorTest() override {
    while (QGuiApplication::overrideCursor() != nullptr)
      QGuiApplication::restoreOverrideCursor();
  }

  static QStringList CursorFolderFiles() {
    return QDir(PathToQString(TempFolder("XCURSOR"))).entryList(QDir::Files | QDir::Hidden);
  }
};

TEST_F(BusyCursorTest, FirstBusyCursorRegistersTheFramesThroughFiles) {
  ShowBusyCursor();
  const QCursor* cursor = QGuiApplication::overrideCursor();
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor->shape(), Qt::BitmapCursor) << "our frame, not Qt's busy cursor";
  EXPECT_EQ(cursor->hotSpot(), QPoint(16, 16));
  EXPECT_TRUE(QDir(PathToQString(TempFolder("XCURSOR"))).exists());
  EXPECT_EQ(CursorFolderFiles(), QStringList()) << "every cursor file deleted";

  const std::optional<QCursor> third = BusyCursorFrame(3);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(cursor->pixmap().toImage(), third->pixmap().toImage()) << "crCursor_ajax03 shown";
  for (int n = 1; n <= 4; ++n)
    EXPECT_TRUE(BusyCursorFrame(n).has_value()) << n;
  EXPECT_NE(BusyCursorFrame(1)->pixmap().toImage(), third->pixmap().toImage());
  EXPECT_FALSE(BusyCursorFrame(5).has_value());

  ShowDefaultCursor();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(BusyCursorTest, DefaultCursorRemovesOnlyWhatTheBusyCursorSet) {
  ShowDefaultCursor();  // without a busy cursor: nothing happens
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);  // someone else's
  ShowBusyCursor();
  ShowBusyCursor();
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BitmapCursor);
  ShowDefaultCursor();
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  ShowDefaultCursor();
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
}

TEST_F(BusyCursorTest, AFrameThatCannotBeWrittenIsLeftOut) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = FromQString(dir.path()) + "/";
  // A file where the folder should be: nothing can be written into it.
  const std::string not_a_folder = folder + "file/";
  QFile(dir.filePath("file")).open(QIODevice::WriteOnly);
  EXPECT_FALSE(LoadCursorThroughFile(":/crCursor_ajax01", not_a_folder).has_value());
  EXPECT_FALSE(LoadCursorThroughFile(":/no_such_resource", folder).has_value());

  const std::optional<QCursor> cursor = LoadCursorThroughFile(":/crCursor_ajax02", folder);
  ASSERT_TRUE(cursor.has_value());
  EXPECT_EQ(cursor->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"file"}) << "file deleted";
}

}  // namespace
}  // namespace rb::ui
