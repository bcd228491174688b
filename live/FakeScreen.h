// Test support: a screen without widgets that keeps what the view shows and records what it asks
// for, so that the view's rules run without a display. Like the real window it runs the view's
// change handler when code sets the text of Pnetto or PBrutto.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "live/LiveImportFrm.h"
#include "live/LiveScreen.h"
#include "platform/CodePage.h"
#include "util/Errors.h"

namespace rb::live {

class TFakeScreen : public TLiveScreen {
 public:
  TLiveImportFrm* view = nullptr;  // receives the change handler; may stay null

  std::string caption = "Ansicht";
  std::vector<std::vector<std::string>> rows{{}};  // rows[0] is the header
  std::map<TEditId, std::string> edits;
  std::vector<std::string> abzug_items;
  std::vector<std::string> infos, errors;
  std::vector<TGridColumn> columns{
      {"TColumn-1", 10}, {"Position", 74}, {"Description1", 62}, {"PRICE", 93}, {"KUMPRICE", 64}};
  int posted_loads = 0, posted_closes = 0, fixed_mode_calls = 0, fit_columns_calls = 0;
  int update_depth = 0;
  bool busy = false;
  TWindowState window{TRect::FromSize(282, 133, 595, 326)};
  TDesktop desktop{{{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true}}, std::nullopt, 2, 2};
  struct TClipboard {
    std::string html, fragment, plain;
  };
  std::vector<TClipboard> clipboard;
  bool clipboard_fails = false;

  std::string Caption() const override { return caption; }
  void SetCaption(const std::string& text) override { caption = text; }

  int RowCount() const override { return static_cast<int>(rows.size()); }
  void SetRowCount(int count) override {
    rows.resize(count < 1 ? 1 : count);
    for (auto& row : rows)
      row.resize(columns.size());
  }
  void ClearGrid() override { rows.resize(1); }
  std::string Cell(std::string_view field, int row) const override {
    const int col = ColumnIndex(field);
    return col < 0 || row < 0 || row >= RowCount() ? "" : rows[row][col];
  }
  void SetCell(std::string_view field, int row, std::string_view text) override {
    const int col = ColumnIndex(field);
    if (col >= 0 && row >= 0 && row < RowCount()) rows[row][col] = text;
  }
  void BeginGridUpdate() override { ++update_depth; }
  void EndGridUpdate() override { --update_depth; }
  void SetGridFixedMode() override { ++fixed_mode_calls; }

  std::vector<TGridColumn> GridColumns() const override { return columns; }
  void SetGridColumnWidths(const std::vector<TGridColumn>& widths) override { columns = widths; }
  void FitGridColumns() override { ++fit_columns_calls; }

  std::string EditText(TEditId edit) const override {
    auto it = edits.find(edit);
    return it == edits.end() ? "" : it->second;
  }
  void SetEditText(TEditId edit, const std::string& text) override {
    if (EditText(edit) == text) return;
    edits[edit] = text;
    if (view != nullptr && (edit == TEditId::Pnetto || edit == TEditId::PBrutto))
      view->Dispatch([&] { view->PnettoChange(edit); });
  }
  // What typing does: the text changes, then the handler runs.
  void Type(TEditId edit, const std::string& text) { SetEditText(edit, text); }

  std::vector<std::string> AbzugItems() const override { return abzug_items; }
  void ClearAbzugItems() override { abzug_items.clear(); }
  void InsertAbzugItem(int index, const std::string& text) override {
    abzug_items.insert(abzug_items.begin() + index, text);
  }
  void AddAbzugItem(const std::string& text) override { abzug_items.push_back(text); }

  void ShowInfo(const std::string& html) override { infos.push_back(html); }
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void PostLoad() override { ++posted_loads; }
  void PostClose() override { ++posted_closes; }
  void ShowBusyCursor() override { busy = true; }
  void ShowDefaultCursor() override { busy = false; }

  void PutListingOnClipboard(const std::string& html, const std::string& fragment,
                             const std::string& plain) override {
    if (clipboard_fails) throw EOSError("Zugriff verweigert", 5);
    clipboard.push_back({html, fragment, plain});
  }
  TWindowState WindowState() const override { return window; }
  void SetWindowState(const TWindowState& state) override { window = state; }
  TDesktop Desktop() const override { return desktop; }

 private:
  int ColumnIndex(std::string_view field) const {
    for (size_t i = 0; i < columns.size(); ++i) {
      if (platform::SameTextIgnoringCase(columns[i].field_name, field)) return static_cast<int>(i);
    }
    return -1;
  }
};

}  // namespace rb::live
