#include "persistence/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "containers/factory.h"
#include "persistence/image_format.h"

namespace qn::db::nosql {
namespace {

// Both directions go through stdio with a large buffer: the image is a stream of small items.
constexpr size_t stream_buffer_size = size_t{1} << 20;

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Prints one console line whose only argument is the path, printed by its length and bytes.
void print_path_line(const char* format, std::string_view path) {
  std::printf(format, static_cast<int>(path.size()), path.data());
  std::fflush(stdout);
}

// A path with a zero byte (possible in a quoted token) names no file: the system would cut it
// short and open some other file.
bool can_name_file(const std::string& path) { return path.find('\0') == std::string::npos; }

// ---- writing ----

// Writes the header and every record in ascending slot id. A `save` that answers false leaves a
// record nobody could read back, so it fails the whole backup.
bool write_image(const Registry& registry, image_writer& out) {
  out.put_bytes(image_format::magic.data(), image_format::magic_size);
  out.put_bytes(&image_format::version, image_format::version_size);
  uint64_t left = registry.occupied_count();
  out.put_u64(left);
  for (uint64_t slot = 0; left != 0 && slot < Registry::capacity; ++slot) {
    ab_adt* container = registry.container_at(slot);
    if (container == nullptr) continue;
    --left;
    out.put_text(registry.find_by_id(slot));
    out.put_u64(slot);
    if (!container->save(out) || !out.ok()) return false;
  }
  return out.ok();
}

// ---- reading ----

// Reads one record and places its container under the saved slot id and name. Everything is
// checked before it is used: the name must fit in what is left of the file, the slot id must be
// below the capacity and still free (two records with one id are corrupt), the name unused.
bool read_record(Registry& registry, image_reader& in) {
  uint64_t name_length = 0, slot = 0;
  if (!in.get_u64(name_length) || !in.can_hold(name_length, 1)) return false;
  std::string name(name_length, '\0');
  if (!in.get_bytes(name.data(), name_length) || !in.get_u64(slot)) return false;
  if (slot >= Registry::capacity || registry.container_at(slot) != nullptr ||
      !registry.can_place(name)) {
    return false;
  }
  // The container reads its own part: kind name, descriptors, what its kind keeps before the
  // payload, and the payload. One that cannot take its contents back fails the restore.
  std::unique_ptr<ab_adt> container = nosql_db::load_container(in);
  if (container == nullptr) return false;
  registry.reserve_front(slot);
  uint64_t placed = 0;
  return registry.place_new(std::move(container), name, placed) && placed == slot;
}

// Reads the count and the records. The count must fit both the registry and what is left of the
// file, so a corrupt count fails at once instead of after a long run of failing reads. Bytes after
// the last record fail the restore too: they mean the count or a record length is wrong, and we
// would rather refuse the image than silently drop containers.
bool read_records(Registry& registry, image_reader& in) {
  uint64_t count = 0;
  if (!in.get_u64(count) || count > Registry::capacity ||
      !in.can_hold(count, image_format::min_record_size)) {
    return false;
  }
  for (uint64_t i = 0; i < count; ++i) {
    if (!read_record(registry, in)) return false;
  }
  return in.ok() && in.remaining() == 0;
}

// Opens an existing regular file for reading and tells its size. Opening without blocking and
// checking the type first keeps a FIFO or a device from hanging or feeding the restore.
file_ptr open_image(const std::string& path, uint64_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      ::fcntl(fd, F_SETFL, 0) != 0) {
    ::close(fd);
    return nullptr;
  }
  file_ptr file(::fdopen(fd, "rb"));
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  std::setvbuf(file.get(), nullptr, _IOFBF, stream_buffer_size);
  size = static_cast<uint64_t>(st.st_size);
  return file;
}

}  // namespace

// Creating the file exclusively (O_EXCL) is the existence test: it refuses every existing name,
// even one we may not read or a dangling link, and leaves no gap between a check and the create
// in which another writer could slip a file in. A backup that fails after the create (a failed
// write, disk full on write, flush, sync or close, a `save` that fails) removes the file again, so
// no half image is left behind looking like a good one. The image is synced before we answer true.
bool save_image(const Registry& registry, std::string_view path_text) {
  const std::string path(path_text);
  if (!can_name_file(path)) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) print_path_line("exists file named %.*s\n", path);
    return false;
  }
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  std::setvbuf(file, nullptr, _IOFBF, stream_buffer_size);
  image_writer out(file);
  bool written = write_image(registry, out) && std::fflush(file) == 0 && ::fsync(fd) == 0;
  written = std::fclose(file) == 0 && written;
  if (!written) ::unlink(path.c_str());
  return written;
}

// Magic and version are checked before anything changes; from the count on, the database has been
// cleared and any failure clears it again, so a failed restore always leaves it empty. A file too
// short to hold the magic and the version byte is reported like a wrong magic. Running out of
// memory while restoring (a hash capacity the factory refuses) is a failed restore too: the
// containers restored so far are destroyed and the database is left empty.
bool load_image(Registry& registry, std::string_view path_text) {
  const std::string path(path_text);
  uint64_t size = 0;
  const file_ptr file = can_name_file(path) ? open_image(path, size) : nullptr;
  if (file == nullptr) {
    print_path_line("not exists file named %.*s\n", path);
    return false;
  }
  image_reader in(file.get(), size);
  char magic[image_format::magic_size];
  uint8_t version = 0;
  if (!in.get_bytes(magic, image_format::magic_size) ||
      std::string_view(magic, image_format::magic_size) != image_format::magic ||
      !in.get_bytes(&version, image_format::version_size)) {
    print_path_line("the file '%.*s' is not normative zor's struct database binary file!\n", path);
    return false;
  }
  if (version != image_format::version) {
    print_path_line("the zor's struct database binary file '%.*s' is unsupport verion!\n", path);
    return false;
  }
  registry.clear_all();
  bool restored = false;
  try {
    restored = read_records(registry, in);
  } catch (const std::bad_alloc&) {
    restored = false;
  }
  if (!restored) registry.clear_all();
  return restored;
}

}  // namespace qn::db::nosql
