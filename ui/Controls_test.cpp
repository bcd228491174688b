#include <gtest/gtest.h>

#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "ui/Edits.h"
#include "ui/FlatButton.h"
#include "ui/Fonts.h"
#include "ui/HTMLabel.h"
#include "ui/TestApp.h"

namespace rb::ui {
namespace {

class ControlsTest : public ::testing::Test {
 protected:
  ControlsTest() { TestApp(); }
};

// The ink of a text in a font: how many pixels it darkens.
int Ink(const QFont& font) {
  QImage image(200, 30, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.drawText(2, 20, QStringLiteral("Rest erkennen"));
  painter.end();
  int ink = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      ink += 255 - qGray(image.pixel(x, y));
  }
  return ink;
}

// Wine's bold Tahoma file has regular strokes: bold labels must still look bold.
TEST_F(ControlsTest, TahomaFromFontsWineAndBoldHasMoreInk) {
  if (QFile::exists("/usr/share/wine/fonts/tahoma.ttf")) {
    EXPECT_EQ(QFontInfo(TahomaFont(12)).family(), "Tahoma");
  }
  EXPECT_EQ(TahomaFont(11).pixelSize(), 11);
  EXPECT_GT(Ink(TahomaFont(12, true)), Ink(TahomaFont(12)) * 5 / 4);
}

TEST_F(ControlsTest, HTMLabelRendersBoldTagsAndLineBreaks) {
  THTMLabel plain("Abzug", nullptr);
  THTMLabel bold("<B>Abzug</B>", nullptr);
  THTMLabel two_lines("Abzug<br>Abzug", nullptr);
  EXPECT_GT(bold.sizeHint().width(), plain.sizeHint().width()) << "bold is wider";
  EXPECT_LT(bold.sizeHint().width(), plain.sizeHint().width() * 2) << "the tag is not shown";
  EXPECT_EQ(two_lines.sizeHint().width(), plain.sizeHint().width());
  EXPECT_GT(two_lines.sizeHint().height(), plain.sizeHint().height() * 3 / 2);

  THTMLabel label;
  label.SetHTMLText("<b>Abzug </b>m\xFCsste sein:");
  EXPECT_EQ(label.text(), QString::fromUtf8("<b>Abzug </b>müsste sein:"));
  EXPECT_EQ(label.font().pixelSize(), 11);
  EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(128, 128, 128));
  EXPECT_EQ(label.size(), label.sizeHint()) << "sized to its text";
}

TEST_F(ControlsTest, FlatButtonsTakeTheFocusOrNot) {
  TFlatButton button("Auflistung kopieren ");
  TFlatSpeedButton speed("Neu lesen");
  EXPECT_EQ(button.text(), "Auflistung kopieren ");
  EXPECT_EQ(button.focusPolicy(), Qt::StrongFocus);
  EXPECT_EQ(speed.focusPolicy(), Qt::NoFocus);
  speed.SetCaption("A & B");
  EXPECT_EQ(speed.text(), "A && B") << "an ampersand is shown, not a mnemonic";

  QSignalSpy clicked(&speed, &QPushButton::clicked);
  speed.resize(73, 25);
  speed.show();
  QTest::mouseClick(&speed, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);
}

TEST_F(ControlsTest, EditsKeepBlackOnWhiteUnderADarkTheme) {
  const QPalette saved = QApplication::palette();
  QPalette dark = saved;
  dark.setColor(QPalette::Base, QColor(20, 20, 20));
  dark.setColor(QPalette::Text, QColor(240, 240, 240));
  QApplication::setPalette(dark);
  TEdit rest(nullptr, {.read_only = true, .bold = true});
  TComboBox abzug;
  QApplication::setPalette(saved);

  EXPECT_TRUE(rest.isReadOnly());
  EXPECT_TRUE(rest.font().bold());
  for (const QWidget* w : {static_cast<QWidget*>(&rest), static_cast<QWidget*>(&abzug)}) {
    EXPECT_EQ(w->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(w->palette().color(QPalette::Text), QColor(Qt::black));
  }
}

}  // namespace
}  // namespace rb::ui
