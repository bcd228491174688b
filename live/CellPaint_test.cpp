#include "live/CellPaint.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "util/Numbers.h"

namespace rb::live {
namespace {

std::string Show(const TRect& r) {
  std::ostringstream out;
  out << r.left << "," << r.top << "," << r.right << "," << r.bottom;
  return out.str();
}

std::string Show(const std::vector<TLine>& lines) {
  std::ostringstream out;
  for (const TLine& l : lines)
    out << " " << l.x1 << "," << l.y1 << "->" << l.x2 << "," << l.y2;
  return out.str();
}

// Everything the painter would do, one item per line, so that a failure shows what differs.
std::string Describe(const TCellPaint& p) {
  if (p.leave_to_grid) return "grid";
  std::ostringstream out;
  out << "fill " << (p.tooltip_background ? std::string("tooltip") : "")
      << (p.tooltip_background
              ? ""
              : std::to_string(p.background.red) + "/" + std::to_string(p.background.green) + "/" +
                    std::to_string(p.background.blue))
      << " " << Show(p.fill_rect) << "\n";
  out << "text '" << p.text << "' " << Show(p.text_rect) << (p.word_wrap ? " wrap" : " ellipsis");
  if (p.text_color) {
    out << " colour " << int{p.text_color->red} << "/" << int{p.text_color->green} << "/"
        << int{p.text_color->blue};
  }
  out << "\n";
  if (p.store_text) out << "store '" << *p.store_text << "'\n";
  out << (p.focus_rect ? "focus" : "lines") << Show(p.lines) << "\n";
  out << "frame" << Show(p.frame);
  return out.str();
}

// A grid of 5 rows (4 data rows) and 5 columns; column 0 is 10 pixels wide at the client's
// left edge 0. Column 1 lies at 11..85, column 2 at 86..148, column 4 at 300..364.
constexpr TRect kCol1Row3{11, 60, 85, 79};
constexpr TRect kCol2Row1{86, 20, 148, 39};
constexpr TRect kCol2Row3{86, 60, 148, 79};
constexpr TRect kCol4Row3{300, 60, 364, 79};
constexpr TRect kCol1Row4{11, 80, 85, 99};
constexpr TRect kCol4Row4{300, 80, 364, 99};

TCellPaintInput Cell(int col, int row, TRect rect,
                     const std::function<void(TCellPaintInput&)>& change = {}) {
  TCellPaintInput in;
  in.col = col;
  in.row = row;
  in.row_count = 5;
  in.col_count = 5;
  in.rect = rect;
  in.client_left = 0;
  in.column0_width = 10;
  in.cell_text = "350,00";
  in.price_text = "-300,00";
  in.caption = "Preis";
  in.deduction_target = 300;
  in.previous_invoices_sum = 0;
  if (change) change(in);
  return in;
}

const char* const kYellow = "255/225/121";

TEST(CellPaint, DGDrawCell) {
  struct Row {
    const char* name;
    TCellPaintInput input;
    std::string expected;
  } rows[] = {
      {"header", Cell(2, 0, {86, 0, 148, 19}),
       "fill tooltip 86,0,148,19\n"
       "text 'Preis' 88,2,148,19 wrap colour 0/0/0\n"
       "lines 86,18->148,18\n"
       "frame"},
      {"data row", Cell(2, 1, kCol2Row1),
       "fill 255/255/255 86,20,148,39\n"
       "text '350,00' 88,22,148,39 ellipsis\n"
       "lines 86,38->148,38 84,20->84,39 148,20->148,39\n"
       "frame"},
      {"a taller row is drawn at the default height", Cell(2, 1, {86, 20, 148, 60}),
       "fill 255/255/255 86,20,148,39\n"
       "text '350,00' 88,22,148,39 ellipsis\n"
       "lines 86,38->148,38 84,20->84,39 148,20->148,39\n"
       "frame"},
      {"focused cell", Cell(2, 1, kCol2Row1, [](auto& c) { c.focused = true; }),
       "fill 255/255/255 86,20,148,39\n"
       "text '350,00' 88,22,148,39 ellipsis\n"
       "focus\n"
       "frame"},
      {"row N-2 in the middle: highlighted, no frame", Cell(2, 3, kCol2Row3),
       std::string("fill ") + kYellow + " 86,60,148,80\n" +
           "text '350,00' 88,62,148,79 ellipsis\n"
           "lines 86,78->148,78 84,60->84,79 148,60->148,79\n"
           "frame"},
      {"row N-2, column 1: left and top edge", Cell(1, 3, kCol1Row3),
       std::string("fill ") + kYellow + " 11,60,85,80\n" +
           "text '350,00' 13,62,85,79 ellipsis\n"
           "lines 11,78->85,78 9,60->9,79 85,60->85,79\n"
           "frame 10,60->10,79 10,60->83,60"},
      {"row N-2, last column: top edge from the band's start and right edge", Cell(4, 3, kCol4Row3),
       std::string("fill ") + kYellow + " 300,60,364,80\n" +
           "text '350,00' 302,62,364,79 ellipsis\n"
           "lines 300,78->364,78 298,60->298,79 364,60->364,79\n"
           "frame 10,60->362,60 362,60->362,79"},
      {"row N-2 with earlier invoices: no frame",
       Cell(4, 3, kCol4Row3, [](auto& c) { c.previous_invoices_sum = 280; }),
       std::string("fill ") + kYellow + " 300,60,364,80\n" +
           "text '350,00' 302,62,364,79 ellipsis\n"
           "lines 300,78->364,78 298,60->298,79 364,60->364,79\n"
           "frame"},
      {"row N-1, column 1: left and bottom edge",
       Cell(1, 4, kCol1Row4, [](auto& c) { c.cell_text = "Abzug"; }),
       std::string("fill ") + kYellow + " 11,80,85,100\n" +
           "text 'Abzug' 13,82,85,99 ellipsis\n"
           "lines 11,98->85,98 9,80->9,99 85,80->85,99\n"
           "frame 10,80->10,99 10,99->83,99"},
      {"status OK: the price is the negated target",
       Cell(4, 4, kCol4Row4, [](auto& c) { c.cell_text = "OK"; }),
       std::string("fill ") + kYellow + " 300,80,364,100\n" +
           "text 'OK' 302,82,364,99 ellipsis\n"
           "lines 300,98->364,98 298,80->298,99 364,80->364,99\n"
           "frame 10,98->362,98 362,80->362,99"},
      {"status OK is stored into the cell when it differs", Cell(4, 4, kCol4Row4),
       std::string("fill ") + kYellow + " 300,80,364,100\n" +
           "text 'OK' 302,82,364,99 ellipsis\n"
           "store 'OK'\n"
           "lines 300,98->364,98 298,80->298,99 364,80->364,99\n"
           "frame 10,98->362,98 362,80->362,99"},
      {"status Fehler!: white on red, stored",
       Cell(4, 4, kCol4Row4, [](auto& c) { c.deduction_target = 280; }),
       "fill 255/0/0 300,80,364,100\n"
       "text 'Fehler!' 302,82,364,99 ellipsis colour 255/255/255\n"
       "store 'Fehler!'\n"
       "lines 300,98->364,98 298,80->298,99 364,80->364,99\n"
       "frame 10,98->362,98 362,80->362,99"},
      {"status Fehler! already stored",
       Cell(4, 4, kCol4Row4,
            [](auto& c) {
              c.deduction_target = 280;
              c.cell_text = "Fehler!";
              c.focused = true;
            }),
       "fill 255/0/0 300,80,364,100\n"
       "text 'Fehler!' 302,82,364,99 ellipsis colour 255/255/255\n"
       "focus\n"
       "frame 10,98->362,98 362,80->362,99"},
      {"no deduction and a price of 0,00 is OK",
       Cell(4, 4, kCol4Row4,
            [](auto& c) {
              c.deduction_target = 0;
              c.price_text = "0,00";
              c.cell_text = "OK";
            }),
       std::string("fill ") + kYellow + " 300,80,364,100\n" +
           "text 'OK' 302,82,364,99 ellipsis\n"
           "lines 300,98->364,98 298,80->298,99 364,80->364,99\n"
           "frame 10,98->362,98 362,80->362,99"},
      {"one data row (N = 2): the last row's look",
       Cell(1, 1, {11, 20, 85, 39}, [](auto& c) { c.row_count = 2; }),
       std::string("fill ") + kYellow + " 11,20,85,40\n" +
           "text '350,00' 13,22,85,39 ellipsis\n"
           "lines 11,38->85,38 9,20->9,39 85,20->85,39\n"
           "frame 10,20->10,39 10,39->83,39"},
      {"one data row (N = 2): the header stays a header",
       Cell(1, 0, {11, 0, 85, 19}, [](auto& c) { c.row_count = 2; }),
       "fill tooltip 11,0,85,19\n"
       "text 'Preis' 13,2,85,19 wrap colour 0/0/0\n"
       "lines 11,18->85,18\n"
       "frame"},
      {"two columns: column 1 is also the last one",
       Cell(1, 4, kCol1Row4,
            [](auto& c) {
              c.col_count = 2;
              c.cell_text = "OK";
            }),
       std::string("fill ") + kYellow + " 11,80,85,100\n" +
           "text 'OK' 13,82,85,99 ellipsis\n"
           "lines 11,98->85,98 9,80->9,99 85,80->85,99\n"
           "frame 10,80->10,99 10,99->83,99 10,98->83,98 83,80->83,99"},
      {"the band starts after column 0 in client coordinates",
       Cell(1, 4, kCol1Row4,
            [](auto& c) {
              c.client_left = 4;
              c.column0_width = 20;
              c.cell_text = "x";
            }),
       std::string("fill ") + kYellow + " 11,80,85,100\n" +
           "text 'x' 13,82,85,99 ellipsis\n"
           "lines 11,98->85,98 9,80->9,99 85,80->85,99\n"
           "frame 24,80->24,99 24,99->83,99"},
      {"column 0", Cell(0, 2, {0, 40, 10, 59}), "grid"},
      {"the top-left cell", Cell(0, 0, {0, 0, 10, 19}), "grid"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Describe(DGDrawCell(row.input)), row.expected) << row.name;
}

TEST(CellPaint, StatusFollowsTheNumberSettings) {
  // The price cell was formatted with the settings in force; the check must use the same ones.
  const TNumberSettings old = NumberSettings();
  TNumberSettings swiss = old;
  swiss.DecimalSeparator = '.';
  swiss.ThousandSeparator = '\'';
  SetNumberSettings(swiss);
  const TCellPaint ok = DGDrawCell(Cell(4, 4, kCol4Row4, [](auto& c) {
    c.deduction_target = 1300;
    c.price_text = "-1'300.00";
  }));
  SetNumberSettings(old);
  EXPECT_EQ(ok.text, "OK");
}

}  // namespace
}  // namespace rb::live
