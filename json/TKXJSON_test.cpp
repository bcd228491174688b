#include "json/TKXJSON.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "json/TKXJSONStreamer.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"
#include "util/Errors.h"

namespace rb {
namespace {

// A value that records its destruction, to observe ownership and order.
class Probe : public TKXJSONnull {
 public:
  Probe(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
  ~Probe() override { log_->push_back(name_); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

TKXJSONPtr MakeProbe(std::vector<std::string>& log, const std::string& name) {
  return TKXJSONPtr(new Probe(&log, name));
}

TKXJSONPtr Num(long double v) {
  return TKXJSONPtr(TKXCustomJSON::NewNumber(v));
}

TKXJSONPtr Str(std::u16string_view v) {
  return TKXJSONPtr(TKXCustomJSON::NewString(v));
}

double NumberOf(const TKXCustomJSON* v) {
  return v == nullptr ? -999 : v->GetValue().ToDouble();
}

TEST(JSONValues, KindCodesAndNames) {
  struct Row {
    ValueKind class_kind;
    TKXJSONPtr value;
    int code;
    const char* name;
  };
  Row rows[] = {
      {TKXCustomJSON::ClassKind(), TKXJSONPtr(new TKXJSONobjectmethod(u"x")), 0, "js_Base"},
      {TKXJSONnumber::ClassKind(), Num(1), 1, "js_Number"},
      {TKXJSONstring::ClassKind(), Str(u"s"), 2, "js_String"},
      {TKXJSONboolean::ClassKind(), TKXJSONPtr(TKXCustomJSON::NewBoolean(true)), 3, "js_Boolean"},
      {TKXJSONnull::ClassKind(), TKXJSONPtr(TKXJSONnull::New()), 4, "js_Null"},
      {TKXSONList::ClassKind(), TKXJSONPtr(TKXSONList::New()), 5, "js_List"},
      {TKXJSON::ClassKind(), TKXJSONPtr(TKXJSON::New()), 6, "js_Object"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(static_cast<int>(r.class_kind), r.code) << r.name;
    EXPECT_EQ(static_cast<int>(r.value->GetKind()), r.code) << r.name;
    EXPECT_STREQ(r.value->GetKindName(), r.name);
    EXPECT_STREQ(ValueKindName(r.class_kind), r.name);
  }
  EXPECT_EQ(TKXJSONobjectmethod::ClassKind(), ValueKind::js_Base);
  EXPECT_EQ(TKXJSONcustomlist::ClassKind(), ValueKind::js_Base);
}

TEST(JSONValues, ScalarsGetAndSetThroughVariants) {
  platform::SetUserLocaleForTesting({{'.', ','}});
  auto number = TKXCustomJSON::NewNumber(0.1L);
  EXPECT_EQ(number->GetValue().Type(), VarType::kDouble);
  EXPECT_EQ(number->GetValue().ToDouble(), 0.1);  // rounded to double
  number->SetValue(TVariant::FromString("2.5"));
  EXPECT_EQ(number->Value(), 2.5L);
  EXPECT_THROW(number->SetValue(TVariant::FromString("abc")), EVariantTypeCastError);
  EXPECT_EQ(number->Value(), 2.5L);  // unchanged
  auto huge = TKXCustomJSON::NewNumber(1e4000L);
  EXPECT_THROW(huge->GetValue(), EVariantOverflowError);
  EXPECT_THROW(TKXCustomJSON::NewNumber(-1.797693134862316e308L)->GetValue(),
               EVariantOverflowError);
  // Above DBL_MAX but rounding to it: still a double, not an overflow.
  EXPECT_EQ(TKXCustomJSON::NewNumber(1.7976931348623158e308L)->GetValue().ToDouble(), DBL_MAX);
  EXPECT_EQ(TKXCustomJSON::NewNumber(-1.7976931348623158e308L)->GetValue().ToDouble(), -DBL_MAX);

  auto text = TKXCustomJSON::NewString(u"a\u00E4");
  EXPECT_EQ(text->GetValue().ToWide(), u"a\u00E4");
  text->SetValue(TVariant::FromDouble(1.5));
  EXPECT_EQ(text->Text(), u"1.5");
  text->SetValue(TVariant::Null());
  EXPECT_EQ(text->Text(), u"");
  text->SetValue(TVariant::FromBoolean(true));
  EXPECT_EQ(text->Text(), u"-1");

  auto flag = TKXCustomJSON::NewBoolean(true);
  EXPECT_TRUE(flag->Value());
  EXPECT_EQ(flag->GetValue().Type(), VarType::kBoolean);
  flag->SetValue(TVariant::FromString("False"));
  EXPECT_FALSE(flag->Value());
  EXPECT_THROW(flag->SetValue(TVariant::Null()), EVariantTypeCastError);

  EXPECT_TRUE(TKXJSONnull::New()->GetValue().IsNull());
  EXPECT_TRUE(TKXSONList::New()->GetValue().IsNull());
  EXPECT_TRUE(TKXJSON::New()->GetValue().IsNull());
  EXPECT_TRUE(TKXJSONobjectmethod(u"a", Num(1)).GetValue().IsNull());
  platform::SetUserLocaleForTesting(std::nullopt);
}

TEST(JSONValues, ChildByKeyOnEachKind) {
  auto list = TKXSONList::New();
  list->AddItem(Num(10));
  list->AddItem(Num(20));
  list->AddItem(Num(30));
  EXPECT_EQ(list->ChildByKey(TVariant::FromString("x")), list.get());
  EXPECT_EQ(list->ChildByKey(TVariant::FromWide(u"1")), list.get());
  EXPECT_EQ(NumberOf(list->ChildByKey(TVariant::FromInteger(1))), 20);
  EXPECT_EQ(NumberOf(list->ChildByKey(TVariant::FromDouble(1.5))), 30);  // ties to even
  EXPECT_EQ(NumberOf(list->ChildByKey(TVariant::FromDouble(0.5))), 10);
  EXPECT_EQ(NumberOf(list->ChildByKey(TVariant::FromCurrency(10000))), 20);
  EXPECT_EQ(NumberOf(list->ChildByKey(TVariant::FromBoolean(false))), 10);
  EXPECT_EQ(list->ChildByKey(TVariant::FromBoolean(true)), nullptr);  // -1
  const TVariant two = TVariant::FromByte(2);
  EXPECT_EQ(NumberOf(list->ChildByKey(TVariant::ByRef(two))), 30);
  EXPECT_EQ(list->ChildByKey(TVariant::Null()), list.get());
  EXPECT_THROW(list->ChildByKey(TVariant::FromDouble(1e20)), EVariantOverflowError);

  auto object = TKXJSON::New();
  object->AddMember(u"a", Num(1));
  TKXCustomJSON* pair = object->ChildByKey(TVariant::FromInteger(0));
  ASSERT_NE(pair, nullptr);
  EXPECT_STREQ(pair->GetKindName(), "js_Base");
  EXPECT_EQ(pair, object->GetItem(0));
  EXPECT_EQ(NumberOf(object->ChildByKey(TVariant::FromString("a"))), 1);
  const TVariant name = TVariant::FromWide(u"a");
  EXPECT_EQ(NumberOf(object->ChildByKey(TVariant::ByRef(name))), 1);
  EXPECT_EQ(object->ChildByKey(TVariant::FromString("b")), nullptr);

  for (TKXCustomJSON* scalar : {static_cast<TKXCustomJSON*>(pair), object->MemberValue(u"a")}) {
    EXPECT_EQ(scalar->ChildByKey(TVariant::FromString("zz")), scalar);
    EXPECT_EQ(scalar->ChildByKey(TVariant::FromInteger(0)), scalar);
  }
  auto null = TKXJSONnull::New();
  EXPECT_EQ(null->ChildByKey(TVariant::FromString("a")), null.get());
}

TEST(JSONValues, RepeatedNamesGiveTheFirstMemberWithOrWithoutIndex) {
  for (bool indexed : {true, false}) {
    auto object = TKXJSON::New(indexed);
    EXPECT_EQ(object->AddMember(u"a", Num(1)), 0);
    EXPECT_EQ(object->AddMember(u"a", Num(2)), 1);
    EXPECT_EQ(object->ItemCount(), 2) << indexed;
    EXPECT_EQ(NumberOf(object->MemberValue(u"a")), 1) << indexed;
    EXPECT_EQ(NumberOf(object->ChildByKey(TVariant::FromString("a"))), 1) << indexed;
    EXPECT_EQ(NumberOf(object->MemberValueAt(1)), 1) << indexed;
    EXPECT_EQ(object->MemberName(1), u"a");
    EXPECT_EQ(object->MemberIndex(u"A"), -1) << "names are case-sensitive";
    EXPECT_EQ(object->NameIndex().NodeCount(), indexed ? 1 : 0);
  }
}

TEST(JSONValues, EmptyNameIsFoundByNameButNotByPosition) {
  auto object = TKXJSON::New();
  object->AddMember(u"", Num(7));
  EXPECT_EQ(NumberOf(object->MemberValue(u"")), 7);
  EXPECT_EQ(object->MemberValueAt(0), nullptr);
  EXPECT_EQ(object->MemberName(0), u"");
  EXPECT_EQ(object->MemberName(5), u"");
  EXPECT_EQ(object->MemberValueAt(-1), nullptr);
}

TEST(JSONValues, AddingNothingChangesNothing) {
  auto object = TKXJSON::New();
  EXPECT_EQ(object->AddMember(u"a", nullptr), -1);
  EXPECT_EQ(object->AddItem(nullptr), -1);
  EXPECT_EQ(object->ItemCount(), 0);
  EXPECT_EQ(object->MemberIndex(u"a"), -1);
}

TEST(JSONValues, RemoveItemMovesTheLastChildIntoTheGap) {
  std::vector<std::string> log;
  auto list = TKXSONList::New();
  for (const char* n : {"a", "b", "c", "d"})
    list->AddItem(MakeProbe(log, n));
  TKXCustomJSON* a = list->GetItem(0);
  TKXCustomJSON* c = list->GetItem(2);
  TKXCustomJSON* d = list->GetItem(3);
  list->RemoveItem(1);
  EXPECT_EQ(log, std::vector<std::string>{"b"});
  ASSERT_EQ(list->ItemCount(), 3);
  EXPECT_EQ(list->GetItem(0), a);
  EXPECT_EQ(list->GetItem(1), d);
  EXPECT_EQ(list->GetItem(2), c);
  list->RemoveItem(-1);
  list->RemoveItem(3);
  EXPECT_EQ(list->ItemCount(), 3);
  list->RemoveItem(2);  // the last position: simply dropped
  EXPECT_EQ(list->IndexOfItem(d), 1);
  EXPECT_EQ(list->IndexOfItem(c), -1);
  list.reset();
  EXPECT_EQ(log, (std::vector<std::string>{"b", "c", "d", "a"}));
}

TEST(JSONValues, ObjectLookupStaysRightAfterRemovalAndReplacement) {
  auto object = TKXJSON::New();
  object->AddMember(u"a", Num(1));
  object->AddMember(u"b", Num(2));
  object->AddMember(u"c", Num(3));
  object->AddMember(u"d", Num(4));
  object->RemoveItem(1);  // (a, d, c)
  EXPECT_EQ(object->MemberIndex(u"b"), -1);
  EXPECT_EQ(object->MemberIndex(u"d"), 1);
  EXPECT_EQ(NumberOf(object->MemberValue(u"d")), 4);
  EXPECT_EQ(NumberOf(object->MemberValue(u"c")), 3);
  object->SetItem(2, TKXJSONPtr(new TKXJSONobjectmethod(u"e", Num(5))));
  EXPECT_EQ(object->MemberIndex(u"c"), -1);
  EXPECT_EQ(NumberOf(object->MemberValue(u"e")), 5);
  object->RemoveItem(2);
  object->RemoveItem(1);
  object->RemoveItem(0);
  EXPECT_EQ(object->MemberIndex(u"a"), -1);
  EXPECT_EQ(object->AddMember(u"a", Num(9)), 0);
  EXPECT_EQ(NumberOf(object->MemberValue(u"a")), 9);
}

TEST(JSONValues, SetItemReplacesInRangeAndDropsTheValueOtherwise) {
  std::vector<std::string> log;
  auto list = TKXSONList::New();
  list->AddItem(MakeProbe(log, "old"));
  list->SetItem(0, MakeProbe(log, "new"));
  EXPECT_EQ(log, std::vector<std::string>{"old"});
  list->SetItem(1, MakeProbe(log, "outside"));
  list->SetItem(-1, MakeProbe(log, "negative"));
  EXPECT_EQ(log, (std::vector<std::string>{"old", "outside", "negative"}));
  EXPECT_EQ(list->ItemCount(), 1);
  list->SetItem(0, nullptr);
  EXPECT_EQ(list->GetItem(0), nullptr);
  EXPECT_EQ(list->ItemAsInteger(0), 0);
  EXPECT_EQ(log.back(), "new");
}

TEST(JSONValues, ContainersDestroyChildrenLastToFirstAndPairsTheirValue) {
  std::vector<std::string> log;
  {
    auto object = TKXJSON::New();
    object->AddMember(u"x", MakeProbe(log, "x"));
    auto inner = TKXSONList::New();
    inner->AddItem(MakeProbe(log, "i0"));
    inner->AddItem(MakeProbe(log, "i1"));
    object->AddMember(u"list", TKXJSONPtr(std::move(inner)));
    object->AddMember(u"y", MakeProbe(log, "y"));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"y", "i1", "i0", "x"}));
  log.clear();
  {
    TKXJSONobjectmethod pair(u"p", MakeProbe(log, "first"));
    pair.SetPairValue(MakeProbe(log, "second"));
    EXPECT_EQ(log, std::vector<std::string>{"first"});
  }
  EXPECT_EQ(log, (std::vector<std::string>{"first", "second"}));
}

TEST(JSONValues, HeapValuesAddedToAReadTreeAreOwnedByIt) {
  std::vector<std::string> log;
  TKXJSONPtr root = TKXJSONStreamer::ReadText(R"({"a":[1,2,{"b":"c"}],"d":"e"})");
  ASSERT_NE(root, nullptr);
  auto* object = static_cast<TKXJSON*>(root.get());
  auto* list = static_cast<TKXSONList*>(object->MemberValue(u"a"));
  list->AddItem(MakeProbe(log, "added"));
  list->SetItem(0, MakeProbe(log, "replaced"));
  list->RemoveItem(2);
  object->SetTextMember("d", "changed");
  object->SetTextMember("new", "text");
  object->AddMember(u"p", MakeProbe(log, "member"));
  EXPECT_EQ(object->MemberAsText("d"), "changed");
  EXPECT_EQ(list->ItemCount(), 3);
  EXPECT_TRUE(log.empty());
  root.reset();
  // Last to first: the member "p", then the list (replaced, 2, added) from its end.
  EXPECT_EQ(log, (std::vector<std::string>{"member", "added", "replaced"}));
}

TEST(JSONValues, ChangedNodesOfAReadTreeFreeWhatTheyTook) {
  // A read tree that nobody changed is dropped with its arena, no node visited. Each kind of
  // change on its own, at any depth, must still bring its heap value to destruction (and a
  // string's own text: the sanitizer build reports a leak).
  using Change = std::function<void(TKXJSON & root, std::vector<std::string> & log)>;
  auto deep_list = [](TKXJSON& root) { return static_cast<TKXSONList*>(root.MemberValue(u"a")); };
  auto deep_object = [&](TKXJSON& root) {
    return static_cast<TKXJSON*>(deep_list(root)->GetItem(1));
  };
  const std::vector<std::pair<const char*, Change>> changes = {
      {"a deep pair's value",
       [&](TKXJSON& root, std::vector<std::string>& log) {
         static_cast<TKXJSONobjectmethod*>(deep_object(root)->GetItem(0))
             ->SetPairValue(MakeProbe(log, "probe"));
       }},
      {"an item added to a deep list",
       [&](TKXJSON& root, std::vector<std::string>& log) {
         deep_list(root)->AddItem(MakeProbe(log, "probe"));
       }},
      {"an item replaced in a deep list",
       [&](TKXJSON& root, std::vector<std::string>& log) {
         deep_list(root)->SetItem(0, MakeProbe(log, "probe"));
       }},
      {"a member added to a deep object",
       [&](TKXJSON& root, std::vector<std::string>& log) {
         deep_object(root)->AddMember(u"new", MakeProbe(log, "probe"));
       }},
      {"a member added to the root",
       [&](TKXJSON& root, std::vector<std::string>& log) {
         root.AddMember(u"new", MakeProbe(log, "probe"));
       }},
      {"a deep string given a text, then a value added to the root",
       [&](TKXJSON& root, std::vector<std::string>& log) {
         deep_object(root)->MemberValue(u"q")->SetValue(
             TVariant::FromWide(u"a text of its own, long enough"));
         root.AddItem(MakeProbe(log, "probe"));
       }},
      {"a removal, then a value added deep",
       [&](TKXJSON& root, std::vector<std::string>& log) {
         deep_object(root)->RemoveItem(1);
         static_cast<TKXJSONobjectmethod*>(deep_object(root)->GetItem(0))
             ->SetPairValue(MakeProbe(log, "probe"));
       }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    std::vector<std::string> log;
    TKXJSONPtr root = TKXJSONStreamer::ReadText(
        R"({"a":[{"p":1,"q":"x"},{"p":2,"q":"y"}],"s":"text","n":null,"t":true})");
    ASSERT_NE(root, nullptr);
    change(static_cast<TKXJSON&>(*root), log);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(static_cast<TKXJSON&>(*root).MemberAsText("s"), "text");
    root.reset();
    EXPECT_EQ(log, std::vector<std::string>{"probe"});
  }
  // And a string given a text of its own on its own (only the sanitizer build sees a leak).
  TKXJSONPtr root = TKXJSONStreamer::ReadText(R"({"s":"text"})");
  ASSERT_NE(root, nullptr);
  root->FindMember("s")->SetValue(TVariant::FromWide(u"another text of its own, not short"));
  EXPECT_EQ(root->MemberAsText("s"), "another text of its own, not short");
}

TEST(JSONValues, NumbersKeepEveryBitOfExtendedPrecision) {
  // Numbers hold their value in its significant bytes only; nothing may be lost on the way.
  const std::vector<long double> values = {0.0L,
                                           -0.0L,
                                           1.0L / 3.0L,
                                           -2.5L,
                                           LDBL_MAX,
                                           LDBL_MIN,
                                           LDBL_TRUE_MIN,
                                           std::numeric_limits<long double>::infinity(),
                                           123456789012345678.0L};
  for (long double v : values) {
    SCOPED_TRACE(static_cast<double>(v));
    auto number = TKXCustomJSON::NewNumber(v);
    EXPECT_EQ(number->Value(), v);
    EXPECT_EQ(std::signbit(number->Value()), std::signbit(v));
  }
  auto number = TKXCustomJSON::NewNumber(1);
  number->SetValue(TVariant::FromDouble(0.1));
  EXPECT_EQ(number->Value(), static_cast<long double>(0.1));
  EXPECT_EQ(number->GetValue().ToDouble(), 0.1);
}

TEST(Arena, PagesOfAFreedTreeServeTheNextAndAreReleasedOnDemand) {
  TKXArena::ReleaseCachedPages();
  EXPECT_EQ(TKXArena::CachedBytes(), 0u);
  std::string text = "[";
  for (int i = 0; i < 5000; ++i)
    text +=
        "{\"name\":\"value number " + std::to_string(i) + "\",\"n\":" + std::to_string(i) + "},";
  text += "]";
  TKXJSONPtr first = TKXJSONStreamer::ReadText(text);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TKXArena::CachedBytes(), 0u);
  first.reset();
  const size_t kept = TKXArena::CachedBytes();
  EXPECT_GE(kept, 4 * TKXArena::kPageBytes) << "the tree's pages are kept";
  EXPECT_EQ(kept % TKXArena::kPageBytes, 0u);
  TKXJSONPtr second = TKXJSONStreamer::ReadText(text);
  ASSERT_NE(second, nullptr);
  EXPECT_LT(TKXArena::CachedBytes(), kept) << "the next read takes kept pages";
  EXPECT_EQ(second->ItemCount(), 5000);
  EXPECT_EQ(second->GetItem(4999)->MemberAsText("name"), "value number 4999");
  EXPECT_EQ(NumberOf(second->GetItem(123)->FindMember("n")), 123);
  second.reset();
  EXPECT_LE(TKXArena::CachedBytes(), TKXArena::kMaxCachedBytes);
  TKXArena::ReleaseCachedPages();
  EXPECT_EQ(TKXArena::CachedBytes(), 0u);
}

TEST(Arena, LargeAndAlignedAllocations) {
  TKXArena arena;
  std::vector<std::pair<char*, size_t>> taken;
  for (size_t size : {1u, 7u, 16u, 100u, 5000u, 20000u, 70000u, 3u, 200000u, 8u}) {
    for (size_t align : {1u, 8u, 16u}) {
      auto* p = static_cast<char*>(arena.Allocate(size, align));
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % align, 0u);
      std::memset(p, static_cast<int>(taken.size()), size);
      taken.emplace_back(p, size);
    }
  }
  // No allocation overlaps another: each still holds its own fill.
  for (size_t i = 0; i < taken.size(); ++i) {
    const auto [p, size] = taken[i];
    EXPECT_EQ(std::count(p, p + size, static_cast<char>(i)), static_cast<std::ptrdiff_t>(size))
        << "allocation " << i;
  }
}

TEST(JSONValues, TypedItemOperations) {
  auto list = TKXSONList::New();
  list->AddItem(Num(2.9L));
  list->AddItem(Num(-2.9L));
  list->AddItem(Str(u"\u00E4\u20AC\u4E00"));
  list->AddItem(TKXJSONPtr(TKXCustomJSON::NewBoolean(true)));
  list->AddItem(Num(3e9L));
  EXPECT_EQ(list->ItemAsInteger(0), 2);
  EXPECT_EQ(list->ItemAsInteger(1), -2);
  EXPECT_DOUBLE_EQ(list->ItemAsFloat(1), -2.9);
  EXPECT_EQ(list->ItemAsText(2), "\xE4\x80?");
  EXPECT_EQ(list->ItemAsWideText(2), u"\u00E4\u20AC\u4E00");
  EXPECT_TRUE(list->ItemAsBoolean(3));
  EXPECT_THROW(list->ItemAsInteger(4), EVariantOverflowError);
  // Nothing there: defaults.
  EXPECT_EQ(list->ItemAsInteger(9), 0);
  EXPECT_EQ(list->ItemAsText(-1), "");
  EXPECT_EQ(list->ItemAsWideText(9), u"");
  EXPECT_EQ(list->ItemAsFloat(9), 0);
  EXPECT_FALSE(list->ItemAsBoolean(9));
  // Another class: invalid typecast.
  try {
    list->ItemAsInteger(2);
    FAIL();
  } catch (const EInvalidCast& e) {
    EXPECT_STREQ(e.what(), "Invalid class typecast");
  }
  EXPECT_THROW(list->ItemAsFloat(3), EInvalidCast);
  EXPECT_THROW(list->ItemAsText(0), EInvalidCast);
  EXPECT_THROW(list->ItemAsWideText(3), EInvalidCast);
  EXPECT_THROW(list->ItemAsBoolean(2), EInvalidCast);

  // Objects read the member's value, not the pair.
  auto object = TKXJSON::New();
  object->AddMember(u"n", Num(4.5L));
  object->AddMember(u"s", Str(u"x"));
  EXPECT_EQ(object->ItemAsInteger(0), 4);
  EXPECT_EQ(object->ItemAsText(1), "x");
  EXPECT_THROW(object->ItemAsBoolean(1), EInvalidCast);
}

TEST(JSONValues, ItemWithName) {
  std::string name;
  auto list = TKXSONList::New();
  list->AddItem(Num(5));
  EXPECT_EQ(NumberOf(list->ItemWithName(0, name)), 5);
  EXPECT_EQ(name, "0");
  EXPECT_EQ(list->ItemWithName(7, name), nullptr);
  EXPECT_EQ(name, "7");
  auto object = TKXJSON::New();
  object->AddMember(u"gr\u00FC\u00DF", Num(6));
  EXPECT_EQ(NumberOf(object->ItemWithName(0, name)), 6);
  EXPECT_EQ(name, "gr\xFC\xDF");
  EXPECT_EQ(object->ItemWithName(1, name), nullptr);
  EXPECT_EQ(name, "");
}

TEST(JSONValues, SettingMembers) {
  platform::SetUserLocaleForTesting({{',', ';'}});
  auto object = TKXJSON::New();
  object->SetIntegerMember("x", 5);
  ASSERT_EQ(object->ItemCount(), 1);
  EXPECT_STREQ(object->MemberValue(u"x")->GetKindName(), "js_Number");
  EXPECT_EQ(NumberOf(object->MemberValue(u"x")), 5);
  object->AddMember(u"s", Str(u"old"));
  object->SetIntegerMember("s", 5);
  EXPECT_EQ(object->ItemAsWideText(1), u"5");
  object->SetBooleanMember("s", true);
  EXPECT_EQ(object->ItemAsWideText(1), u"-1");
  object->SetFloatMember("s", 2.5);
  EXPECT_EQ(object->ItemAsWideText(1), u"2,5");
  object->SetCurrencyMember("c", 12345);
  EXPECT_DOUBLE_EQ(object->ItemAsFloat(2), 1.2345);
  object->SetBooleanMember("b", false);
  EXPECT_FALSE(object->ItemAsBoolean(3));
  object->SetTextMember("t\xFC", "\x80");
  EXPECT_EQ(object->MemberValue(u"t\u00FC")->GetValue().ToWide(), u"\u20AC");
  object->SetFloatMember("x", 0.25);
  EXPECT_EQ(NumberOf(object->MemberValue(u"x")), 0.25);
  EXPECT_THROW(object->SetTextMember("x", "abc"), EVariantTypeCastError);
  EXPECT_EQ(NumberOf(object->MemberValue(u"x")), 0.25);
  EXPECT_EQ(object->ItemCount(), 5);

  // On other kinds: scalars set themselves, whatever the name; the rest ignore it.
  auto number = TKXCustomJSON::NewNumber(1);
  number->SetIntegerMember("whatever", 42);
  EXPECT_EQ(number->Value(), 42);
  auto text = TKXCustomJSON::NewString(u"");
  text->SetFloatMember("", 0.5);
  EXPECT_EQ(text->Text(), u"0,5");
  auto list = TKXSONList::New();
  list->SetIntegerMember("x", 1);
  EXPECT_EQ(list->ItemCount(), 0);
  TKXJSONobjectmethod pair(u"p", Num(3));
  pair.SetIntegerMember("p", 4);
  EXPECT_EQ(NumberOf(pair.Value()), 3);
  platform::SetUserLocaleForTesting(std::nullopt);
}

// Checks the AA-tree levels and the order of keys; returns the keys in order.
void CheckAATree(const TKXBalTree& tree, uint32_t node, std::vector<std::u16string>& keys) {
  if (node == 0) return;
  const TKXBalNode& n = tree.Node(node);
  const TKXBalNode& left = tree.Node(n.Left);
  const TKXBalNode& right = tree.Node(n.Right);
  EXPECT_EQ(left.Level + 1, n.Level) << "left child one level down";
  EXPECT_TRUE(right.Level == n.Level || right.Level + 1 == n.Level);
  EXPECT_LT(tree.Node(right.Right).Level, n.Level) << "no two right links on one level";
  if (n.Left == 0 && n.Right == 0) {
    EXPECT_EQ(n.Level, 1);
  }
  CheckAATree(tree, n.Left, keys);
  keys.emplace_back(n.Key);
  CheckAATree(tree, n.Right, keys);
}

TEST(NameIndex, ManyInsertsStayBalancedOrderedAndFindable) {
  TKXBalTree tree;
  std::mt19937 random(12345);
  std::vector<std::u16string> inserted;
  std::set<std::u16string> distinct;
  for (int i = 0; i < 20000; ++i) {
    std::u16string key;
    const int length = static_cast<int>(random() % 6);
    for (int k = 0; k < length; ++k) {
      // Letters, an umlaut and units above 0x7FFF, which must sort as unsigned.
      static const char16_t kUnits[] = {u'a', u'b', u'Z', u'\u00E4', u'\u8000', u'\uFFFF'};
      key += kUnits[random() % 6];
    }
    const bool fresh = distinct.insert(key).second;
    EXPECT_EQ(tree.InsertKey(key, i), fresh);
    inserted.push_back(key);
  }
  EXPECT_EQ(tree.NodeCount(), static_cast<int32_t>(distinct.size()));
  for (size_t i = 0; i < inserted.size(); ++i) {
    const int32_t first = static_cast<int32_t>(
        std::find(inserted.begin(), inserted.end(), inserted[i]) - inserted.begin());
    ASSERT_EQ(tree.FindPosition(inserted[i]), first) << i;
  }
  EXPECT_EQ(tree.FindPosition(u"not there"), -1);
  std::vector<std::u16string> keys;
  CheckAATree(tree, tree.RootNode(), keys);
  EXPECT_EQ(keys, std::vector<std::u16string>(distinct.begin(), distinct.end()));
  // Balanced: the root's level is at most log2(n) + 1.
  EXPECT_LE(tree.Node(tree.RootNode()).Level, 12);
  tree.ClearNodes();
  EXPECT_EQ(tree.FindPosition(u"a"), -1);
  EXPECT_EQ(tree.NodeCount(), 0);
  EXPECT_TRUE(tree.InsertKey(u"a", 3));
  EXPECT_EQ(tree.FindPosition(u"a"), 3);
}

TEST(NameIndex, OrdersByUnsignedCodeUnitsAndPrefixFirst) {
  TKXBalTree tree;
  for (const char16_t* key : {u"ab", u"a", u"\uFFFF", u"B", u"abc", u"\u00E4"}) {
    tree.InsertKey(key, 0);
  }
  std::vector<std::u16string> keys;
  CheckAATree(tree, tree.RootNode(), keys);
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"B", u"a", u"ab", u"abc", u"\u00E4", u"\uFFFF"}));
}

