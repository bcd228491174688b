// The typed value reader on arbitrary bytes: values are read one after another, each by the
// reader call its tag asks for, until EReadError ends the stream.
#include <cstdint>
#include <string>

#include "recordset/TXFiler.h"
#include "util/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the buffer size, so that values straddle buffer refills.
  if (size == 0) return 0;
  const int32_t buffer_size = 1 + data[0] % 32;
  rb::TMemoryStream stream(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  try {
    rb::TXReader reader(stream, buffer_size);
    if (size > 5 && data[1] == 'T') reader.ReadSignature();
    int32_t flags = 0;
    int32_t child_position = 0;
    reader.ReadPrefix(flags, child_position);
    for (int round = 0; round < 100000; ++round) {
      switch (reader.NextValue()) {
        case rb::vaInt8:
        case rb::vaInt16:
        case rb::vaInt32:
          (void)reader.ReadInteger();
          break;
        case rb::vaInt64:
          (void)reader.ReadInt64();
          break;
        case rb::vaExtended:
          (void)reader.ReadFloat();
          break;
        case rb::vaString:
        case rb::vaLString:
          (void)reader.ReadString();
          break;
        case rb::vaWString:
        case rb::vaUTF8String:
          if (round % 2 == 0) {
            (void)reader.ReadWideString();
          } else {
            (void)reader.ReadString();
          }
          break;
        case rb::vaFalse:
        case rb::vaTrue:
          (void)reader.ReadBoolean();
          break;
        case rb::vaList:
          reader.ReadListBegin();
          break;
        case rb::vaNull:
          reader.ReadListEnd();
          break;
        case rb::vaIdent:
          (void)reader.ReadValue();
          (void)reader.ReadShortName();
          break;
        default:
          reader.SkipValue();
          break;
      }
    }
  } catch (const rb::EReadError&) {
  }
  return 0;
}
