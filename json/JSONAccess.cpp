#include "json/JSONAccess.h"

namespace rb {

TKXCustomJSON* TKXCustomJSON::FindMember(const std::string& name) {
  return ChildByKey(TVariant::FromString(name));
}

TKXCustomJSON* TKXCustomJSON::ItemAt(int32_t index) {
  return GetItem(index);
}

std::string TKXCustomJSON::MemberAsText(const std::string& name) {
  const TKXCustomJSON* member = FindMember(name);
  if (member == nullptr) return {};
  const TVariant value = member->GetValue();
  if (value.IsNull()) return {};
  return value.ToString();
}

}  // namespace rb
