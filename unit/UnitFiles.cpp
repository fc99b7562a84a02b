#include "unit/UnitFiles.h"

#include "engine/FileChoice.h"

namespace irdload::unit {
namespace {

// After the last dot of the file name, case-sensitive; a name without one counts as "uuc", as
// the file dialog completes it.
std::string Extension(const std::string& path) {
  return FileExtension(WithDefaultExtension(path));
}

}  // namespace

std::optional<Refusal> CheckUnitFiles(const std::vector<std::string>& files,
                                      std::vector<CheckedFile>& checked) {
  if (files.empty() || files.size() > 2) {
    return Refusal{"give one upgrade file (.uuc), or a pair (.u01 then .u02)", ""};
  }
  const std::string ext = Extension(files[0]);
  if (ext != "uuc" && ext != "u01") {
    return Refusal{"Invalid File", files[0] + ": the first file must end in .uuc or .u01"};
  }
  if (ext == "uuc" && files.size() == 2) {
    return Refusal{"a single-file upgrade (.uuc) takes no second file", ""};
  }
  if (ext == "u01" && files.size() == 1) {
    return Refusal{"the first file of a pair (.u01) needs its second file (.u02)", ""};
  }
  if (files.size() == 2 && Extension(files[1]) != "u02") {
    return Refusal{"Invalid Second File", files[1] + ": the second file must end in .u02"};
  }
  ImageKind kind = IMAGE_NONE;
  for (const auto& path : files) {
    ImageFile file;
    std::string why;
    if (!file.Open(path, &why)) return Refusal{"Open Error!", why};
    CheckedFile c{path, InspectImage(file, kind)};
    if (!c.seen.loads()) return Refusal{c.seen.refusal, path};
    kind = c.seen.kindAfterLoad;
    checked.push_back(std::move(c));
  }
  const std::optional<std::uint32_t> secondType =
      checked.size() > 1 ? std::optional(checked[1].seen.typeCode) : std::nullopt;
  return CheckChoiceTypes(checked[0].path, checked[0].seen.typeCode,
                          checked.size() > 1 ? checked[1].path : "", secondType);
}

}  // namespace irdload::unit
