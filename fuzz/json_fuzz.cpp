// The JSON reader on arbitrary text: a document or none, never a fault. Every node of a document
// is visited and read the way the live view reads it.
#include <cstdint>
#include <string>
#include <string_view>

#include "json/JSONAccess.h"
#include "json/TKXJSONStreamer.h"
#include "util/Errors.h"

namespace {

void Walk(rb::TKXCustomJSON* node, int depth) {
  if (node == nullptr) return;
  // depth counts the containers around the node; the reader refuses deeper nesting.
  if (depth > rb::TKXJSONStreamer::kMaxDepth) __builtin_trap();
  try {
    (void)node->GetValue().ToString();
  } catch (const rb::EVariantError&) {  // a number without a text form
  }
  (void)node->GetKindName();
  if (auto* pair = dynamic_cast<rb::TKXJSONobjectmethod*>(node)) {
    (void)pair->Name();
    Walk(pair->Value(), depth);
    return;
  }
  if (auto* object = dynamic_cast<rb::TKXJSON*>(node)) {
    for (int32_t i = 0; i < object->ItemCount(); ++i) {
      const std::u16string name = object->MemberName(i);
      // The position's name leads back to the first member of that name (an empty name: none).
      if (!name.empty() && object->MemberValue(name) != object->MemberValueAt(i)) __builtin_trap();
    }
    for (const char* name :
         {rb::doc::kOrder, rb::doc::kLinkUid, rb::doc::kParts, rb::doc::kPrice}) {
      try {
        (void)node->MemberAsText(name);
      } catch (const rb::EVariantError&) {
      }
    }
  }
  for (int32_t i = 0; i < node->ItemCount(); ++i)
    Walk(node->ItemAt(i), depth + 1);
  (void)node->ItemAt(node->ItemCount());  // one past the end gives none
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  rb::TKXJSONPtr root = rb::TKXJSONStreamer::ReadText(text);
  Walk(root.get(), 0);
  return 0;
}
