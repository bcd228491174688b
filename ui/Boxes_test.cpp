#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <functional>

#include "ui/ErrorBox.h"
#include "ui/InfoBox.h"
#include "ui/TestApp.h"

namespace rb::ui {
namespace {

// Runs inspect on the modal box once it is up, then closes it with its own button.
void WhenModalShows(std::function<QAbstractButton*(QWidget*)> inspect, int tries = 200) {
  QTimer::singleShot(5, [inspect, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      ASSERT_GT(tries, 0) << "no modal box came up";
      WhenModalShows(inspect, tries - 1);
      return;
    }
    QAbstractButton* button = inspect(modal);
    if (button != nullptr)
      button->click();
    else
      modal->close();
  });
}

QPalette DarkPalette() {
  QPalette dark = QApplication::palette();
  for (auto role : {QPalette::Base, QPalette::Window, QPalette::Button})
    dark.setColor(role, QColor(35, 35, 35));
  for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
    dark.setColor(role, QColor(235, 235, 235));
  return dark;
}

class BoxesTest : public ::testing::Test {
 protected:
  BoxesTest() { TestApp(); }
};

TEST_F(BoxesTest, InfoBoxShowsTheTextAndOneCloseButton) {
  bool seen = false;
  WhenModalShows([&](QWidget* modal) -> QAbstractButton* {
    auto* box = dynamic_cast<TInfoBox*>(modal);
    EXPECT_NE(box, nullptr);
    if (box == nullptr) return nullptr;
    seen = true;
    EXPECT_EQ(box->windowTitle(), "Ratenblick Hilfe");
    EXPECT_TRUE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(box->isModal());
    const auto buttons = box->findChildren<QPushButton*>();
    EXPECT_EQ(buttons.size(), 1);
    EXPECT_EQ(box->CloseButton().text(), QString::fromUtf8("Schließen"));
    EXPECT_EQ(box->Text().text(), QString::fromUtf8("Datenübergabe fehlerhaft!<br>zweite"));
    EXPECT_EQ(box->Text().textFormat(), Qt::RichText);
    return &box->CloseButton();
  });
  ShowInfoBox(nullptr, "Ratenblick Hilfe",
              QString::fromUtf8("Datenübergabe fehlerhaft!<br>zweite"));
  EXPECT_TRUE(seen);
}

TEST_F(BoxesTest, InfoBoxIsBlackOnWhiteUnderADarkTheme) {
  const QPalette saved = QApplication::palette();
  QApplication::setPalette(DarkPalette());
  TInfoBox box(nullptr, "Titel", "<B>WWWWWWWWWW</B>");
  const QImage image = box.grab().toImage();
  QApplication::setPalette(saved);

  EXPECT_EQ(box.Text().palette().color(QPalette::WindowText), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white)) << "background";
  // The text's pixels: some are black, none light on dark.
  const QRect text(box.Text().mapTo(&box, QPoint(0, 0)), box.Text().size());
  int dark = 0;
  for (int y = text.top(); y <= text.bottom(); ++y) {
    for (int x = text.left(); x <= text.right(); ++x) {
      if (image.pixelColor(x, y).lightness() < 60) ++dark;
    }
  }
  EXPECT_GT(dark, 20);
}

TEST_F(BoxesTest, InfoBoxStaysInsideTheMonitor) {
  QString long_text;
  for (int line = 0; line < 200; ++line)
    long_text += QStringLiteral("Zeile %1<br>").arg(line);
  long_text += QString(400, QLatin1Char('W'));
  TInfoBox box(nullptr, "Titel", long_text);
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(area.contains(QRect(box.pos(), box.size()))) << "box inside the available area";

  TInfoBox small(nullptr, "Titel", "kurz");
  const QPoint centre = QRect(small.pos(), small.size()).center();
  EXPECT_LE(std::abs(centre.x() - area.center().x()), 10);
}

TEST_F(BoxesTest, CentredInsideCutsToTheArea) {
  const struct {
    const char* name;
    QSize size;
    QRect area;
    QRect expected;
  } cases[] = {
      {"fits", {200, 100}, {0, 0, 800, 600}, {300, 250, 200, 100}},
      {"monitor left of the primary", {200, 100}, {-1280, 0, 1280, 1024}, {-740, 462, 200, 100}},
      {"too wide", {1000, 100}, {0, 0, 800, 600}, {0, 250, 800, 100}},
      {"too high", {200, 900}, {100, 50, 800, 600}, {400, 50, 200, 600}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CentredInside(c.size, c.area), c.expected) << c.name;
}

TEST_F(BoxesTest, ErrorBoxHasTheErrorIconAndOneOkButton) {
  bool seen = false;
  WhenModalShows([&](QWidget* modal) -> QAbstractButton* {
    auto* box = qobject_cast<QMessageBox*>(modal);
    EXPECT_NE(box, nullptr);
    if (box == nullptr) return nullptr;
    seen = true;
    EXPECT_EQ(box->windowTitle(), "Ratenblick Hilfe");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->text(), "a < b & c.");
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    return box->button(QMessageBox::Ok);
  });
  ShowErrorBox(nullptr, "Ratenblick Hilfe", "a < b & c.");
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace rb::ui
