#include "ui/QtText.h"

#include <gtest/gtest.h>

namespace rb::ui {
namespace {

TEST(QtText, Windows1252ToQString) {
  const struct {
    const char* name;
    std::string cp1252;
    QString expected;
  } cases[] = {
      {"umlauts and sharp s",
       "Gr\xF6\xDF"
       "e \xC4\xE4",
       QString::fromUtf8("Größe Ää")},
      {"euro sign", "\x80", QString(QChar(0x20AC))},
      {"quotes and per mille", "\x93\x94\x89", QString::fromUtf8("“”‰")},
      {"unassigned byte keeps its value", "\x81", QString(QChar(0x81))},
      {"Y with diaeresis", "\x9F", QString(QChar(0x178))},
      {"NUL inside", std::string("a\0b", 3), QString::fromUtf16(u"a\0b", 3)},
      {"empty", "", QString()},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ToQString(c.cp1252), c.expected) << c.name;
}

TEST(QtText, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  const QString text = ToQString(all);
  EXPECT_EQ(text.size(), 256);
  EXPECT_EQ(FromQString(text), all);
}

TEST(QtText, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  const struct {
    const char* name;
    QString text;
    std::string expected;
  } cases[] = {
      {"Cyrillic", QString::fromUtf8("Ж"), "?"},
      {"CJK between Latin-1", QString::fromUtf8("ä中ö"), "\xE4?\xF6"},
      {"lone surrogate half", QString(QChar(0xD800)), "?"},
      {"euro sign maps back to 0x80", QString::fromUtf8("5 €"), "5 \x80"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FromQString(c.text), c.expected) << c.name;
}

TEST(QtText, PathsUseTheFileSystemsNames) {
  EXPECT_EQ(PathToQString("/tmp/Gr\xF6\xDF"
                          "e/\x80.txt"),
            QString::fromUtf8("/tmp/Größe/€.txt"));
}

}  // namespace
}  // namespace rb::ui
