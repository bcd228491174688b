// Reading the host's document. The live view reads the tree only through FindMember, ItemAt and
// MemberAsText (members of TKXCustomJSON, defined in JSONAccess.cpp) and ItemCount. They are safe
// on any kind of value: a missing member or an index out of range gives none or the empty text,
// never an error; only a number that does not convert to text raises (the variant's errors).
//
// The document as the live view reads it (names exact and case-sensitive):
//   root object  "Order": array, first element used   -> the order object
//   order        "LINKUID", "PrintName", "InfoLines": text (LINKUID may be a number)
//                "Adress": array, used when it has exactly one element -> "AdressSmart": text
//                "Parts": array of positions
//   position     "TypLine", "Row", "Position", "Description1": text or number; "Price": number
// Numbers read as text in the user's locale: 1234.5 reads "1234,5" under a German locale.
#pragma once

#include "json/TKXJSON.h"

namespace rb::doc {

inline constexpr const char* kOrder = "Order";
inline constexpr const char* kLinkUid = "LINKUID";
inline constexpr const char* kPrintName = "PrintName";
inline constexpr const char* kInfoLines = "InfoLines";
inline constexpr const char* kAdress = "Adress";
inline constexpr const char* kAdressSmart = "AdressSmart";
inline constexpr const char* kParts = "Parts";
inline constexpr const char* kTypLine = "TypLine";
inline constexpr const char* kRow = "Row";
inline constexpr const char* kPosition = "Position";
inline constexpr const char* kDescription1 = "Description1";
inline constexpr const char* kPrice = "Price";

}  // namespace rb::doc