TEST(NameIndex, KeysAreCopied) {
  TKXBalTree tree;
  {
    std::u16string key = u"a rather long key beyond any short-string buffer";
    tree.InsertKey(key, 1);
    key.assign(key.size(), u'x');
  }
  EXPECT_EQ(tree.FindPosition(u"a rather long key beyond any short-string buffer"), 1);
}

TEST(NameIndex, ReadObjectsIndexManyMembers) {
  std::string text = "{";
  for (int i = 0; i < 3000; ++i)
    text += "\"k" + std::to_string(i * 7919 % 3000) + "\":" + std::to_string(i) + ",";
  text += "\"k5\":-1}";
  TKXJSONPtr root = TKXJSONStreamer::ReadText(text);
  ASSERT_NE(root, nullptr);
  auto* object = static_cast<TKXJSON*>(root.get());
  EXPECT_EQ(object->ItemCount(), 3001);
  EXPECT_EQ(object->NameIndex().NodeCount(), 3000);
  for (int i = 0; i < 3000; ++i) {
    const std::string name = "k" + std::to_string(i * 7919 % 3000);
    ASSERT_EQ(object->MemberIndex(platform::AnsiToWide(name)), i) << name;
  }
  std::vector<std::u16string> keys;
  CheckAATree(object->NameIndex(), object->NameIndex().RootNode(), keys);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  // Members added afterwards are indexed too.
  object->AddMember(u"late", Num(1));
  EXPECT_EQ(object->MemberIndex(u"late"), 3001);
  const int first_k5 = object->MemberIndex(u"k5");
  ASSERT_GE(first_k5, 0);
  EXPECT_LT(first_k5, 3000);
  EXPECT_EQ(NumberOf(object->MemberValue(u"k5")), first_k5) << "the first k5 wins";
  EXPECT_EQ(NumberOf(object->GetItem(3000) != nullptr
                         ? static_cast<TKXJSONobjectmethod*>(object->GetItem(3000))->Value()
                         : nullptr),
            -1);
}

