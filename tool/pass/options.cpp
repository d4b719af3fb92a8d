#include "tool/pass/options.h"

#include "framework/rtl/exception.h"

namespace tersify {

std::string KeyText(const Variant& key) {
  if (key.Type() != TVarType::Bytes) return key.AsString();
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (unsigned char c : key.RawString()) {
    text += kHex[c >> 4];
    text += kHex[c & 15];
  }
  return text;
}

std::string PassNotes(const TRecompressReport& report) {
  std::string notes;
  if (report.changed_rows > 0)
    notes += Format("%d rows were changed by another session during the pass and left as they are; "
                    "run the pass again to include them\n",
                    report.changed_rows);
  if (report.deleted_rows > 0)
    notes += Format("%d rows were deleted by another session during the pass; they are counted as "
                    "skipped\n",
                    report.deleted_rows);
  for (const std::string& key : report.unidentified_keys)
    notes += "The row with key '" + key +
             "' was left as it is: its key does not single out one row on this server; it is counted "
             "as skipped\n";
  if (report.null_key_rows > 0)
    notes += Format("%d rows have a NULL key and were left as they are; they are counted as skipped\n",
                    report.null_key_rows);
  return notes;
}

}  // namespace tersify
