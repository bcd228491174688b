// What the live view needs of the screen: the one seam between the window's rules (live/) and
// the widgets that carry them out (app/ on Qt, a recording fake in the tests).
//
// Texts are 8-bit Windows-1252 in both directions; the implementation converts at its widgets.
// Grid rows count as the user sees them: row 0 is the header, rows 1 .. RowCount()-1 hold data;
// cells are addressed by the column's field name, compared without regard to case.
//
// Change handlers: setting the text of Pnetto or PBrutto through SetEditText must run the
// view's change handler for that edit exactly as typing does, before SetEditText returns and
// only when the text really changes. The nested run of that handler is what stores a value the
// view filled in, so an implementation that stays silent for texts set from code loses notes.
//
// Everything runs on the window's thread; no call may re-enter the event loop except ShowInfo
// and ShowError, which are modal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "live/Geometry.h"
#include "live/Placement.h"

namespace rb::live {

// The edits and the combo box of the window's right-hand panel.
enum class TEditId { EditSumme, EditAbzug, Pnetto, PBrutto, EFullRest };

// One grid column as the layout file sees it: its field name and width in pixels (-1: hidden).
struct TGridColumn {
  std::string field_name;
  int width = 0;
  friend bool operator==(const TGridColumn&, const TGridColumn&) = default;
};

class TLiveScreen {
 public:
  virtual ~TLiveScreen() = default;

  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& text) = 0;

  // The grid. RowCount includes the header row. SetRowCount keeps the cells of the rows that
  // stay; ClearGrid removes every data row. Painting is suspended between BeginGridUpdate and
  // EndGridUpdate (calls pair; the end shows what changed without a new layout pass).
  virtual int RowCount() const = 0;
  virtual void SetRowCount(int rows) = 0;
  virtual void ClearGrid() = 0;
  virtual std::string Cell(std::string_view field, int row) const = 0;
  virtual void SetCell(std::string_view field, int row, std::string_view text) = 0;
  virtual void BeginGridUpdate() = 0;
  virtual void EndGridUpdate() = 0;
  // Fixed mode after loading: editing ends, columns can no longer be sized or rows moved.
  virtual void SetGridFixedMode() = 0;

  // Column widths, in column order, and fitting them to the grid's width.
  virtual std::vector<TGridColumn> GridColumns() const = 0;
  virtual void SetGridColumnWidths(const std::vector<TGridColumn>& columns) = 0;
  virtual void FitGridColumns() = 0;

  virtual std::string EditText(TEditId edit) const = 0;
  virtual void SetEditText(TEditId edit, const std::string& text) = 0;
  // The drop-down list of EditAbzug.
  virtual std::vector<std::string> AbzugItems() const = 0;
  virtual void ClearAbzugItems() = 0;
  virtual void InsertAbzugItem(int index, const std::string& text) = 0;
  virtual void AddAbzugItem(const std::string& text) = 0;

  // The information box (HTML, already prepared by InfoBoxHtml) and the general error display
  // (the text already prepared by ErrorDisplayText). Both modal.
  virtual void ShowInfo(const std::string& html) = 0;
  virtual void ShowError(const std::string& text) = 0;

  // Deferred work: the load and the close run from the window's queue after the current
  // handler has returned, never inside it.
  virtual void PostLoad() = 0;
  virtual void PostClose() = 0;

  virtual void ShowBusyCursor() = 0;
  virtual void ShowDefaultCursor() = 0;

  // The listing on the clipboard: the HTML clipboard text, the fragment and the plain text.
  // Raises the system's error when the clipboard cannot be taken; it then keeps its contents.
  virtual void PutListingOnClipboard(const std::string& clipboard_html, const std::string& fragment,
                                     const std::string& plain) = 0;

  // The window's place and size, and the monitors it may go to (the arithmetic of placing it
  // lives in live/Placement.h).
  virtual TWindowState WindowState() const = 0;
  virtual void SetWindowState(const TWindowState& state) = 0;
  virtual TDesktop Desktop() const = 0;
};

}  // namespace rb::live
