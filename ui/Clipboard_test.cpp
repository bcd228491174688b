#include "ui/Clipboard.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include "ui/TestApp.h"
#include "util/Errors.h"

namespace rb::ui {
namespace {

// Kept first in this file: it needs a program without a GUI application yet.
TEST(Clipboard, WithoutAGuiApplicationRaisesTheSystemError) {
  if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "application already made";
  try {
    PutListingOnClipboard("Version:1.0", "<b>x</b>", "x");
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 5u);
    EXPECT_EQ(std::string(e.what()), "System Error.  Code: 5.\r\nAccess is denied.");
  }
}

TEST(Clipboard, OneEntryOffersHtmlFormatTextHtmlAndPlainText) {
  const std::string header_and_html = "Version:1.0\r\n...<th>Gr&ouml;&szlig;e</th>\x80";
  const std::string fragment =
      "<th>Gr\xF6\xDF"
      "e</th>";
  const auto data = ListingMimeData(header_and_html, fragment,
                                    "1\tGr\xF6\xDF"
                                    "e\t\x80\r\n");
  EXPECT_EQ(data->formats(), (QStringList{"HTML Format", "text/html", "text/plain"}));
  EXPECT_EQ(data->data("HTML Format"), QByteArray::fromStdString(header_and_html))
      << "the bytes as given, not converted";
  EXPECT_EQ(data->data("text/html"), QByteArray("<th>Gr\xC3\xB6\xC3\x9F"
                                                "e</th>"));
  EXPECT_EQ(data->data("text/plain"), QByteArray("1\tGr\xC3\xB6\xC3\x9F"
                                                 "e\t\xE2\x82\xAC\r\n"));
}

TEST(Clipboard, EmptyPlainTextGivesTheFragment) {
  const auto data = ListingMimeData("Version:1.0", "<table></Table>", "");
  EXPECT_EQ(data->data("text/plain"), QByteArray("<table></Table>"));
  const auto nothing = ListingMimeData("Version:1.0", "", "");
  EXPECT_EQ(nothing->formats(), QStringList{"HTML Format"}) << "empty texts are left out";
}

TEST(Clipboard, PutsTheEntryOnTheClipboard) {
  TestApp();
  PutListingOnClipboard("Version:1.0\r\nX", "<b>\xE4</b>", "");
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data("HTML Format"), QByteArray("Version:1.0\r\nX"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("<b>ä</b>"));
}

}  // namespace
}  // namespace rb::ui
