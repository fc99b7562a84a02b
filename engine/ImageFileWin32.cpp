#include <windows.h>

#include "engine/ImageFile.h"
#include "serial/Win32Error.h"
#include "serial/Win32Text.h"

namespace irdload {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

ImageFile::~ImageFile() {
  Close();
}

bool ImageFile::Open(const std::string& path, std::string* error) {
  Close();
  const auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (path.empty()) return fail("no file name");
  // A folder opens only with backup semantics, so ask first for the plainer message.
  // Wide, so that a name in any script opens whatever the system's code page.
  const std::wstring wide = WideFromUtf8(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return fail(path + ": is a folder, not an upgrade file");
  }
  // Others may read the file meanwhile, nobody may change it.
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_SHARING_VIOLATION) {
      return fail(path + ": another program has the file open for writing");
    }
    return fail(path + ": " + WindowsErrorText(code));
  }
  // Devices (CON, COM1, a pipe) open by name too; only a file on a disk is an upgrade file.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    return fail(path + ": is not a regular file");
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

void ImageFile::Close() {
  if (isOpen()) ::CloseHandle(AsHandle(handle_));
  handle_ = kClosed;
}

std::size_t ImageFile::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), buffer + done, ask, &got, &at) || got == 0) break;
    done += got;
  }
  return done;
}

std::uint64_t ImageFile::Length() {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(AsHandle(handle_), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

std::unique_ptr<UpgradeFile> OpenUpgradeFile(const std::string& path, std::string* error) {
  auto file = std::make_unique<ImageFile>();
  if (!file->Open(path, error)) return nullptr;
  return file;
}

}  // namespace irdload
