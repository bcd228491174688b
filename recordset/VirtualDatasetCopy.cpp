// Copying structure and records between record sets, and emptying one.
#include <algorithm>
#include <vector>

#include "recordset/UVirtualDataset.h"

namespace rb {

void AssignFieldValue(TField& target, const TField& source) {
  if (source.IsNull()) {
    target.Clear();
    return;
  }
  switch (ValueClassOf(source.DataType())) {
    case TValueClass::kInteger:
      target.SetAsLargeInt(source.AsLargeInt());
      return;
    case TValueClass::kBoolean:
      target.SetAsBoolean(source.AsBoolean());
      return;
    case TValueClass::kFloat:
      target.SetAsFloat(source.AsFloat());
      return;
    case TValueClass::kFixed:
      target.SetAsFixed(source.AsFixed());
      return;
    case TValueClass::kDate:
      target.SetAsDateTime(source.AsDateTime());
      return;
    case TValueClass::kText:
    case TValueClass::kBytes:
    case TValueClass::kBlob:
      target.SetAsString(source.AsString());
      return;
    case TValueClass::kNone:
      return;  // nothing of their own to copy
  }
}

void TVirtualDataSet::CopyStructure(TVirtualDataSet* source) {
  if (Active())
    throw EDatabaseError(
        "Operation bei ge\xF6"
        "ffneter Datenmenge nicht m\xF6glich");
  FreeFields();
  if (source == nullptr) return;
  std::vector<TFieldDef> defs;
  if (!source->fields_.empty() && !source->fields_from_defs_) {
    // Fields made without definitions describe the source, as its next open would make them;
    // definitions left from an earlier open may lack fields added since.
    for (auto& field : source->fields_)
      if (field->FieldKind() == TFieldKind::fkData)
        defs.push_back(TFieldDef{field->FieldName(), field->DataType(), field->Size(), false});
  } else {
    for (int i = 0; i < source->field_defs_.Count(); ++i)
      defs.push_back(source->field_defs_[i]);
  }
  field_defs_.Clear();
  for (const TFieldDef& def : defs) {
    TFieldType t = def.DataType;
    if (t == ftUnknown || t == ftCursor || t >= ftArray || t < ftUnknown) continue;
    field_defs_.Add(def.Name, t, def.Size);
  }
  MakeFieldsFromDefs();
}

void TVirtualDataSet::CopyFrom(TVirtualDataSet* source) {
  if (source == this) return;  // emptying first would leave nothing to copy
  EmptyRecords();
  Close();
  field_defs_.Clear();
  CopyStructure(source);
  Open();
  if (source == nullptr || !source->Active()) return;

  // Every record, not only the source's current one: a copy of a record set that silently kept
  // one record would lose the rest.
  source->CheckBrowseMode();
  // Values go by name: the copy lacks the source's fields of types without storage, so
  // positions may differ.
  std::vector<std::pair<TField*, TField*>> pairs;
  for (auto& field : fields_)
    if (TField* from = source->FindField(field->FieldName())) pairs.emplace_back(field.get(), from);

  const TBookmark source_mark = source->GetBookmark();
  const int source_index = source->active_.current ? source->active_.index : -1;
  const bool source_bof = source->bof_, source_eof = source->eof_;
  auto restore_source = [&] {
    if (!source->BookmarkValid(source_mark) || !source->ShowRecordQuietly(source_index)) {
      // It showed no record before: the walk must not leave one in its buffer.
      source->provider_->SetIndex(source_index);
      source->ClearBuffer(source->active_);
    }
    source->bof_ = source_bof;
    source->eof_ = source_eof;
    source->EnableControls();
  };
  struct LoadingMark {
    TVirtualDataSet& ds;
    explicit LoadingMark(TVirtualDataSet& d) : ds(d) { ds.SetLoading(true); }
    ~LoadingMark() { ds.SetLoading(false); }
  } mark(*this);
  source->DisableControls();
  DisableControls();
  try {
    source->provider_->GoBeforeFirst();
    while (source->provider_->GetRecord(source->active_, TCustomDataProvider::TGetMode::gmNext) ==
           TCustomDataProvider::TGetResult::grOK) {
      Append();
      for (auto& [to, from] : pairs)
        AssignFieldValue(*to, *from);
      Post();
    }
  } catch (...) {
    // Records copied before the failure stay; the half-copied one does not.
    if (state_ == TDataSetState::dsInsert) Cancel();
    restore_source();
    EnableControls();
    throw;
  }
  restore_source();
  EnableControls();
  First();
}

void TVirtualDataSet::EmptyRecords() {
  if (!Active()) return;
  CheckBrowseMode();
  provider_->Clear();
  ClearBuffer(active_);
  bof_ = eof_ = true;
  DataSetChanged();
}

}  // namespace rb
