#include "live/Messages.h"

#include <gtest/gtest.h>

namespace rb::live {
namespace {

std::string Lines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i)
    text += "L" + std::to_string(i) + (i < count ? "\r\n" : "");
  return text;
}

TEST(Messages, InfoBoxHtml) {
  struct {
    std::string message, html;
  } cases[] = {
      {"Daten\xFC"
       "bergabe fehlerhaft!",
       "Daten\xFC"
       "bergabe fehlerhaft!"},
      {"a\r\nb", "a<br>b"},
      {"a\nb\rc", "a<br>b<br>c"},
      {"a\r\n", "a"},
      {"a\r\n\r\nb", "a<br><br>b"},
      {Lines(21),
       "L1<br>L2<br>L3<br>L4<br>L5<br>L6<br>L7<br>L8<br>L9<br>L10<br>L11<br>L12<br>"
       "L13<br>L14<br>L15<br>L16<br>L17<br>L18<br>L19<br>L20<br>L21"},
      {Lines(30),
       "L1<br>L2<br>L3<br>L4<br>L5<br>L6<br>L7<br>L8<br>L9<br>L10<br>L11<br>L12<br>"
       "L13<br>L14<br>L15<br>L16<br>L17<br>L18<br>L19<br>L20<br>L21"
       "<br>................<br>L30"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShowInfoHtml(c.message), c.html) << c.message;
}

TEST(Messages, ErrorDisplayAppendsAFullStopAfterBytesThatSortAfterIt) {
  struct {
    std::string message, shown;
  } cases[] = {
      {"Datei fehlt", "Datei fehlt."},
      {"Fehler!", "Fehler!"},
      {"Ende.", "Ende."},
      {"Wirklich?", "Wirklich?."},
      {"Gr\xF6\xDF", "Gr\xF6\xDF."},
      {"", ""},
      {"(a)", "(a)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ErrorDisplayText(c.message), c.shown) << c.message;
}

}  // namespace
}  // namespace rb::live
