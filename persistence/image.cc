#include "persistence/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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
bool write_image(const container_registry& registry, image_writer& out) {
  out.put_bytes(image_format::magic.data(), image_format::magic_size);
  out.put_bytes(&image_format::version, image_format::version_size);
  uint64_t left = registry.occupied_count();
  out.put_u64(left);
  for (uint64_t slot = 0; left != 0 && slot < container_registry::capacity; ++slot) {
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
bool read_record(container_registry& registry, image_reader& in) {
  uint64_t name_length = 0, slot = 0;
  if (!in.get_u64(name_length) || !in.can_hold(name_length, 1)) return false;
  std::string name(name_length, '\0');
  if (!in.get_bytes(name.data(), name_length) || !in.get_u64(slot)) return false;
  if (slot >= container_registry::capacity || registry.container_at(slot) != nullptr ||
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
bool read_records(container_registry& registry, image_reader& in) {
  uint64_t count = 0;
  if (!in.get_u64(count) || count > container_registry::capacity ||
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

// The directory part of a path, with its final slash ("" for a bare name), and the rest.
void split_path(const std::string& path, std::string& directory, std::string& name) {
  const size_t slash = path.rfind('/');
  directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates a new temporary file beside the final name, hidden by a leading dot and unique through
// the process id, a counter and O_EXCL. Its mode is the one a plain create would give (0644 less
// the umask). Returns the descriptor and the name, or -1.
int create_temporary(const std::string& directory, const std::string& name, std::string& temp) {
  static std::atomic<uint64_t> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    // The name part is cut so that the suffix cannot push it past the file system's limit.
    temp = directory + "." + name.substr(0, 200) + ".partial-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes the whole image to an open file and syncs it; closes the file in every case.
bool write_and_sync(const container_registry& registry, int fd) {
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    return false;
  }
  std::setvbuf(file, nullptr, _IOFBF, stream_buffer_size);
  image_writer out(file);
  const bool written = write_image(registry, out) && std::fflush(file) == 0 && ::fsync(fd) == 0;
  return std::fclose(file) == 0 && written;
}

// Gives the temporary file the final name unless that name is taken. RENAME_NOREPLACE does it
// in one step; on a file system without it, link (which never replaces either) and unlink.
// Sets `exists` when the final name is taken.
bool move_into_place(const std::string& temp, const std::string& path, bool& exists) {
  int moved = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
  if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
    moved = ::link(temp.c_str(), path.c_str());
    if (moved == 0) ::unlink(temp.c_str());
  }
  exists = moved != 0 && errno == EEXIST;
  return moved == 0;
}

// Makes the new directory entry durable. Best effort: the image itself is already synced, and a
// directory we cannot open for reading still holds it.
void sync_directory(const std::string& directory) {
  const int fd =
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

// The name is checked first so that a backup onto an existing file (or a dangling link) is
// refused before any work; the move at the end checks again, atomically, for a file that
// appeared while the image was written. The image goes to a hidden temporary file beside the
// final name, is synced, and only then takes that name, which is never replaced; the directory
// is synced after. A crash at any point leaves either no file at `path` or a complete, synced
// image (at worst a temporary "."-file beside it); any failure removes the temporary file.
bool save_image(const container_registry& registry, std::string_view path_text) {
  const std::string path(path_text);
  if (!can_name_file(path)) return false;
  struct stat st {};
  bool exists = ::fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  std::string directory, name, temp;
  split_path(path, directory, name);
  if (!exists && !name.empty()) {
    const int fd = create_temporary(directory, name, temp);
    if (fd >= 0 && write_and_sync(registry, fd) && move_into_place(temp, path, exists)) {
      sync_directory(directory);
      return true;
    }
    if (fd >= 0) ::unlink(temp.c_str());
  }
  if (exists) print_path_line("exists file named %.*s\n", path);
  return false;
}

// Magic and version are checked before anything changes; from the count on, the database has been
// cleared and any failure clears it again, so a failed restore always leaves it empty. A file too
// short to hold the magic and the version byte is reported like a wrong magic. Running out of
// memory while restoring (a hash capacity the factory refuses) is a failed restore too: the
// containers restored so far are destroyed and the database is left empty.
bool load_image(container_registry& registry, std::string_view path_text) {
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
