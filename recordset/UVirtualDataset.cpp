#include "recordset/UVirtualDataset.h"

#include <typeinfo>

#include "json/CSVReader.h"
#include "recordset/VirtualDatasetInternal.h"
#include "util/Coding.h"

namespace rb {

using namespace dataset_internal;

// ---------------------------------------------------------------------------------------------
// Field-name cache

TField* TFieldHelper::FindAmongRecent(const std::string& name,
                                      const std::vector<std::unique_ptr<TField>>& fields) {
  // The search starts after the last name found: a walk asks for a record's fields in the
  // same order on every record, so the next name is usually the first one compared (and Find
  // has compared that one already).
  size_t at = recent_hint_;
  for (size_t tried = 0; tried < recent_count_; ++tried, at = at + 1 < recent_count_ ? at + 1 : 0) {
    const TRecentName& recent = recent_[at];
    if (SameName(recent.name, name)) {
      recent_hint_ = at + 1 < recent_count_ ? at + 1 : 0;
      return recent.field;
    }
  }
  TField* found = FindInTree(name, fields);
  size_t i = recent_next_;
  if (recent_count_ < kRecentNames) {
    i = recent_count_++;
  } else {
    recent_next_ = (recent_next_ + 1) % kRecentNames;
  }
  TRecentName& slot = recent_[i];
  slot.name = name;
  slot.field = found;
  return found;
}

void TFieldHelper::Clear() {
  tree_.Clear();
  recent_count_ = 0;
  recent_next_ = 0;
  recent_hint_ = 0;
}

TField* TFieldHelper::FindInTree(const std::string& name,
                                 const std::vector<std::unique_ptr<TField>>& fields) {
  TTreeItem& key = search_key_;
  key.SetName(name);
  if (tree_.Search(key)) return static_cast<TTreeItem*>(tree_.Founded())->Field();
  TField* found = nullptr;
  for (const auto& field : fields) {
    if (AnsiLowerName(field->FieldName()) == key.Name()) {
      found = field.get();
      break;
    }
  }
  tree_.Insert(std::make_unique<TTreeItem>(found, name));
  return found;
}

// ---------------------------------------------------------------------------------------------
// TVirtualDataSet

TVirtualDataSet::TVirtualDataSet(void*) {
  provider_ = CreateProvider();
}

TVirtualDataSet::~TVirtualDataSet() {
  try {
    Close();
  } catch (...) {
    // An event handler failing during destruction must not escape the destructor.
  }
  provider_.reset();
}

std::unique_ptr<TCustomDataProvider> TVirtualDataSet::CreateProvider() {
  return std::make_unique<TDataProvider>(*this);
}

void TVirtualDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError("Operation bei geschlossener Datenmenge nicht m\xF6glich");
}

TField& TVirtualDataSet::AddField(const std::string& name, TFieldType type, int size,
                                  TFieldKind kind) {
  if (Active())
    throw EDatabaseError(
        "Operation bei ge\xF6"
        "ffneter Datenmenge nicht m\xF6glich");
  if (fields_from_defs_) FreeFields();
  field_helper_.Clear();  // it may remember this name as a miss
  fields_.push_back(std::make_unique<TField>(*this, name, type, size, kind));
  return *fields_.back();
}

void TVirtualDataSet::FreeFields() {
  field_helper_.Clear();
  fields_.clear();
  fields_from_defs_ = false;
}

void TVirtualDataSet::FieldNotFound(const std::string& name) {
  throw EDatabaseError("Das Feld '" + name + "' wurde nicht gefunden");
}

void TVirtualDataSet::LoadFieldDefsFromText(const std::string& text, bool open) {
  TMemoryStream stream(text);
  LoadFieldDefsFromStream(stream, open);
}

void TVirtualDataSet::LoadFieldDefsFromStream(TStream& stream, bool open) {
  stream.SetPosition(0);
  TCSVReader reader(stream, ',');
  Close();
  field_defs_.Clear();
  FreeFields();
  auto number = [](const std::string& text) {
    int64_t v = 0;
    return ParseInteger(text, v) && v >= INT32_MIN && v <= INT32_MAX ? static_cast<int>(v) : 0;
  };
  for (reader.First(); !reader.Eof(); reader.Next()) {
    std::string name = reader.Field(0);
    int type = number(reader.Field(1));
    int size = number(reader.Field(2));
    // The host reports its key column as a large integer; the program reads it as an integer.
    if (name == "ID" && size == 0) {
      field_defs_.Add(name, ftInteger, 0);
    } else {
      field_defs_.Add(name, static_cast<TFieldType>(type), size);
    }
  }
  if (open) Open();
}

