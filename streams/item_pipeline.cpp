#include "streams/item_pipeline.h"

#include <memory>
#include <vector>

#include "archive/archive_paths.h"
#include "streams/file_stream.h"
#include "streams/resource_stream.h"

namespace vexa {

void CopyStream(TStream& Source, TStream& Target) {
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[CopyBufferSize]);
  std::int32_t n;
  do {
    n = Source.Read(buffer.get(), CopyBufferSize);
    if (Target.Write(buffer.get(), n) != n)
      throw EWriteError();
  } while (n != 0);
}

bool ExtractItem(const TResourceModule& Module, const std::string& ResName,
                 const std::string& TargetPath, const std::string& Password,
                 const TItemRecord& Item) {
  if (!IsSafeItemFileName(FileName(Item)))
    return false;
  (void)Password;
  TResourceStream resource(Module, ResName);
  TqvFileStream file(TargetPath, fmCreate);
  CopyStream(resource, file);
  return true;
}

} // namespace vexa