TEST(NameIndex, ObjectsWithTheSameNamesStayIndependentWhenChanged) {
  // Read objects with equal names may share their index; a change to one must not show in another.
  TKXJSONPtr root = TKXJSONStreamer::ReadText(
      R"([{"a":1,"a":2},{"a":3,"a":4},{"x":1,"y":2},{"x":3,"y":4},{"x":5,"y":6}])");
  ASSERT_NE(root, nullptr);
  auto object = [&](int i) { return static_cast<TKXJSON*>(root->GetItem(i)); };
  object(0)->AddMember(u"b", Num(9));
  object(0)->AddMember(u"0", Num(8));
  EXPECT_EQ(object(0)->MemberIndex(u"b"), 2);
  EXPECT_EQ(object(1)->MemberIndex(u"b"), -1);
  EXPECT_EQ(object(1)->MemberIndex(u"0"), -1);
  EXPECT_EQ(NumberOf(object(1)->MemberValue(u"a")), 3);
  object(3)->RemoveItem(0);  // (y)
  object(4)->AddMember(u"z", Num(7));
  EXPECT_EQ(object(3)->MemberIndex(u"x"), -1);
  EXPECT_EQ(object(3)->MemberIndex(u"y"), 0);
  EXPECT_EQ(object(2)->MemberIndex(u"x"), 0);
  EXPECT_EQ(object(2)->MemberIndex(u"y"), 1);
  EXPECT_EQ(object(2)->MemberIndex(u"z"), -1);
  EXPECT_EQ(NumberOf(object(4)->MemberValue(u"z")), 7);
  EXPECT_EQ(NumberOf(object(4)->MemberValue(u"y")), 6);
  std::vector<std::u16string> keys;
  CheckAATree(object(4)->NameIndex(), object(4)->NameIndex().RootNode(), keys);
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"x", u"y", u"z"}));
}