void TVirtualDataSet::Open() {
  if (Active()) return;
  Fire(BeforeOpen);
  if (!fields_.empty() && !fields_from_defs_) {
    field_defs_.Clear();
    for (auto& field : fields_) {
      TFieldType t = field->DataType();
      bool storable = (t >= ftString && t <= ftTypedBinary) || (t >= ftFixedChar && t <= ftADT);
      if (field->IsCalculated()) {
        // Calculated values live in a fixed area of their own: no blobs there.
        if (!storable || IsBlobType(t))
          throw EDatabaseError("Typ f\xFCr Feld '" + field->DisplayName() + "' ist unbekannt");
        continue;
      }
      if (field->FieldKind() == TFieldKind::fkData && !storable)
        throw EDatabaseError("Typ f\xFCr Feld '" + field->DisplayName() + "' ist unbekannt");
      field_defs_.Add(field->FieldName(), t, field->Size());
    }
  } else {
    MakeFieldsFromDefs();
  }
  InitFieldLayout();
  field_helper_.Clear();
  provider_->GoBeforeFirst();
  cursor_open_ = true;
  state_ = TDataSetState::dsBrowse;
  First();
  Fire(AfterOpen);
}

void TVirtualDataSet::MakeFieldsFromDefs() {
  FreeFields();
  try {
    for (int i = 0; i < field_defs_.Count(); ++i) {
      const TFieldDef& def = field_defs_[i];
      TFieldType t = def.DataType;
      if (t <= ftUnknown || t == ftCursor || t == ftWideString || t > ftDataSet)
        throw EDatabaseError("Typ f\xFCr Feld '" + def.Name + "' ist unbekannt");
      std::string lower = AnsiLowerName(def.Name);
      for (auto& field : fields_)
        if (AnsiLowerName(field->FieldName()) == lower)
          throw EDatabaseError("Doppelter Feldname '" + def.Name + "'");
      fields_.push_back(std::make_unique<TField>(*this, def.Name, t, def.Size));
    }
  } catch (...) {
    FreeFields();
    throw;
  }
  fields_from_defs_ = true;
}

namespace {

// Sizes come from the host's definition text. These limits keep the layout's arithmetic in
// range and one record's allocation bounded; a var-bytes length is kept in 16 bits.
constexpr int kMaxFieldSize = 1 << 20;
constexpr int kMaxVarBytesSize = 0xFFFF;
constexpr int kMaxValuesSize = 16 << 20;

// The offset after a field of this type and size placed at offset; raises when the field or
// the area would be too large.
int PlaceField(const std::string& name, TFieldType type, int size, int offset) {
  bool sized = IsTextType(type) || type == ftBytes || type == ftVarBytes || type == ftWideString;
  bool too_large = (sized && size > (type == ftVarBytes ? kMaxVarBytesSize : kMaxFieldSize)) ||
                   static_cast<int64_t>(offset) + 1 + FieldValueWidth(type, size) > kMaxValuesSize;
  if (too_large)
    throw EDatabaseError(
        "Ung\xFCltige Feldgr\xF6\xDF"
        "e f\xFCr Feld '" +
        name + "'");
  return offset + 1 + FieldValueWidth(type, size);
}

}  // namespace

void TVirtualDataSet::InitFieldLayout() {
  layout_.assign(static_cast<size_t>(field_defs_.Count()), -1);
  int offset = 0;
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_[i];
    if (FieldValueWidth(def.DataType, 0) < 0) continue;  // not kept in the values area
    layout_[i] = offset;
    offset = PlaceField(def.Name, def.DataType, def.Size, offset);
  }
  record_data_size_ = offset;
  blob_count_ = 0;
  calculated_size_ = 0;
  size_t def_index = 0;
  for (auto& f : fields_) {
    TField& field = *f;
    if (field.IsCalculated()) {
      field.offset_ = calculated_size_;
      field.blob_index_ = -1;
      calculated_size_ =
          PlaceField(field.DisplayName(), field.DataType(), field.Size(), calculated_size_);
      continue;
    }
    field.offset_ = def_index < layout_.size() ? layout_[def_index] : -1;
    ++def_index;
    field.blob_index_ = IsBlobType(field.DataType()) ? blob_count_++ : -1;
  }
  ClearBuffer(active_);
}

