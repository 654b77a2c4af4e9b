#include "library/photo_edit.hpp"

#include "base/files.hpp"
#include "base/uuid.hpp"
#include "library/imaging/decoding.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace tw::library {
namespace {

std::string Stem(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Copies the finished temporary file to `target` only if no file of that name exists; a partial
// copy is removed. Returns 0, EEXIST, or another errno.
int CopyExclusively(const std::string& temporary, const std::string& target, const std::string& bytes) {
  // A hard link is exclusive and atomic; file systems without links (camera cards) get a copy.
  if (link(temporary.c_str(), target.c_str()) == 0) return 0;
  if (errno == EEXIST) return EEXIST;
  int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  size_t done = 0;
  int error = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (!error && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && !error) error = errno;
  if (error) unlink(target.c_str());
  return error;
}

}  // namespace

EditRequest ReadEditRequest(const Json& body) {
  EditRequest request;
  request.path = StringField(body, "path");
  request.token = StringField(body, "token");
  request.date = StringField(body, "date");
  Json crop = ObjectField(body, "crop");
  request.x = NumberField(crop, "x").value_or(0);
  request.y = NumberField(crop, "y").value_or(0);
  request.w = NumberField(crop, "w").value_or(0);
  request.h = NumberField(crop, "h").value_or(0);
  double turns = NumberField(body, "turns").value_or(0);
  // Only the count modulo 4 matters; keep it in range before converting.
  request.turns = std::isfinite(turns) ? static_cast<long>(std::fmod(std::trunc(turns), 4.0)) : 0;
  return request;
}

NumberedWrite WriteNumberedJPEG(const std::string& folder, const std::string& stem, const std::string& bytes) {
  NumberedWrite result;
  const std::string temporary = JoinPath(folder, ".tide-edit-" + NewUUIDString() + ".jpg");
  // The system's text for a failed temporary write names no cause the user can act on; the
  // folder's permissions and free space are what to check.
  if (WriteFileAtomically(temporary, bytes)) {
    result.error = kEditSaveFailed;
    return result;
  }
  for (long n = 1; n <= 9999; ++n) {
    std::string target = JoinPath(folder, fmt::format("{}（{}）.jpg", stem, n));
    if (PathExists(target)) continue;
    int error = CopyExclusively(temporary, target, bytes);
    if (error == 0) {
      result.path = target;
      break;
    }
    if (error == EEXIST) continue;  // made in the meantime: the next number
    result.error = std::strerror(error);
    break;
  }
  if (result.path.empty() && result.error.empty()) result.error = kEditSaveFailed;
  unlink(temporary.c_str());
  return result;
}

Json SaveEditedPhoto(const EditRequest& request, const std::string& folder, bool lens) {
  auto fail = [&](const std::string& message) { return Json{{"token", request.token}, {"error", message}}; };
  imaging::MaybeImage edited;
  if (auto full = imaging::CreateFullEditImage(request.path, lens)) {
    edited = imaging::CreateEditedImage(*full, request.turns, request.x, request.y, request.w, request.h);
  }
  if (!edited) return fail(kEditUndecodable);

  auto bytes = imaging::EncodeJPEG(*edited, kEditQuality);
  if (!bytes) return fail(kEditSaveFailed);
  NumberedWrite written = WriteNumberedJPEG(folder, Stem(LastPathComponent(request.path)), *bytes);
  if (written.path.empty()) return fail(written.error);

  Json photo = {{"id", NewUUIDString()},
                {"name", LastPathComponent(written.path)},
                {"path", written.path},
                {"format", "JPG"},
                {"size", StatPath(written.path).size},
                {"thumbnail", imaging::ImagePreviewDataURL(written.path)},
                {"width", edited->width()},
                {"height", edited->height()},
                {"date", request.date},
                {"sourcePath", request.path}};
  return {{"token", request.token}, {"photo", std::move(photo)}};
}

}  // namespace tw::library
