// A host file mapped read-only into memory rather than copied: a whole-registry export runs to
// tens of megabytes, and a copy costs a zero-filled buffer of that size on top of the read.
#ifndef UNINST_TOOLS_FORMATS_MAPPEDFILE_H
#define UNINST_TOOLS_FORMATS_MAPPEDFILE_H

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace formats {

class MappedFile {
 public:
  explicit MappedFile(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      m_why = std::strerror(errno);
      return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      m_why = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
      m_why = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a plain file";
    } else {
      m_size = static_cast<size_t>(info.st_size);
      void *pData = m_size == 0 ? nullptr : ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
      m_fOpen = pData != MAP_FAILED;
      m_why = m_fOpen ? "" : std::strerror(errno);
      m_pData = m_fOpen ? pData : nullptr;
    }
    ::close(fd);
  }
  ~MappedFile() {
    if (m_pData != nullptr)
      ::munmap(m_pData, m_size);
  }
  MappedFile(const MappedFile &) = delete;
  MappedFile &operator=(const MappedFile &) = delete;

  bool IsOpen() const {
    return m_fOpen;
  }
  /// Why it is not open: the system's reason, or that it is not a plain file.
  const std::string &Why() const {
    return m_why;
  }
  std::string_view Text() const {
    return m_pData ? std::string_view(static_cast<const char *>(m_pData), m_size) : std::string_view();
  }

 private:
  void *m_pData = nullptr;
  size_t m_size = 0;
  bool m_fOpen = false;
  std::string m_why;
};

}  // namespace formats

#endif
