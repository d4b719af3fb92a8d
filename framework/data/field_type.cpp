#include "framework/data/field_type.h"

namespace tersify {

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {
      "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",  "ftWord",        "ftBoolean",
      "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",     "ftTime",        "ftDateTime",
      "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",     "ftMemo",        "ftGraphic",
      "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",   "ftFixedChar",
      "ftWideString", "ftLargeint",   "ftADT",      "ftArray",    "ftReference",   "ftDataSet",
      "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface", "ftIDispatch",  "ftGuid",
      "ftTimeStamp",  "ftFMTBcd",     "ftFixedWideChar", "ftWideMemo",
  };
  const auto index = static_cast<unsigned>(type);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "ftUnknown";
}

}  // namespace tersify