void TVirtualDataSet::Close() {
  if (!Active()) return;
  Fire(BeforeClose);
  provider_->Clear();
  field_helper_.Clear();  // it points at fields that may be freed now
  if (fields_from_defs_) {
    fields_.clear();
    fields_from_defs_ = false;
  } else {
    for (auto& field : fields_)
      field->offset_ = field->blob_index_ = -1;
  }
  cursor_open_ = false;
  state_ = TDataSetState::dsInactive;
  active_ = TRecordBuffer();
  bof_ = eof_ = true;
  Fire(AfterClose);
}

void TVirtualDataSet::ClearBuffer(TRecordBuffer& buffer) const {
  buffer.values.assign(static_cast<size_t>(record_data_size_), 0);
  buffer.Show(nullptr, 0);
  buffer.blobs.assign(static_cast<size_t>(blob_count_), std::string());
  buffer.calculated.assign(static_cast<size_t>(calculated_size_), 0);
  buffer.record_id = 0;
  buffer.index = -1;
  buffer.current = false;
}

TRecordBuffer* TVirtualDataSet::GetActiveBuffer() {
  switch (state_) {
    case TDataSetState::dsBrowse:
      return active_.current ? &active_ : nullptr;
    case TDataSetState::dsInactive:
      return nullptr;
    default:
      return &active_;
  }
}

void TVirtualDataSet::CheckNotReadOnly(const TField& field) const {
  if (!loading_ && field.ReadOnly())
    throw EDatabaseError("Feld '" + field.DisplayName() + "' kann nicht ver\xE4ndert werden");
}

void TVirtualDataSet::CheckEditing() const {
  if (!Editing()) throw EDatabaseError(NotEditingText());
}

void TVirtualDataSet::CheckWritable(TField& field) {
  using S = TDataSetState;
  S s = state_;
  if (!(s == S::dsEdit || s == S::dsInsert || s == S::dsSetKey || s == S::dsCalcFields ||
        s == S::dsFilter || s == S::dsNewValue || s == S::dsInternalCalc))
    throw EDatabaseError(NotEditingText());
  if (field.IsCalculated()) return;  // stored in the calculated area, nothing else applies
  if (s == S::dsCalcFields || s == S::dsFilter) throw EDatabaseError(NotEditingText());
  if (s != S::dsSetKey) CheckNotReadOnly(field);  // a search key may be set on any field
  if (field.OnValidate) field.OnValidate(field);
}

void TVirtualDataSet::CalculateFields(TRecordBuffer& buffer) {
  if (calculated_size_ == 0) return;
  buffer.calculated.assign(static_cast<size_t>(calculated_size_), 0);
  if (!AutoCalcFields || !OnCalcFields || &buffer != &active_) return;
  TDataSetState saved = state_;
  state_ = TDataSetState::dsCalcFields;
  try {
    OnCalcFields(*this);
  } catch (...) {
    state_ = saved;
    throw;
  }
  state_ = saved;
}

void TVirtualDataSet::FieldChanged(TField* field) {
  using S = TDataSetState;
  if (state_ == S::dsCalcFields || state_ == S::dsFilter || state_ == S::dsNewValue) return;
  if (field != nullptr) modified_ = true;
  if (disable_count_ == 0 && OnDataChange) OnDataChange(*this, field);
}

void TVirtualDataSet::EnableControls() {
  if (disable_count_ > 0 && --disable_count_ == 0) DataSetChanged();
}

int TVirtualDataSet::RecordCount() const {
  return Active() ? provider_->RecordCount() : 0;
}

int TVirtualDataSet::RecNo() const {
  return Active() ? provider_->RecNo() : -1;
}

void TVirtualDataSet::SyncStore() {
  if (active_.current) provider_->SetIndex(active_.index);
}

void TVirtualDataSet::First() {
  MoveToEnd(true);
}

void TVirtualDataSet::Last() {
  MoveToEnd(false);
}

void TVirtualDataSet::Next() {
  Step(true);
}

void TVirtualDataSet::Prior() {
  Step(false);
}

void TVirtualDataSet::MoveToEnd(bool first) {
  CheckActive();
  CheckBrowseMode();
  Fire(BeforeScroll);
  first ? provider_->GoBeforeFirst() : provider_->GoAfterLast();
  using M = TCustomDataProvider::TGetMode;
  if (provider_->GetRecord(active_, first ? M::gmNext : M::gmPrior) ==
      TCustomDataProvider::TGetResult::grOK) {
    bof_ = first;
    eof_ = !first;
  } else {
    ClearBuffer(active_);
    bof_ = eof_ = true;
  }
  DataSetChanged();
  Fire(AfterScroll);
}