TEST(NameIndex, AsPairAgreesWithDynamicCast) {
  TKXJSONPtr root = TKXJSONStreamer::ReadText(R"({"n":1,"s":"x","b":true,"z":null,"l":[],"o":{}})");
  ASSERT_NE(root, nullptr);
  TKXOwned<TKXJSON> built = TKXJSON::New();
  built->AddMember(u"a", Num(1));
  std::vector<const TKXCustomJSON*> nodes = {nullptr, root.get(), built.get(), built->GetItem(0)};
  for (int32_t i = 0; i < root->ItemCount(); ++i) {
    nodes.push_back(root->GetItem(i));  // read pairs
    nodes.push_back(static_cast<const TKXJSONobjectmethod*>(root->GetItem(i))->Value());
  }
  for (const TKXCustomJSON* node : nodes)
    EXPECT_EQ(TKXJSONobjectmethod::AsPair(node), dynamic_cast<const TKXJSONobjectmethod*>(node));
}

TEST(NameIndex, SameIndexOnlyWhileShared) {
  TKXJSONPtr root = TKXJSONStreamer::ReadText(
      R"([{"x":1,"y":2},{"x":3,"y":4},{"y":5,"x":6},{"x":7,"y":8},{},{}])");
  ASSERT_NE(root, nullptr);
  auto index = [&](int i) -> const TKXBalTree& {
    return static_cast<TKXJSON*>(root->GetItem(i))->NameIndex();
  };
  struct Row {
    int a, b;
    bool same;
  } rows[] = {
      {0, 1, true},                  // same names in the same order, one after the other
      {1, 2, false},                 // other order
      {2, 3, false}, {0, 3, false},  // same names, but an object with others came between
      {4, 5, false},                 // no members: no index to share
  };
  for (const Row& row : rows) {
    EXPECT_EQ(index(row.a).SameIndexAs(index(row.b)), row.same) << row.a << "," << row.b;
    EXPECT_EQ(index(row.b).SameIndexAs(index(row.a)), row.same) << row.b << "," << row.a;
  }
  static_cast<TKXJSON*>(root->GetItem(1))->AddMember(u"z", Num(9));
  EXPECT_FALSE(index(0).SameIndexAs(index(1))) << "a change gives the object an index of its own";
  EXPECT_TRUE(index(1).SameIndexAs(index(1)));

  TKXOwned<TKXJSON> unindexed = TKXJSON::New(false);
  unindexed->AddMember(u"x", Num(1));
  EXPECT_FALSE(unindexed->NameIndex().SameIndexAs(unindexed->NameIndex()));
}

}  // namespace
}  // namespace rb
