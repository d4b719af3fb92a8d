// The blob compression binding of TvrDataset: every blob stream the dataset
// hands out is the client library's, wrapped in a TCBlobStream when the field
// is one of the compressible binary types and the stream reads, or writes with
// compression wanted for that field.

#include <memory>

#include "blob/cblob_stream.h"
#include "db/dataset.h"

namespace tersify {

bool TvrDataset::IsCompressibleField(const TField* field) { return IsCompressibleFieldType(field->DataType()); }

bool TvrDataset::IsCompressibleFieldType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob:
      return true;
    default:
      return false;
  }
}

void TvrDataset::GetCompressionOptions(TField* field, bool& compressed, TvrCompressionAlgorithm& algorithm,
                                       TvrCompressionLevel& level) {
  compressed = tersify_;
  algorithm = compression_alg_;
  level = compression_level_;
  if (OnGetCompressionOptions) OnGetCompressionOptions(field, compressed, algorithm, level);
}

std::unique_ptr<TStream> TvrDataset::OpenBlobStream(TField* field, TBlobStreamMode mode) {
  bool compressed = false;
  TvrCompressionAlgorithm algorithm = caZLIB;
  TvrCompressionLevel level = clNormal;
  // Every call, every mode, every field type: the event fires once per stream.
  GetCompressionOptions(field, compressed, algorithm, level);

  const bool wrapped = IsCompressibleField(field) && (mode == TBlobStreamMode::bmRead || compressed);
  const bool write_mode = mode == TBlobStreamMode::bmWrite;
  // A compressed write that cannot be made is refused before the client's
  // write stream exists: that stream replaces the field's value when it goes,
  // also when nothing was written to it.
  if (wrapped && write_mode && compressed) TCBlobStream::CheckCompressionAlg(algorithm);

  std::unique_ptr<TStream> client = TCustomMSDataSet::CreateBlobStream(field, mode);
  if (!wrapped) return client;

  // The wrapper owns the client stream from here on, also when its
  // constructor fails, so the client stream is released exactly once.
  auto wrapper = std::make_unique<TCBlobStream>(std::move(client), write_mode);
  if (write_mode) {
    // Nothing was written yet and the algorithm was checked above: none of
    // these raises.
    wrapper->SetCompressed(compressed);
    wrapper->SetCompressionAlg(algorithm);
    wrapper->SetCompressionLevel(level);
  }
  return wrapper;
}

std::unique_ptr<TStream> TvrDataset::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return OpenBlobStream(field, mode);
}

}  // namespace tersify