void TVirtualDataSet::Step(bool forward) {
  CheckActive();
  CheckBrowseMode();
  if (forward ? eof_ : bof_) return;
  Fire(BeforeScroll);
  SyncStore();
  using M = TCustomDataProvider::TGetMode;
  // A failed move leaves the buffer untouched: the cursor keeps showing the last (or first)
  // record and the end flag is raised. The other flag falls either way: after First and a
  // failed Next on one record, both flags together would read as "no records".
  if (provider_->GetRecord(active_, forward ? M::gmNext : M::gmPrior) !=
      TCustomDataProvider::TGetResult::grOK) {
    (forward ? eof_ : bof_) = true;
  }
  (forward ? bof_ : eof_) = provider_->RecordCount() == 0;
  DataSetChanged();
  Fire(AfterScroll);
}

void TVirtualDataSet::SetRecNo(int rec_no) {
  CheckActive();
  CheckBrowseMode();
  if (rec_no < 1 || rec_no > provider_->RecordCount()) return;
  Fire(BeforeScroll);
  provider_->SetRecNo(rec_no);
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  bof_ = eof_ = false;
  DataSetChanged();
  Fire(AfterScroll);
}

void TVirtualDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  }
}

void TVirtualDataSet::Append() {
  CheckBrowseMode();
  Fire(BeforeInsert);
  insert_return_index_ = active_.current ? active_.index : -1;
  provider_->GoAfterLast();
  ClearBuffer(active_);
  state_ = TDataSetState::dsInsert;
  EditBoundary();
  modified_ = false;
  bof_ = false;
  eof_ = true;
  Fire(OnNewRecord);
  DataSetChanged();
  Fire(AfterInsert);
}

void TVirtualDataSet::Insert() {
  CheckBrowseMode();
  Fire(BeforeInsert);
  SyncStore();
  insert_return_index_ = active_.current ? active_.index : -1;
  ClearBuffer(active_);
  state_ = TDataSetState::dsInsert;
  EditBoundary();
  modified_ = false;
  bof_ = eof_ = false;
  Fire(OnNewRecord);
  DataSetChanged();
  Fire(AfterInsert);
}

void TVirtualDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (provider_->RecordCount() == 0) {
    Insert();
    return;
  }
  Fire(BeforeEdit);
  SyncStore();
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  state_ = TDataSetState::dsEdit;
  EditBoundary();
  modified_ = false;
  DataSetChanged();
  Fire(AfterEdit);
}

void TVirtualDataSet::Post() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforePost);
  bool inserting = state_ == TDataSetState::dsInsert;
  if (!inserting) SyncStore();
  provider_->PostBuffer(active_, inserting);
  state_ = TDataSetState::dsBrowse;
  EditBoundary();
  modified_ = false;
  // The buffer now equals the stored record: take over its place instead of copying it back.
  int index = provider_->GetIndex();
  active_.index = index;
  active_.record_id = provider_->List().Get(index)->RecordId();
  active_.current = true;
  CalculateFields(active_);
  DataSetChanged();
  Fire(AfterPost);
}

void TVirtualDataSet::Cancel() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforeCancel);
  for (auto& field : fields_)
    if (field->Modified()) CloseBlob(*field);
  if (state_ == TDataSetState::dsInsert) provider_->SetIndex(insert_return_index_);
  state_ = TDataSetState::dsBrowse;
  EditBoundary();
  modified_ = false;
  if (provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent) ==
      TCustomDataProvider::TGetResult::grOK) {
    bof_ = eof_ = false;
  } else {
    // Nothing was shown before the insert: stand on the first record, if any.
    provider_->GoBeforeFirst();
    bool any = provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmNext) ==
               TCustomDataProvider::TGetResult::grOK;
    if (!any) ClearBuffer(active_);
    bof_ = true;
    eof_ = !any;
  }
  DataSetChanged();
  Fire(AfterCancel);
}

void TVirtualDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (provider_->RecordCount() == 0) return;
  Fire(BeforeDelete);
  state_ = TDataSetState::dsBrowse;
  EditBoundary();
  modified_ = false;
  SyncStore();
  if (provider_->GetIndex() < 0) provider_->SetIndex(0);
  provider_->DeleteCurrent();
  if (provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent) ==
      TCustomDataProvider::TGetResult::grOK) {
    bof_ = eof_ = false;
  } else {
    ClearBuffer(active_);
    bof_ = eof_ = true;
  }
  DataSetChanged();
  Fire(AfterDelete);
}

void TVirtualDataSet::EditBoundary() {
  ++edit_session_;
  for (auto& field : fields_)
    field->SetModified(false);
}

bool TVirtualDataSet::CanAppendDirectly() const {
  if (state_ != TDataSetState::dsBrowse) return false;
  // A derived record set or store may have overridden what Append and Post call.
  if (typeid(*this) != typeid(TVirtualDataSet) || typeid(*provider_) != typeid(TDataProvider))
    return false;
  if (BeforeInsert || AfterInsert || OnNewRecord || BeforePost || AfterPost || BeforeCancel ||
      AfterCancel)
    return false;
  if (OnDataChange && disable_count_ == 0) return false;
  for (const auto& field : fields_)
    if (field->FieldKind() != TFieldKind::fkData || field->OnValidate) return false;
  return true;
}

void TVirtualDataSet::EndDirectAppend(int appended, bool failed) {
  if (appended <= 0) return;
  // As Append and Post would leave it: a new edit session, no field marked modified.
  EditBoundary();
  modified_ = false;
  provider_->SetIndex(provider_->RecordCount() - 1);
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  bof_ = false;
  eof_ = !failed;
}

bool TVirtualDataSet::ShowRecordQuietly(int index) {
  if (index < 0 || index >= provider_->RecordCount()) return false;
  provider_->SetIndex(index);
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  bof_ = eof_ = false;
  return true;
}

TBookmark TVirtualDataSet::GetBookmark() const {
  if (!Active() || !active_.current || state_ == TDataSetState::dsInsert) return {};
  TBookmark bookmark(8);
  EncodeFixed32(bookmark.data(), active_.record_id);
  EncodeFixed32(bookmark.data() + 4, static_cast<uint32_t>(active_.index));
  return bookmark;
}

namespace {
int32_t BookmarkIndex(const TBookmark& bookmark) {
  return static_cast<int32_t>(DecodeFixed32(bookmark.data() + 4));
}
}  // namespace

bool TVirtualDataSet::BookmarkValid(const TBookmark& bookmark) const {
  if (!cursor_open_ || bookmark.size() != 8) return false;
  int32_t index = BookmarkIndex(bookmark);
  return index >= 0 && index < provider_->RecordCount();
}

int TVirtualDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  bool has_a = a.size() == 8, has_b = b.size() == 8;
  if (!has_a && !has_b) return 0;
  if (!has_b) return 1;
  if (!has_a) return -1;
  int32_t ia = BookmarkIndex(a), ib = BookmarkIndex(b);
  return ia > ib ? 1 : (ia < ib ? -1 : 0);
}

void TVirtualDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (!BookmarkValid(bookmark)) return;
  CheckBrowseMode();
  Fire(BeforeScroll);
  provider_->GotoBookmark(BookmarkIndex(bookmark));
  provider_->GetRecord(active_, TCustomDataProvider::TGetMode::gmCurrent);
  bof_ = eof_ = false;
  DataSetChanged();
  Fire(AfterScroll);
}

namespace {

// Lends the stream to the format for one load or save: runs work, then finish also when work
// fails (the first failure is the one reported), and takes the stream back either way.
template <typename Work, typename Finish>
void WithFormatStream(TCustomStreamFormat& format, TStream& stream, Work work, Finish finish) {
  struct TakeBack {
    TCustomStreamFormat& format;
    ~TakeBack() { format.SetStream(nullptr); }
  } take_back{format};
  format.SetStream(&stream);
  try {
    work();
  } catch (...) {
    try {
      finish();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  finish();
}

}  // namespace

int TVirtualDataSet::LoadFromStream(TStream& stream, TCustomStreamFormat& format) {
  CheckActive();
  CheckBrowseMode();
  stream.SetPosition(0);
  int count = 0;
  WithFormatStream(
      format, stream,
      [&] {
        format.BeginRead(*this);
        count = format.ReadData(*this);
      },
      [&] { format.EndRead(*this); });
  return count;
}

RetryPolicy RecordsFileRetry() {
  RetryPolicy policy;
  policy.attempts = 10;
  policy.pause_ms = 100;
  return policy;
}

int TVirtualDataSet::LoadFromFile(const std::string& path, TCustomStreamFormat& format,
                                  const RetryPolicy& retry) {
  std::unique_ptr<TFileStream> file;
  try {
    RetryCall(retry,
              [&] { file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite); });
  } catch (const EFOpenError&) {
    return 0;  // no records file is no records
  }
  return LoadFromStream(*file, format);
}

void TVirtualDataSet::SaveToStream(TStream& stream, TCustomStreamFormat& format) {
  CheckActive();
  CheckBrowseMode();
  WithFormatStream(
      format, stream,
      [&] {
        format.BeginWrite(*this);
        format.WriteData(*this);
      },
      [&] { format.EndWrite(*this); });
}

}  // namespace rb
